#include "sound/wav_format.h"

#include <array>
#include <cstring>

namespace sound {
namespace {

constexpr std::uint32_t kMinSampleRate = 1000;
constexpr std::uint32_t kMaxSampleRate = 384000;
constexpr std::uint16_t kMaxChannels = 2;
constexpr std::uint16_t kMaxAdpcmCoefficients = 256;

// The seven predictor pairs every MS ADPCM decoder has built in.
constexpr std::array<std::array<std::int16_t, 2>, 7> kMsAdpcmCoefficients = {{
    {256, 0}, {512, -256}, {0, 0}, {192, 64}, {240, 0}, {460, -208}, {392, -232},
}};

// Tail shared by the extensible-format subformat GUIDs; the first four bytes
// carry the plain format tag.
constexpr std::array<std::uint8_t, 12> kGuidTail = {
    0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

class Reader {
 public:
  explicit Reader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  std::uint16_t U16(std::size_t at) const {
    return static_cast<std::uint16_t>(bytes_[at] | (bytes_[at + 1] << 8));
  }
  std::int16_t S16(std::size_t at) const { return static_cast<std::int16_t>(U16(at)); }
  std::uint32_t U32(std::size_t at) const {
    return static_cast<std::uint32_t>(bytes_[at]) |
           (static_cast<std::uint32_t>(bytes_[at + 1]) << 8) |
           (static_cast<std::uint32_t>(bytes_[at + 2]) << 16) |
           (static_cast<std::uint32_t>(bytes_[at + 3]) << 24);
  }
  std::uint16_t U16BigEndian(std::size_t at) const {
    return static_cast<std::uint16_t>((bytes_[at] << 8) | bytes_[at + 1]);
  }
  std::uint32_t U32BigEndian(std::size_t at) const {
    return (static_cast<std::uint32_t>(bytes_[at]) << 24) |
           (static_cast<std::uint32_t>(bytes_[at + 1]) << 16) |
           (static_cast<std::uint32_t>(bytes_[at + 2]) << 8) |
           static_cast<std::uint32_t>(bytes_[at + 3]);
  }
  bool Tag(std::size_t at, const char (&tag)[5]) const {
    return std::memcmp(bytes_.data() + at, tag, 4) == 0;
  }

 private:
  std::span<const std::uint8_t> bytes_;
};

BlockInfo Refuse(Refusal refusal) {
  BlockInfo info;
  info.kind = BlockKind::kRefused;
  info.refusal = refusal;
  return info;
}

BlockInfo RecogniseMidi(std::span<const std::uint8_t> block) {
  // "MThd", a 4-byte big-endian length of 6, format, tracks, division.
  if (block.size() < 14) return Refuse(Refusal::kTruncated);
  const Reader r(block);
  if (r.U32BigEndian(4) != 6) return Refuse(Refusal::kBadMidiHeader);
  MidiHeader midi;
  midi.format = r.U16BigEndian(8);
  midi.tracks = r.U16BigEndian(10);
  midi.division = r.U16BigEndian(12);
  if (midi.format > 2 || midi.tracks == 0 || midi.division == 0 ||
      (midi.format == 0 && midi.tracks != 1)) {
    return Refuse(Refusal::kBadMidiHeader);
  }
  BlockInfo info;
  info.kind = BlockKind::kMidi;
  info.refusal = Refusal::kNone;
  info.midi = midi;
  return info;
}

// Checks the "fmt " chunk body and fills `wav`; returns the refusal, if any.
Refusal ReadFmt(std::span<const std::uint8_t> fmt, WavFormat& wav) {
  if (fmt.size() < 16) return Refusal::kFmtTooShort;
  const Reader r(fmt);
  std::uint16_t tag = r.U16(0);
  wav.channels = r.U16(2);
  wav.sample_rate = r.U32(4);
  wav.block_align = r.U16(12);
  wav.bits_per_sample = r.U16(14);
  const std::uint16_t ch = wav.channels;
  const bool has_extra_size = fmt.size() >= 18;
  const std::uint16_t extra_size = has_extra_size ? r.U16(16) : 0;

  if (tag == format_tag::kExtensible) {
    // Extra size 22: valid bits, channel mask, subformat GUID.
    if (fmt.size() < 40 || extra_size < 22) return Refusal::kFmtTooShort;
    const std::uint32_t sub = r.U32(24);
    if (std::memcmp(fmt.data() + 28, kGuidTail.data(), kGuidTail.size()) != 0 ||
        (sub != format_tag::kPcm && sub != format_tag::kFloat)) {
      return Refusal::kUnsupportedFormat;
    }
    const std::uint16_t valid_bits = r.U16(18);
    if (valid_bits > wav.bits_per_sample) return Refusal::kBadBitsPerSample;
    tag = static_cast<std::uint16_t>(sub);
    wav.extensible = true;
  }
  wav.format_tag = tag;

  switch (tag) {
    case format_tag::kPcm:
    case format_tag::kFloat:
    case format_tag::kALaw:
    case format_tag::kMuLaw:
    case format_tag::kMsAdpcm:
    case format_tag::kImaAdpcm:
      break;
    default:
      return Refusal::kUnsupportedFormat;
  }
  if (ch < 1 || ch > kMaxChannels) return Refusal::kBadChannels;
  if (wav.sample_rate < kMinSampleRate || wav.sample_rate > kMaxSampleRate) {
    return Refusal::kBadSampleRate;
  }
  if (wav.block_align == 0) return Refusal::kBadBlockAlign;

  switch (tag) {
    case format_tag::kPcm:
    case format_tag::kFloat: {
      const std::uint16_t bits = wav.bits_per_sample;
      const bool ok = tag == format_tag::kPcm
                          ? (bits == 8 || bits == 16 || bits == 24 || bits == 32)
                          : (bits == 32 || bits == 64);
      if (!ok) return Refusal::kBadBitsPerSample;
      if (wav.block_align != ch * (bits / 8)) return Refusal::kBadBlockAlign;
      return Refusal::kNone;
    }
    case format_tag::kALaw:
    case format_tag::kMuLaw:
      if (wav.bits_per_sample != 8) return Refusal::kBadBitsPerSample;
      if (wav.block_align != ch) return Refusal::kBadBlockAlign;
      return Refusal::kNone;
    case format_tag::kImaAdpcm: {
      if (wav.bits_per_sample != 4) return Refusal::kBadBitsPerSample;
      if (fmt.size() < 20 || extra_size < 2) return Refusal::kBadAdpcmExtra;
      // Per channel: a 4-byte header, then 4-byte groups of 8 samples.
      const unsigned header = 4u * ch;
      if (wav.block_align <= header || (wav.block_align - header) % (4u * ch) != 0) {
        return Refusal::kBadBlockAlign;
      }
      wav.samples_per_block = r.U16(18);
      if (wav.samples_per_block != (wav.block_align - header) * 8u / (4u * ch) + 1u) {
        return Refusal::kBadSamplesPerBlock;
      }
      return Refusal::kNone;
    }
    case format_tag::kMsAdpcm: {
      if (wav.bits_per_sample != 4) return Refusal::kBadBitsPerSample;
      // Extra: samples per block, coefficient count, the pairs.
      if (fmt.size() < 22 || extra_size < 32) return Refusal::kBadAdpcmExtra;
      const unsigned header = 7u * ch;
      if (wav.block_align < header) return Refusal::kBadBlockAlign;
      wav.samples_per_block = r.U16(18);
      if (wav.samples_per_block != (wav.block_align - header) * 8u / (4u * ch) + 2u) {
        return Refusal::kBadSamplesPerBlock;
      }
      const std::uint16_t count = r.U16(20);
      if (count < kMsAdpcmCoefficients.size() || count > kMaxAdpcmCoefficients) {
        return Refusal::kBadAdpcmCoefficients;
      }
      const std::size_t table_end = 22u + 4u * count;
      if (table_end > fmt.size() || table_end > 18u + extra_size) {
        return Refusal::kBadAdpcmCoefficients;
      }
      for (std::size_t i = 0; i < kMsAdpcmCoefficients.size(); ++i) {
        if (r.S16(22 + 4 * i) != kMsAdpcmCoefficients[i][0] ||
            r.S16(24 + 4 * i) != kMsAdpcmCoefficients[i][1]) {
          return Refusal::kBadAdpcmCoefficients;
        }
      }
      return Refusal::kNone;
    }
    default:
      return Refusal::kUnsupportedFormat;
  }
}

BlockInfo RecogniseWav(std::span<const std::uint8_t> block) {
  const Reader r(block);
  if (!r.Tag(8, "WAVE")) return Refuse(Refusal::kNotRecognised);
  const std::uint64_t riff_end = 8ull + r.U32(4);
  if (riff_end > block.size()) return Refuse(Refusal::kRiffSizePastEnd);
  if (riff_end < 12) return Refuse(Refusal::kTruncated);
  const std::size_t end = static_cast<std::size_t>(riff_end);

  WavFormat wav;
  wav.riff_end = end;
  bool have_fmt = false;
  bool have_data = false;
  std::size_t at = 12;
  while (at < end) {
    if (end - at < 8) return Refuse(Refusal::kChunkPastEnd);
    const std::uint32_t size = r.U32(at + 4);
    const std::size_t body = at + 8;
    if (size > end - body) return Refuse(Refusal::kChunkPastEnd);
    const auto chunk = block.subspan(body, size);

    if (r.Tag(at, "fmt ")) {
      if (have_fmt) return Refuse(Refusal::kDuplicateChunk);
      if (have_data) return Refuse(Refusal::kNoFmt);
      have_fmt = true;
      if (const Refusal refusal = ReadFmt(chunk, wav); refusal != Refusal::kNone) {
        return Refuse(refusal);
      }
    } else if (r.Tag(at, "data")) {
      if (have_data) return Refuse(Refusal::kDuplicateChunk);
      if (!have_fmt) return Refuse(Refusal::kNoFmt);
      have_data = true;
      wav.data_offset = body;
      wav.data_size = size;
    } else if (r.Tag(at, "fact")) {
      if (size < 4 || wav.has_fact) return Refuse(Refusal::kBadFact);
      wav.has_fact = true;
      wav.fact_frames = r.U32(body);
    }
    // The pad byte of an odd-sized last chunk may be missing.
    const std::size_t next = body + size + (size & 1u);
    if (next >= end) break;
    at = next;
  }

  if (!have_fmt) return Refuse(Refusal::kNoFmt);
  if (!have_data) return Refuse(Refusal::kNoData);
  if (wav.data_size == 0 || wav.data_size < wav.block_align) {
    return Refuse(Refusal::kDataTooShort);
  }
  BlockInfo info;
  info.kind = BlockKind::kWav;
  info.refusal = Refusal::kNone;
  info.wav = wav;
  return info;
}

}  // namespace

const char* Describe(Refusal refusal) {
  switch (refusal) {
    case Refusal::kNone: return "accepted";
    case Refusal::kEmpty: return "empty block";
    case Refusal::kNotRecognised: return "neither a WAV nor a MIDI file";
    case Refusal::kTruncated: return "shorter than its header";
    case Refusal::kRiffSizePastEnd: return "RIFF size past the end of the block";
    case Refusal::kChunkPastEnd: return "chunk past the end of the RIFF form";
    case Refusal::kDuplicateChunk: return "second fmt or data chunk";
    case Refusal::kNoFmt: return "no fmt chunk before the data";
    case Refusal::kFmtTooShort: return "fmt chunk too short";
    case Refusal::kUnsupportedFormat: return "format not supported";
    case Refusal::kBadChannels: return "channel count out of range";
    case Refusal::kBadSampleRate: return "sample rate out of range";
    case Refusal::kBadBitsPerSample: return "bits per sample wrong for the format";
    case Refusal::kBadBlockAlign: return "block align wrong for the format";
    case Refusal::kBadAdpcmExtra: return "ADPCM fields missing";
    case Refusal::kBadSamplesPerBlock: return "samples per block disagree with block align";
    case Refusal::kBadAdpcmCoefficients: return "bad MS ADPCM coefficient table";
    case Refusal::kBadFact: return "bad fact chunk";
    case Refusal::kNoData: return "no data chunk";
    case Refusal::kDataTooShort: return "data chunk shorter than one frame or block";
    case Refusal::kBadMidiHeader: return "bad MIDI header";
  }
  return "unknown";
}

BlockInfo RecogniseBlock(std::span<const std::uint8_t> block) {
  if (block.empty()) return Refuse(Refusal::kEmpty);
  if (block.size() >= 4) {
    const Reader r(block);
    if (r.Tag(0, "MThd")) return RecogniseMidi(block);
    if (r.Tag(0, "RIFF")) {
      if (block.size() < 12) return Refuse(Refusal::kTruncated);
      return RecogniseWav(block);
    }
  }
  return Refuse(Refusal::kNotRecognised);
}

}  // namespace sound
