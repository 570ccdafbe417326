// The sound player on PulseAudio: each playback decodes its clip with
// libsndfile into 16-bit samples, opens its own pa_simple stream on the
// calling thread (so a missing server is known at once), and hands both to
// its own worker thread, which writes 10 ms chunks, waits until the last one
// is heard and closes the stream. Small chunks keep StopAllSounds short: a
// worker sees its stop flag at the latest when its current write returns.

#include <pulse/simple.h>
#include <sndfile.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <list>
#include <memory>
#include <new>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "sound/sound_player.h"
#include "sound/wav_format.h"

namespace sound {
namespace {

// The stream keeps up to this much written ahead: enough that a busy
// machine does not starve it mid-chime (50 ms dropped out under load).
// Playback still starts after the first chunk, so the first sound is no
// later for it.
constexpr unsigned kTargetLatencyMs = 200;
constexpr unsigned kChunkMs = 10;
// How often a worker waiting for its last chunk to be heard looks at its
// stop flag.
constexpr auto kStopPollInterval = std::chrono::milliseconds(5);

struct Clip {
  std::vector<std::int16_t> samples;  // interleaved
  unsigned channels = 0;
  unsigned sample_rate = 0;
};

// libsndfile reads the caller's bytes through these callbacks.
struct MemoryFile {
  std::span<const std::uint8_t> bytes;
  sf_count_t position = 0;
};

sf_count_t MemoryLength(void* user) {
  return static_cast<sf_count_t>(static_cast<MemoryFile*>(user)->bytes.size());
}

sf_count_t MemorySeek(sf_count_t offset, int whence, void* user) {
  auto* file = static_cast<MemoryFile*>(user);
  const auto size = static_cast<sf_count_t>(file->bytes.size());
  sf_count_t target = offset;
  if (whence == SEEK_CUR) target += file->position;
  if (whence == SEEK_END) target += size;
  if (target < 0 || target > size) return -1;
  file->position = target;
  return target;
}

sf_count_t MemoryRead(void* destination, sf_count_t count, void* user) {
  auto* file = static_cast<MemoryFile*>(user);
  const auto size = static_cast<sf_count_t>(file->bytes.size());
  const sf_count_t n =
      std::clamp<sf_count_t>(size - file->position, 0, std::max<sf_count_t>(count, 0));
  if (n > 0) {
    std::memcpy(destination, file->bytes.data() + file->position, static_cast<std::size_t>(n));
  }
  file->position += n;
  return n;
}

sf_count_t MemoryWrite(const void*, sf_count_t, void*) { return 0; }

sf_count_t MemoryTell(void* user) { return static_cast<MemoryFile*>(user)->position; }

// Decodes the whole file; false if libsndfile cannot, or it yields nothing.
bool Decode(std::span<const std::uint8_t> file, const WavFormat& format, Clip& clip) {
  SF_VIRTUAL_IO io{MemoryLength, MemorySeek, MemoryRead, MemoryWrite, MemoryTell};
  MemoryFile memory{file.first(format.riff_end), 0};
  SF_INFO info{};
  SNDFILE* sf = sf_open_virtual(&io, SFM_READ, &info, &memory);
  if (sf == nullptr) return false;
  if (info.channels != format.channels ||
      static_cast<std::uint32_t>(info.samplerate) != format.sample_rate) {
    sf_close(sf);
    return false;
  }
  // Float data scaled to the full 16-bit range rather than clipped to +-1.
  sf_command(sf, SFC_SET_SCALE_FLOAT_INT_READ, nullptr, SF_TRUE);

  // Read until the decoder stops, not up to a frame count the header claims.
  constexpr sf_count_t kFramesPerRead = 4096;
  const auto channels = static_cast<std::size_t>(info.channels);
  std::vector<std::int16_t> samples;
  for (;;) {
    const std::size_t used = samples.size();
    samples.resize(used + kFramesPerRead * channels);
    const sf_count_t got = sf_readf_short(sf, samples.data() + used, kFramesPerRead);
    samples.resize(used + static_cast<std::size_t>(std::max<sf_count_t>(got, 0)) * channels);
    if (got < kFramesPerRead) break;
  }
  sf_close(sf);
  // The decoder yields whole ADPCM blocks; a fact chunk says how many frames
  // the clip really has, the rest being padding.
  const bool adpcm = format.format_tag == format_tag::kMsAdpcm ||
                     format.format_tag == format_tag::kImaAdpcm;
  if (adpcm && format.has_fact && format.fact_frames > 0 &&
      format.fact_frames < samples.size() / channels) {
    samples.resize(static_cast<std::size_t>(format.fact_frames) * channels);
  }
  if (samples.empty()) return false;
  samples.shrink_to_fit();
  clip.samples = std::move(samples);
  clip.channels = static_cast<unsigned>(channels);
  clip.sample_rate = format.sample_rate;
  return true;
}

pa_simple* OpenStream(const Clip& clip) {
  pa_sample_spec format{};
  format.format = PA_SAMPLE_S16NE;
  format.rate = clip.sample_rate;
  format.channels = static_cast<std::uint8_t>(clip.channels);
  const std::uint32_t frame_bytes = 2u * clip.channels;
  // Playback starts with the first chunk (prebuf), so neither the first
  // sound nor a clip shorter than the buffer waits for the buffer to fill.
  pa_buffer_attr attr{};
  attr.maxlength = static_cast<std::uint32_t>(-1);
  attr.tlength = clip.sample_rate * kTargetLatencyMs / 1000u * frame_bytes;
  attr.prebuf = clip.sample_rate * kChunkMs / 1000u * frame_bytes;
  attr.minreq = clip.sample_rate * kChunkMs / 1000u * frame_bytes;
  attr.fragsize = static_cast<std::uint32_t>(-1);
  int error = 0;
  return pa_simple_new(nullptr, "zorva", PA_STREAM_PLAYBACK, nullptr, "zorva", &format,
                       nullptr, &attr, &error);
}

struct Playback {
  std::atomic<bool> stop{false};
  std::atomic<bool> finished{false};
  std::thread worker;
};

// Waits until everything written has been heard, looking at the stop flag
// between short sleeps; true if it played out.
bool WaitUntilHeard(pa_simple* stream, const std::atomic<bool>& stop) {
  using Clock = std::chrono::steady_clock;
  int error = 0;
  pa_usec_t latency = pa_simple_get_latency(stream, &error);
  if (latency == static_cast<pa_usec_t>(-1)) latency = 0;
  const auto deadline = Clock::now() + std::chrono::microseconds(latency);
  for (auto now = Clock::now(); now < deadline; now = Clock::now()) {
    if (stop.load(std::memory_order_acquire)) return false;
    std::this_thread::sleep_for(std::min<Clock::duration>(kStopPollInterval, deadline - now));
  }
  if (stop.load(std::memory_order_acquire)) return false;
  // Whatever the estimate missed.
  return pa_simple_drain(stream, &error) >= 0;
}

void Play(pa_simple* stream, Clip clip, bool loop, Playback& playback) {
  const std::size_t chunk =
      std::max<std::size_t>(1, clip.sample_rate * kChunkMs / 1000u) * clip.channels;
  const std::vector<std::int16_t>& samples = clip.samples;
  const std::size_t total = samples.size();
  std::vector<std::int16_t> wrapped;  // a looping chunk that crosses the clip's end
  std::size_t position = 0;
  bool failed = false;
  while (!playback.stop.load(std::memory_order_acquire)) {
    const std::int16_t* data = samples.data() + position;
    std::size_t n = std::min(chunk, total - position);
    if (loop && n < chunk) {
      wrapped.resize(chunk);
      for (std::size_t filled = 0; filled < chunk;) {
        const std::size_t piece = std::min(chunk - filled, total - position);
        std::copy_n(samples.data() + position, piece, wrapped.data() + filled);
        filled += piece;
        position = (position + piece) % total;
      }
      data = wrapped.data();
      n = chunk;
    } else {
      if (n == 0) break;  // played once through
      position += n;
      if (loop) position %= total;
    }
    int error = 0;
    if (pa_simple_write(stream, data, n * sizeof(std::int16_t), &error) < 0) {
      failed = true;
      break;
    }
  }
  bool heard = false;
  if (!failed && !playback.stop.load(std::memory_order_acquire)) {
    heard = WaitUntilHeard(stream, playback.stop);
  }
  if (!heard && !failed) {
    int error = 0;
    pa_simple_flush(stream, &error);
  }
  pa_simple_free(stream);
  playback.finished.store(true, std::memory_order_release);
}

// Live playbacks. Finished ones are joined and dropped on every request and
// by StopAllSounds, so the list is never longer than the sounds playing.
// A program that ends with sounds playing stops them on the way out.
class Registry {
 public:
  ~Registry() {
    std::lock_guard lock(mutex_);
    StopAll();
  }

