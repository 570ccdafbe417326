#pragma once
// The sound player: plays complete sound files held in memory.
//
// Contract, for every backend (sound_player_pulse.cpp, sound_player_win32.cpp):
// - PlaySound returns at once. It yields true once a playback is set up and
//   false for a block it refuses. The sound itself is produced in the
//   background, one worker thread and one output stream per playback, each
//   with its own copy of the samples, so requests overlap and each plays to
//   its end. The caller's bytes are not used after the call.
// - Accepted blocks: a WAV file ("RIFF" at 0, "WAVE" at 8, a "fmt " chunk and
//   a non-empty "data" chunk, every size inside the block) in any format the
//   decoder knows, MS ADPCM included, with or without a "fact" chunk
//   (sound/wav_format.h lists the formats and rules). Standard MIDI files are
//   not played yet: they yield false, as does every other block.
// - Without an audio output device (no sound server reachable) the request
//   is silent and yields false at once; the caller need do nothing about it.
// - StopAllSounds cuts every playback off and returns once every worker
//   thread has ended. Called from the user-interface thread only.
// - Both functions are called on the user-interface thread only.

#include <cstdint>
#include <span>

namespace sound {

// Starts one playback of `file`. With `loop`, the clip repeats until
// StopAllSounds.
bool PlaySound(std::span<const std::uint8_t> file, bool loop = false);

// Stops every playback and waits for each worker thread to end.
void StopAllSounds();

}  // namespace sound
