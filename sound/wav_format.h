#pragma once
// Recognises a sound file held in memory: a WAV file the player can decode,
// a standard MIDI file (recognised so that it can be refused by name), or
// anything else (refused, with the reason).
//
// Rules for a WAV block:
// - "RIFF" at 0, "WAVE" at 8. The RIFF size may be smaller than the block
//   (bytes after the RIFF form are ignored) but never claim past its end.
// - Chunks are walked inside the RIFF form. Every chunk header and every
//   chunk body must lie inside it; only the pad byte after an odd-sized last
//   chunk may be missing.
// - Exactly one "fmt " chunk (at least 16 bytes) before exactly one "data"
//   chunk, which holds at least one block (a frame, or a whole ADPCM block:
//   the decoder drops a partial last block). A "fact" chunk, when present,
//   holds at least 4 bytes.
// - Format tags: PCM (8/16/24/32 bits), IEEE float (32/64), A-law and
//   mu-law (8), MS ADPCM and IMA ADPCM (4), and the extensible form of PCM
//   and float. 1 or 2 channels, 1000 to 384000 frames a second, block align
//   consistent with the rest.
// - MS ADPCM: extra size at least 32, samples per block
//   (block_align - 7*channels) * 8 / (4*channels) + 2, 7 to 256 coefficient
//   pairs inside the chunk, the first seven the standard ones.
// - IMA ADPCM: extra size at least 2, samples per block
//   (block_align - 4*channels) * 8 / (4*channels) + 1.
// The average-bytes-per-second field is not used for decoding and is not
// checked.

#include <cstddef>
#include <cstdint>
#include <span>

namespace sound {

enum class BlockKind { kWav, kMidi, kRefused };

enum class Refusal {
  kNone,
  kEmpty,
  kNotRecognised,       // neither RIFF/WAVE nor MIDI
  kTruncated,           // shorter than its own header
  kRiffSizePastEnd,
  kChunkPastEnd,        // a chunk header or body outside the RIFF form
  kDuplicateChunk,      // a second "fmt " or "data"
  kNoFmt,               // no "fmt " before "data", or none at all
  kFmtTooShort,
  kUnsupportedFormat,   // format tag (or extensible subformat) not decodable
  kBadChannels,
  kBadSampleRate,
  kBadBitsPerSample,
  kBadBlockAlign,
  kBadAdpcmExtra,       // ADPCM extra fields missing or too short
  kBadSamplesPerBlock,
  kBadAdpcmCoefficients,
  kBadFact,
  kNoData,
  kDataTooShort,        // empty, or shorter than one block
  kBadMidiHeader,
};

// Short English description of a refusal, for logs and test messages.
const char* Describe(Refusal refusal);

namespace format_tag {
inline constexpr std::uint16_t kPcm = 0x0001;
inline constexpr std::uint16_t kMsAdpcm = 0x0002;
inline constexpr std::uint16_t kFloat = 0x0003;
inline constexpr std::uint16_t kALaw = 0x0006;
inline constexpr std::uint16_t kMuLaw = 0x0007;
inline constexpr std::uint16_t kImaAdpcm = 0x0011;
inline constexpr std::uint16_t kExtensible = 0xFFFE;
}  // namespace format_tag

struct WavFormat {
  // The effective tag: for the extensible form, the subformat's (PCM or
  // float); `extensible` tells the two apart.
  std::uint16_t format_tag = 0;
  bool extensible = false;
  std::uint16_t channels = 0;
  std::uint32_t sample_rate = 0;
  std::uint16_t block_align = 0;
  std::uint16_t bits_per_sample = 0;
  std::uint16_t samples_per_block = 0;  // ADPCM only, else 0
  bool has_fact = false;
  std::uint32_t fact_frames = 0;
  std::size_t riff_end = 0;  // bytes of the block that form the file
  std::size_t data_offset = 0;
  std::size_t data_size = 0;
};

struct MidiHeader {
  std::uint16_t format = 0;  // 0, 1 or 2
  std::uint16_t tracks = 0;
  std::uint16_t division = 0;
};

struct BlockInfo {
  BlockKind kind = BlockKind::kRefused;
  Refusal refusal = Refusal::kNotRecognised;
  WavFormat wav;    // valid when kind == kWav
  MidiHeader midi;  // valid when kind == kMidi
};

BlockInfo RecogniseBlock(std::span<const std::uint8_t> block);

}  // namespace sound