  std::mutex& mutex() { return mutex_; }

  void Add(std::unique_ptr<Playback> playback) { playbacks_.push_back(std::move(playback)); }

  void ReapFinished() {
    for (auto it = playbacks_.begin(); it != playbacks_.end();) {
      if ((*it)->finished.load(std::memory_order_acquire)) {
        (*it)->worker.join();
        it = playbacks_.erase(it);
      } else {
        ++it;
      }
    }
  }

  void StopAll() {
    for (auto& playback : playbacks_) playback->stop.store(true, std::memory_order_release);
    for (auto& playback : playbacks_) playback->worker.join();
    playbacks_.clear();
  }

 private:
  std::mutex mutex_;
  std::list<std::unique_ptr<Playback>> playbacks_;
};

Registry g_registry;

}  // namespace

bool PlaySound(std::span<const std::uint8_t> file, bool loop) {
  const BlockInfo info = RecogniseBlock(file);
  if (info.kind != BlockKind::kWav) return false;  // MIDI is not played yet
  Clip clip;
  try {
    if (!Decode(file, info.wav, clip)) return false;
  } catch (const std::bad_alloc&) {
    return false;  // a clip too large to hold decoded
  }

  std::lock_guard lock(g_registry.mutex());
  g_registry.ReapFinished();
  pa_simple* stream = OpenStream(clip);
  if (stream == nullptr) return false;  // no sound server: nothing plays
  auto playback = std::make_unique<Playback>();
  try {
    playback->worker = std::thread(Play, stream, std::move(clip), loop, std::ref(*playback));
  } catch (const std::system_error&) {
    pa_simple_free(stream);
    return false;
  }
  g_registry.Add(std::move(playback));
  return true;
}

void StopAllSounds() {
  std::lock_guard lock(g_registry.mutex());
  g_registry.StopAll();
}

}  // namespace sound
