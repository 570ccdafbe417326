// The WAV/MIDI recogniser against a table of good and broken blocks.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "sound/wav_format.h"

namespace sound {
namespace {

using Bytes = std::vector<std::uint8_t>;

void Put16(Bytes& b, std::uint16_t v) {
  b.push_back(static_cast<std::uint8_t>(v));
  b.push_back(static_cast<std::uint8_t>(v >> 8));
}
void Put32(Bytes& b, std::uint32_t v) {
  Put16(b, static_cast<std::uint16_t>(v));
  Put16(b, static_cast<std::uint16_t>(v >> 16));
}
void PutTag(Bytes& b, const char* tag) { b.insert(b.end(), tag, tag + 4); }

Bytes Chunk(const char* id, const Bytes& body) {
  Bytes b;
  PutTag(b, id);
  Put32(b, static_cast<std::uint32_t>(body.size()));
  b.insert(b.end(), body.begin(), body.end());
  if (body.size() % 2 == 1) b.push_back(0);
  return b;
}

Bytes Riff(const std::vector<Bytes>& chunks) {
  Bytes b;
  PutTag(b, "RIFF");
  Put32(b, 0);
  PutTag(b, "WAVE");
  for (const Bytes& c : chunks) b.insert(b.end(), c.begin(), c.end());
  const auto size = static_cast<std::uint32_t>(b.size() - 8);
  std::memcpy(b.data() + 4, &size, 4);  // little-endian host
  return b;
}

Bytes Fmt(std::uint16_t tag, std::uint16_t channels, std::uint32_t rate,
          std::uint16_t block_align, std::uint16_t bits) {
  Bytes b;
  Put16(b, tag);
  Put16(b, channels);
  Put32(b, rate);
  Put32(b, rate * block_align);
  Put16(b, block_align);
  Put16(b, bits);
  return b;
}

Bytes FmtPcm(std::uint16_t channels, std::uint32_t rate, std::uint16_t bits) {
  return Fmt(format_tag::kPcm, channels, rate, static_cast<std::uint16_t>(channels * bits / 8),
             bits);
}

const std::int16_t kStandardPairs[7][2] = {{256, 0},   {512, -256}, {0, 0},     {192, 64},
                                           {240, 0},   {460, -208}, {392, -232}};

Bytes FmtMsAdpcm(std::uint16_t channels, std::uint16_t block_align,
                 std::uint16_t coefficient_count = 7) {
  Bytes b = Fmt(format_tag::kMsAdpcm, channels, 22050, block_align, 4);
  Put16(b, static_cast<std::uint16_t>(4 + 4 * coefficient_count));  // extra size
  Put16(b, static_cast<std::uint16_t>((block_align - 7 * channels) * 8 / (4 * channels) + 2));
  Put16(b, coefficient_count);
  for (std::uint16_t i = 0; i < coefficient_count; ++i) {
    Put16(b, static_cast<std::uint16_t>(kStandardPairs[i % 7][0]));
    Put16(b, static_cast<std::uint16_t>(kStandardPairs[i % 7][1]));
  }
  return b;
}

Bytes FmtIma(std::uint16_t channels, std::uint16_t block_align) {
  Bytes b = Fmt(format_tag::kImaAdpcm, channels, 8000, block_align, 4);
  Put16(b, 2);
  Put16(b, static_cast<std::uint16_t>((block_align - 4 * channels) * 8 / (4 * channels) + 1));
  return b;
}

Bytes FmtExtensible(std::uint16_t channels, std::uint16_t bits, std::uint32_t subformat) {
  Bytes b = Fmt(format_tag::kExtensible, channels, 48000,
                static_cast<std::uint16_t>(channels * bits / 8), bits);
  Put16(b, 22);
  Put16(b, bits);  // valid bits
  Put32(b, channels == 1 ? 4 : 3);
  Put32(b, subformat);
  const std::uint8_t tail[12] = {0x00, 0x00, 0x10, 0x00, 0x80, 0x00,
                                 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
  b.insert(b.end(), tail, tail + 12);
  return b;
}

Bytes Fact(std::uint32_t frames) {
  Bytes b;
  Put32(b, frames);
  return b;
}

Bytes Filled(std::size_t n, std::uint8_t value = 0x11) { return Bytes(n, value); }

Bytes With16(Bytes b, std::size_t at, std::uint16_t v) {
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
  return b;
}
Bytes With32(Bytes b, std::size_t at, std::uint32_t v) {
  return With16(With16(std::move(b), at, static_cast<std::uint16_t>(v)), at + 2,
                static_cast<std::uint16_t>(v >> 16));
}
Bytes Cut(Bytes b, std::size_t n) {
  b.resize(b.size() - n);
  return b;
}
// Drops the pad byte after an odd-sized last chunk, RIFF size included.
Bytes DropPad(Bytes b) {
  b.pop_back();
  const auto riff_size = static_cast<std::uint32_t>(b.size() - 8);
  return With32(std::move(b), 4, riff_size);
}
Bytes Append(Bytes b, const Bytes& tail) {
  b.insert(b.end(), tail.begin(), tail.end());
  return b;
}

Bytes Midi(std::uint32_t length, std::uint16_t format, std::uint16_t tracks) {
  Bytes b;
  PutTag(b, "MThd");
  for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<std::uint8_t>(length >> s));
  b.push_back(static_cast<std::uint8_t>(format >> 8));
  b.push_back(static_cast<std::uint8_t>(format));
  b.push_back(static_cast<std::uint8_t>(tracks >> 8));
  b.push_back(static_cast<std::uint8_t>(tracks));
  b.push_back(0x01);
  b.push_back(0xE0);  // 480 ticks per quarter note
  PutTag(b, "MTrk");
  Put32(b, 0);
  return b;
}

// The header sox writes for a mono 22050 Hz MS ADPCM file, with fact chunk,
// followed by its 3584-byte data (filled here).
Bytes SoxMsAdpcm() {
  static constexpr std::uint8_t kHeader[] = {
      0x52, 0x49, 0x46, 0x46, 0x52, 0x0e, 0x00, 0x00, 0x57, 0x41, 0x56, 0x45, 0x66, 0x6d, 0x74,
      0x20, 0x32, 0x00, 0x00, 0x00, 0x02, 0x00, 0x01, 0x00, 0x22, 0x56, 0x00, 0x00, 0x94, 0x2b,
      0x00, 0x00, 0x00, 0x02, 0x04, 0x00, 0x20, 0x00, 0xf4, 0x03, 0x07, 0x00, 0x00, 0x01, 0x00,
      0x00, 0x00, 0x02, 0x00, 0xff, 0x00, 0x00, 0x00, 0x00, 0xc0, 0x00, 0x40, 0x00, 0xf0, 0x00,
      0x00, 0x00, 0xcc, 0x01, 0x30, 0xff, 0x88, 0x01, 0x18, 0xff, 0x66, 0x61, 0x63, 0x74, 0x04,
      0x00, 0x00, 0x00, 0xd7, 0x19, 0x00, 0x00, 0x64, 0x61, 0x74, 0x61, 0x00, 0x0e, 0x00, 0x00};
  Bytes b(sizeof kHeader + 0x0e00, 0x22);
  std::memcpy(b.data(), kHeader, sizeof kHeader);
  return b;
}

// Offsets inside an MS ADPCM block built as Riff({Chunk("fmt ", FmtMsAdpcm(..)), ...}).
constexpr std::size_t kFmt = 20;  // start of the fmt body
constexpr std::size_t kCoefficients = kFmt + 22;

const Bytes kPcmData = Filled(400);

struct Case {
  std::string name;
  Bytes block;
  BlockKind kind;
  Refusal refusal;
};

std::vector<Case> Cases() {
  const Bytes adpcm = Riff({Chunk("fmt ", FmtMsAdpcm(1, 256)), Chunk("data", Filled(600))});
  const Bytes pcm = Riff({Chunk("fmt ", FmtPcm(1, 44100, 16)), Chunk("data", kPcmData)});
  const BlockKind W = BlockKind::kWav, M = BlockKind::kMidi, R = BlockKind::kRefused;
  using F = Refusal;
  std::mt19937 random(7);
  Bytes noise(1000);
  for (auto& byte : noise) byte = static_cast<std::uint8_t>(random());

  return {
      // Accepted.
      {"Pcm16Mono", pcm, W, F::kNone},
      {"Pcm8Stereo", Riff({Chunk("fmt ", FmtPcm(2, 8000, 8)), Chunk("data", Filled(10))}), W,
       F::kNone},
      {"Float32", Riff({Chunk("fmt ", Fmt(format_tag::kFloat, 2, 48000, 8, 32)),
                        Chunk("data", Filled(64))}), W, F::kNone},
      {"MuLaw", Riff({Chunk("fmt ", Fmt(format_tag::kMuLaw, 1, 8000, 1, 8)),
                      Chunk("fact", Fact(5)), Chunk("data", Filled(5))}), W, F::kNone},
      {"Extensible24", Riff({Chunk("fmt ", FmtExtensible(1, 24, format_tag::kPcm)),
                             Chunk("data", Filled(30))}), W, F::kNone},
      {"SoxMsAdpcmWithFact", SoxMsAdpcm(), W, F::kNone},
      {"MsAdpcmNoFact", adpcm, W, F::kNone},
      {"MsAdpcmStereo", Riff({Chunk("fmt ", FmtMsAdpcm(2, 512)), Chunk("data", Filled(512))}),
       W, F::kNone},
      {"MsAdpcmEightPairs", Riff({Chunk("fmt ", FmtMsAdpcm(1, 256, 8)),
                                  Chunk("data", Filled(256))}), W, F::kNone},
      {"MsAdpcmPartialLastBlock", Riff({Chunk("fmt ", FmtMsAdpcm(1, 256)),
                                        Chunk("data", Filled(256 + 7))}), W, F::kNone},
      {"ImaAdpcm", Riff({Chunk("fmt ", FmtIma(1, 256)), Chunk("data", Filled(256))}), W,
       F::kNone},
      {"OtherChunksAround", Riff({Chunk("LIST", Filled(5)), Chunk("fmt ", FmtPcm(1, 8000, 16)),
                                  Chunk("cue ", Filled(3)), Chunk("data", Filled(8)),
                                  Chunk("smpl", Filled(12))}), W, F::kNone},
      {"OddDataWithoutPad", DropPad(Riff({Chunk("fmt ", FmtPcm(1, 8000, 8)),
                                          Chunk("data", Filled(3))})), W, F::kNone},
      {"BytesAfterRiffForm", Append(pcm, Filled(9)), W, F::kNone},

      // MIDI: recognised, and refused by the player.
      {"Midi", Midi(6, 1, 2), M, F::kNone},
      {"MidiHeaderLength7", Midi(7, 1, 2), R, F::kBadMidiHeader},
      {"MidiFormat3", Midi(6, 3, 1), R, F::kBadMidiHeader},
      {"MidiNoTracks", Midi(6, 1, 0), R, F::kBadMidiHeader},
      {"MidiTruncated", Cut(Midi(6, 0, 1), 12), R, F::kTruncated},

      // Not a sound file, or cut short.
      {"Empty", {}, R, F::kEmpty},
      {"ThreeBytes", {'R', 'I', 'F'}, R, F::kNotRecognised},
      {"RandomBytes", noise, R, F::kNotRecognised},
      {"RiffHeaderOnly", Cut(pcm, pcm.size() - 8), R, F::kTruncated},
      {"RiffNotWave", With32(pcm, 8, 0x20495641 /* "AVI " */), R, F::kNotRecognised},
      {"RiffSizeTooSmall", With32(pcm, 4, 3), R, F::kTruncated},
      {"TruncatedFile", Cut(pcm, 10), R, F::kRiffSizePastEnd},
      {"RiffSizePastEnd", With32(pcm, 4, 0xFFFFFFFF), R, F::kRiffSizePastEnd},
      {"DataSizePastEnd", With32(pcm, 40, 401), R, F::kChunkPastEnd},
      {"ChunkSizeHuge", With32(pcm, 16, 0xFFFFFFF0), R, F::kChunkPastEnd},
      {"PartialChunkHeaderAtEnd", Riff({Chunk("fmt ", FmtPcm(1, 8000, 16)),
                                        Chunk("data", Filled(8)), Bytes{'L', 'I', 'S', 'T'}}),
       R, F::kChunkPastEnd},

      // Chunk structure.
      {"NoFmt", Riff({Chunk("data", Filled(8))}), R, F::kNoFmt},
      {"DataBeforeFmt", Riff({Chunk("data", Filled(8)), Chunk("fmt ", FmtPcm(1, 8000, 16))}), R,
       F::kNoFmt},
      {"TwoFmt", Riff({Chunk("fmt ", FmtPcm(1, 8000, 16)), Chunk("fmt ", FmtPcm(1, 8000, 16)),
                       Chunk("data", Filled(8))}), R, F::kDuplicateChunk},
      {"TwoData", Riff({Chunk("fmt ", FmtPcm(1, 8000, 16)), Chunk("data", Filled(8)),
                        Chunk("data", Filled(8))}), R, F::kDuplicateChunk},
      {"NoData", Riff({Chunk("fmt ", FmtPcm(1, 8000, 16)), Chunk("LIST", Filled(4))}), R,
       F::kNoData},
      {"EmptyData", Riff({Chunk("fmt ", FmtPcm(1, 8000, 16)), Chunk("data", {})}), R,
       F::kDataTooShort},
      {"DataShorterThanFrame", Riff({Chunk("fmt ", FmtPcm(2, 8000, 16)),
                                     Chunk("data", Filled(3))}), R, F::kDataTooShort},
      {"AdpcmDataShorterThanOneBlock", Riff({Chunk("fmt ", FmtMsAdpcm(1, 256)),
                                             Chunk("data", Filled(255))}), R,
       F::kDataTooShort},
      {"FactTooShort", Riff({Chunk("fmt ", FmtPcm(1, 8000, 16)), Chunk("fact", Filled(2)),
                             Chunk("data", Filled(8))}), R, F::kBadFact},

      // fmt fields.
      {"FmtTooShort", Riff({Chunk("fmt ", Cut(FmtPcm(1, 8000, 16), 2)),
                            Chunk("data", Filled(8))}), R, F::kFmtTooShort},
      {"Mp3Tag", With16(pcm, kFmt, 0x0055), R, F::kUnsupportedFormat},
      {"ZeroTag", With16(pcm, kFmt, 0), R, F::kUnsupportedFormat},
      {"NoChannels", With16(pcm, kFmt + 2, 0), R, F::kBadChannels},
      {"ThreeChannels", With16(pcm, kFmt + 2, 3), R, F::kBadChannels},
      {"ZeroRate", With32(pcm, kFmt + 4, 0), R, F::kBadSampleRate},
      {"RateTooHigh", With32(pcm, kFmt + 4, 1000000), R, F::kBadSampleRate},
      {"ZeroBlockAlign", With16(pcm, kFmt + 12, 0), R, F::kBadBlockAlign},
      {"PcmBlockAlignMismatch", With16(pcm, kFmt + 12, 4), R, F::kBadBlockAlign},
      {"Pcm12Bits", With16(pcm, kFmt + 14, 12), R, F::kBadBitsPerSample},
      {"ExtensibleUnknownGuid", Riff({Chunk("fmt ", FmtExtensible(1, 16, 0x0055)),
                                      Chunk("data", Filled(8))}), R, F::kUnsupportedFormat},
      {"ExtensibleTooShort", Riff({Chunk("fmt ", Cut(FmtExtensible(1, 16, 1), 4)),
                                   Chunk("data", Filled(8))}), R, F::kFmtTooShort},

      // MS ADPCM fields.
      {"AdpcmExtraSize30", With16(adpcm, kFmt + 16, 30), R, F::kBadAdpcmExtra},
      {"AdpcmNoExtra", Riff({Chunk("fmt ", Fmt(format_tag::kMsAdpcm, 1, 22050, 256, 4)),
                             Chunk("data", Filled(256))}), R, F::kBadAdpcmExtra},
      {"AdpcmBits8", With16(adpcm, kFmt + 14, 8), R, F::kBadBitsPerSample},
      {"AdpcmBlockAlignBelowHeader", With16(adpcm, kFmt + 12, 6), R, F::kBadBlockAlign},
      {"AdpcmSamplesPerBlockWrong", With16(adpcm, kFmt + 18, 499), R, F::kBadSamplesPerBlock},
      {"AdpcmBlockAlignChangedAlone", With16(adpcm, kFmt + 12, 512), R,
       F::kBadSamplesPerBlock},
      {"AdpcmSixPairs", With16(adpcm, kFmt + 20, 6), R, F::kBadAdpcmCoefficients},
      {"AdpcmTableBeyondChunk", With16(adpcm, kFmt + 20, 9), R, F::kBadAdpcmCoefficients},
      {"AdpcmSecondPairWrong", With16(adpcm, kCoefficients + 4, 500), R,
       F::kBadAdpcmCoefficients},
      {"AdpcmSeventhPairWrong", With16(adpcm, kCoefficients + 26, 0), R,
       F::kBadAdpcmCoefficients},

      // IMA ADPCM fields.
      {"ImaSamplesPerBlockWrong", With16(Riff({Chunk("fmt ", FmtIma(1, 256)),
                                               Chunk("data", Filled(256))}), kFmt + 18, 504),
       R, F::kBadSamplesPerBlock},
      {"ImaBlockAlignOdd", Riff({Chunk("fmt ", FmtIma(1, 255)), Chunk("data", Filled(256))}), R,
       F::kBadBlockAlign},
  };
}

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class RecogniseBlockTest : public testing::TestWithParam<Case> {};

TEST_P(RecogniseBlockTest, KindAndReason) {
  const Case& c = GetParam();
  const BlockInfo info = RecogniseBlock(c.block);
  EXPECT_EQ(info.kind, c.kind);
  EXPECT_EQ(info.refusal, c.refusal)
      << "got \"" << Describe(info.refusal) << "\", want \"" << Describe(c.refusal) << "\"";
  if (info.kind == BlockKind::kWav) {
    EXPECT_GT(info.wav.data_size, 0u);
    EXPECT_LE(info.wav.data_offset + info.wav.data_size, info.wav.riff_end);
    EXPECT_LE(info.wav.riff_end, c.block.size());
  }
}

INSTANTIATE_TEST_SUITE_P(Table, RecogniseBlockTest, testing::ValuesIn(Cases()),
                         [](const testing::TestParamInfo<Case>& p) { return p.param.name; });

TEST(RecogniseBlock, DescribesSoxMsAdpcm) {
  const BlockInfo info = RecogniseBlock(SoxMsAdpcm());
  ASSERT_EQ(info.kind, BlockKind::kWav);
  const WavFormat& w = info.wav;
  EXPECT_EQ(w.format_tag, format_tag::kMsAdpcm);
  EXPECT_EQ(w.channels, 1);
  EXPECT_EQ(w.sample_rate, 22050u);
  EXPECT_EQ(w.block_align, 512);
  EXPECT_EQ(w.samples_per_block, 1012);
  EXPECT_TRUE(w.has_fact);
  EXPECT_EQ(w.fact_frames, 6615u);
  EXPECT_EQ(w.data_offset, 90u);
  EXPECT_EQ(w.data_size, 3584u);
  EXPECT_EQ(w.riff_end, 90u + 3584u);
}

TEST(RecogniseBlock, FindsDataAmongOtherChunksAndIgnoresBytesAfterTheForm) {
  const Bytes block = Append(Riff({Chunk("LIST", Filled(5)), Chunk("fmt ", FmtPcm(2, 8000, 16)),
                                   Chunk("data", Filled(12))}),
                             Filled(7));
  const BlockInfo info = RecogniseBlock(block);
  ASSERT_EQ(info.kind, BlockKind::kWav);
  EXPECT_EQ(info.wav.data_offset, 12u + 14u + 24u + 8u);
  EXPECT_EQ(info.wav.data_size, 12u);
  EXPECT_EQ(info.wav.riff_end, block.size() - 7);
  EXPECT_FALSE(info.wav.has_fact);
}

TEST(RecogniseBlock, ExtensibleReportsItsSubformat) {
  const BlockInfo info =
      RecogniseBlock(Riff({Chunk("fmt ", FmtExtensible(2, 32, format_tag::kFloat)),
                           Chunk("data", Filled(8))}));
  ASSERT_EQ(info.kind, BlockKind::kWav);
  EXPECT_TRUE(info.wav.extensible);
  EXPECT_EQ(info.wav.format_tag, format_tag::kFloat);
}

// Every prefix and many corrupted copies of a good file: either refused or
// described with its data inside the block; never out of bounds (run under
// a sanitizer to see reads).
TEST(RecogniseBlock, PrefixesAndCorruptionsStayInsideTheBlock) {
  const Bytes good = Riff({Chunk("LIST", Filled(3)), Chunk("fmt ", FmtMsAdpcm(2, 512)),
                           Chunk("fact", Fact(100)), Chunk("data", Filled(600))});
  auto check = [](const Bytes& block) {
    const Bytes copy = block;  // exact-size heap buffer
    const BlockInfo info = RecogniseBlock(copy);
    if (info.kind == BlockKind::kWav) {
      EXPECT_LE(info.wav.data_offset + info.wav.data_size, copy.size());
      EXPECT_GT(info.wav.data_size, 0u);
    } else if (info.kind == BlockKind::kRefused) {
      EXPECT_NE(info.refusal, Refusal::kNone);
    }
  };
  std::size_t accepted_prefixes = 0;
  for (std::size_t n = 0; n <= good.size(); ++n) {
    const Bytes prefix(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n));
    check(prefix);
    accepted_prefixes += RecogniseBlock(prefix).kind == BlockKind::kWav;
  }
  EXPECT_EQ(accepted_prefixes, 1u);  // only the whole file
  std::mt19937 random(1);
  for (int i = 0; i < 20000; ++i) {
    Bytes corrupted = good;
    for (int flips = 1 + static_cast<int>(random() % 4); flips > 0; --flips) {
      corrupted[random() % corrupted.size()] = static_cast<std::uint8_t>(random());
    }
    check(corrupted);
  }
}

}  // namespace
}  // namespace sound
