// Checks the committed asset files (pictures, chime, icon) against the forms
// that the window, the sound output and the system expect of them. The files
// are read from the source tree, where assets/make_assets.py wrote them.

#include <png.h>
#include <sndfile.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes ReadAsset(const std::string& name) {
  std::ifstream in(std::string(ZORVA_ASSETS_DIR) + "/" + name, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::uint32_t Be32(const Bytes& b, std::size_t at) {
  return std::uint32_t{b[at]} << 24 | std::uint32_t{b[at + 1]} << 16 |
         std::uint32_t{b[at + 2]} << 8 | b[at + 3];
}
std::uint16_t Le16(const Bytes& b, std::size_t at) {
  return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
}
std::int16_t Le16s(const Bytes& b, std::size_t at) {
  return static_cast<std::int16_t>(Le16(b, at));
}
std::uint32_t Le32(const Bytes& b, std::size_t at) {
  return std::uint32_t{Le16(b, at)} | std::uint32_t{Le16(b, at + 2)} << 16;
}
std::string Tag(const Bytes& b, std::size_t at) {
  return std::string(reinterpret_cast<const char*>(b.data() + at), 4);
}

std::uint32_t Crc32(const std::uint8_t* p, std::size_t n) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < n; ++i) {
    crc ^= p[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

// ------------------------------------------------------------- pictures

struct Rgb {
  int r, g, b;
  bool operator==(const Rgb&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Rgb& c) {
  return os << "(" << c.r << "," << c.g << "," << c.b << ")";
}

// Inclusive pixel bounds.
struct Box {
  int x0, y0, x1, y1;
  bool operator==(const Box&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Box& b) {
  return os << "x " << b.x0 << ".." << b.x1 << ", y " << b.y0 << ".." << b.y1;
}

// A picture decoded the way the program decodes it: libpng's simplified
// API into BGRA.
struct Picture {
  int width = 0;
  int height = 0;
  Bytes bgra;

  Rgb At(int x, int y) const {
    const std::uint8_t* p = &bgra[(static_cast<std::size_t>(y) * width + x) * 4];
    return {p[2], p[1], p[0]};
  }
  int Alpha(int x, int y) const {
    return bgra[(static_cast<std::size_t>(y) * width + x) * 4 + 3];
  }
  double Brightness(int x, int y) const {
    Rgb c = At(x, y);
    return (c.r + c.g + c.b) / 3.0;
  }
  double MeanBrightness(Box b) const {
    double sum = 0;
    for (int y = b.y0; y <= b.y1; ++y)
      for (int x = b.x0; x <= b.x1; ++x) sum += Brightness(x, y);
    return sum / ((b.x1 - b.x0 + 1) * (b.y1 - b.y0 + 1));
  }
  // Bounds of the near-white pixels (every channel >= 160) inside `window`.
  Box WhiteInk(Box window) const {
    Box ink{window.x1 + 1, window.y1 + 1, window.x0 - 1, window.y0 - 1};
    for (int y = window.y0; y <= window.y1; ++y)
      for (int x = window.x0; x <= window.x1; ++x) {
        Rgb c = At(x, y);
        if (std::min({c.r, c.g, c.b}) < 160) continue;
        ink = {std::min(ink.x0, x), std::min(ink.y0, y), std::max(ink.x1, x), std::max(ink.y1, y)};
      }
    return ink;
  }
};

Picture Decode(const Bytes& file) {
  Picture pic;
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, file.data(), file.size())) {
    ADD_FAILURE() << "libpng refused the picture: " << image.message;
    return pic;
  }
  image.format = PNG_FORMAT_BGRA;
  Bytes buffer(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, buffer.data(), 0, nullptr)) {
    ADD_FAILURE() << "libpng could not decode the picture: " << image.message;
    return pic;
  }
  pic.width = static_cast<int>(image.width);
  pic.height = static_cast<int>(image.height);
  pic.bgra = std::move(buffer);
  return pic;
}

constexpr int kWidth = 400;
constexpr int kHeight = 300;
constexpr Rgb kFrameLine{29, 29, 31};
constexpr Rgb kFrameBand{42, 41, 48};
constexpr Rgb kWhite{255, 255, 255};
// The window's two white text buttons stand on this band.
constexpr Box kButtons[] = {{127, 244, 222, 276}, {202, 244, 289, 276}};

class PictureTest : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    file_ = ReadAsset(GetParam());
    ASSERT_FALSE(file_.empty()) << "missing " << GetParam();
    pic_ = Decode(file_);
    ASSERT_EQ(pic_.width, kWidth);
    ASSERT_EQ(pic_.height, kHeight);
  }
  Bytes file_;
  Picture pic_;
};

TEST_P(PictureTest, EveryPixelIsOpaque) {
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) ASSERT_EQ(pic_.Alpha(x, y), 255) << x << "," << y;
}

TEST_P(PictureTest, FrameIsAOneLineRimAndASevenPixelBand) {
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      int ring = std::min({x, y, kWidth - 1 - x, kHeight - 1 - y});
      if (ring == 0) {
        ASSERT_EQ(pic_.At(x, y), kFrameLine) << x << "," << y;
      } else if (ring < 8) {
        ASSERT_EQ(pic_.At(x, y), kFrameBand) << x << "," << y;
      }
    }
}

TEST_P(PictureTest, ButtonsStandOnDarkPixels) {
  for (const Box& b : kButtons) EXPECT_LT(pic_.MeanBrightness(b), 20.0) << b;
}

TEST_P(PictureTest, TitleAndFooterFillTheirPlaces) {
  struct Case {
    const char* what;
    Box window;  // where to look
    Box expect;
    bool white;  // white letters, else light ones
  };
  const Case cases[] = {
      {"title", {8, 8, 391, 100}, {56, 49, 346, 83}, true},
      {"footer", {8, 262, 391, 291}, {51, 277, 335, 284}, false},
  };
  for (const Case& c : cases) {
    Box ink{c.window.x1 + 1, c.window.y1 + 1, c.window.x0 - 1, c.window.y0 - 1};
    if (c.white) {
      ink = pic_.WhiteInk(c.window);
    } else {
      for (int y = c.window.y0; y <= c.window.y1; ++y)
        for (int x = c.window.x0; x <= c.window.x1; ++x)
          if (pic_.Brightness(x, y) >= 80)
            ink = {std::min(ink.x0, x), std::min(ink.y0, y), std::max(ink.x1, x), std::max(ink.y1, y)};
    }
    EXPECT_NEAR(ink.x0, c.expect.x0, 1) << c.what << ": " << ink;
    EXPECT_NEAR(ink.y0, c.expect.y0, 1) << c.what << ": " << ink;
    EXPECT_NEAR(ink.x1, c.expect.x1, 1) << c.what << ": " << ink;
    EXPECT_NEAR(ink.y1, c.expect.y1, 1) << c.what << ": " << ink;
  }
}

// The chunks in order, each with a valid CRC, and the fixed contents of the
// header, resolution and chromaticity chunks.
TEST_P(PictureTest, ChunksAreExactlyTheExpectedOnes) {
  static const std::uint8_t kSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  ASSERT_GE(file_.size(), 8u);
  ASSERT_TRUE(std::equal(std::begin(kSignature), std::end(kSignature), file_.begin()));
  std::vector<std::string> kinds;
  std::size_t at = 8;
  while (at + 12 <= file_.size()) {
    std::uint32_t length = Be32(file_, at);
    ASSERT_LE(at + 12 + length, file_.size()) << "chunk past the end at " << at;
    std::string kind = Tag(file_, at + 4);
    EXPECT_EQ(Crc32(&file_[at + 4], length + 4), Be32(file_, at + 8 + length)) << kind;
    const std::size_t data = at + 8;
    if (kind == "IHDR") {
      ASSERT_EQ(length, 13u);
      EXPECT_EQ(Be32(file_, data), 400u);
      EXPECT_EQ(Be32(file_, data + 4), 300u);
      // Bit depth 8, colour type 2, compression, filter, no interlace.
      EXPECT_EQ(Bytes(file_.begin() + data + 8, file_.begin() + data + 13), (Bytes{8, 2, 0, 0, 0}));
    } else if (kind == "pHYs") {
      ASSERT_EQ(length, 9u);
      EXPECT_EQ(Be32(file_, data), 2835u);
      EXPECT_EQ(Be32(file_, data + 4), 2835u);
      EXPECT_EQ(file_[data + 8], 1);  // the metre
    } else if (kind == "cHRM") {
      ASSERT_EQ(length, 32u);
      const std::uint32_t srgb[] = {31270, 32900, 64000, 33000, 30000, 60000, 15000, 6000};
      for (int i = 0; i < 8; ++i) EXPECT_EQ(Be32(file_, data + 4 * i), srgb[i]) << "cHRM " << i;
    } else if (kind == "iCCP") {
      EXPECT_EQ(std::string(reinterpret_cast<const char*>(&file_[data])), "sRGB");
    }
    kinds.push_back(kind);
    at += 12 + length;
  }
  EXPECT_EQ(at, file_.size()) << "bytes after the last chunk";
  EXPECT_EQ(kinds, (std::vector<std::string>{"IHDR", "pHYs", "iCCP", "cHRM", "IDAT", "IEND"}));
}

// libpng accepts the colour profile (it drops one it finds broken) and the
// profile is an RGB display profile of the length its header states.
TEST_P(PictureTest, ColourProfileIsAcceptedByLibpng) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  ASSERT_NE(png, nullptr);
  png_infop info = png_create_info_struct(png);
  struct Reader {
    const Bytes* bytes;
    std::size_t at;
  } reader{&file_, 0};
  png_set_read_fn(png, &reader, [](png_structp p, png_bytep out, png_size_t n) {
    auto* r = static_cast<Reader*>(png_get_io_ptr(p));
    if (r->at + n > r->bytes->size()) png_error(p, "read past the end");
    std::memcpy(out, r->bytes->data() + r->at, n);
    r->at += n;
  });
  Bytes profile;
  std::string name;
  if (setjmp(png_jmpbuf(png)) == 0) {
    png_read_info(png, info);
    png_charp profile_name = nullptr;
    int compression = 0;
    png_bytep data = nullptr;
    png_uint_32 length = 0;
    if (png_get_iCCP(png, info, &profile_name, &compression, &data, &length) != 0) {
      name = profile_name;
      profile.assign(data, data + length);
    }
  } else {
    ADD_FAILURE() << "libpng failed reading the header chunks";
  }
  png_destroy_read_struct(&png, &info, nullptr);
  ASSERT_FALSE(profile.empty()) << "libpng kept no colour profile";
  EXPECT_EQ(name, "sRGB");
  ASSERT_GE(profile.size(), 132u);
  EXPECT_EQ(Be32(profile, 0), profile.size());
  EXPECT_EQ(Tag(profile, 12), "mntr");
  EXPECT_EQ(Tag(profile, 16), "RGB ");
  EXPECT_EQ(Tag(profile, 20), "XYZ ");
  EXPECT_EQ(Tag(profile, 36), "acsp");
}

INSTANTIATE_TEST_SUITE_P(Assets, PictureTest, ::testing::Values("background.png", "legend.png"),
                         [](const auto& info) {
                           std::string name = info.param;
                           return name.substr(0, name.find('.'));
                         });

// The white square behind each QR code: its whole outline is white (the
// code's quiet zone) and the pixels diagonally outside its corners are not.
TEST(QrSquare, SitsExactlyInItsPlace) {
  struct Case {
    const char* picture;
    Box square;
    int icon_x, icon_y;  // a point of the icon's gradient, left of the note
  };
  const Case cases[] = {
      {"background.png", {128, 108, 264, 244}, 186, 172},
      {"legend.png", {79, 134, 140, 195}, 105, 163},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.picture);
    Picture pic = Decode(ReadAsset(c.picture));
    ASSERT_EQ(pic.width, kWidth);
    const Box& s = c.square;
    for (int x = s.x0; x <= s.x1; ++x) {
      EXPECT_EQ(pic.At(x, s.y0), kWhite) << x << "," << s.y0;
      EXPECT_EQ(pic.At(x, s.y1), kWhite) << x << "," << s.y1;
    }
    for (int y = s.y0; y <= s.y1; ++y) {
      EXPECT_EQ(pic.At(s.x0, y), kWhite) << s.x0 << "," << y;
      EXPECT_EQ(pic.At(s.x1, y), kWhite) << s.x1 << "," << y;
    }
    const int corners[][2] = {{s.x0 - 1, s.y0 - 1}, {s.x1 + 1, s.y0 - 1}, {s.x0 - 1, s.y1 + 1}, {s.x1 + 1, s.y1 + 1}};
    for (const auto& p : corners) EXPECT_LT(pic.Brightness(p[0], p[1]), 200) << p[0] << "," << p[1];
    // The icon in the middle is coloured, not black and white.
    Rgb mid = pic.At(c.icon_x, c.icon_y);
    EXPECT_GT(std::max({mid.r, mid.g, mid.b}) - std::min({mid.r, mid.g, mid.b}), 60) << mid;
  }
}

// The legend names F9 and F10 with their descriptions, in white, each in
// its place; nothing else white stands in the rows' column.
TEST(LegendPicture, KeyTextsStandInTheirPlaces) {
  Picture pic = Decode(ReadAsset("legend.png"));
  ASSERT_EQ(pic.width, kWidth);
  struct Case {
    const char* text;
    Box window;
    Box expect;
    int right_slack;  // the right edge of "F9" follows from its letters
  };
  const Case cases[] = {
      {"F9", {150, 126, 215, 165}, {165, 136, 190, 151}, 3},
      {"F10", {150, 168, 215, 206}, {165, 178, 201, 193}, 1},
      {"next song", {216, 126, 340, 165}, {226, 134, 321, 153}, 1},
      {"stop", {216, 168, 340, 206}, {226, 176, 321, 195}, 1},
  };
  for (const Case& c : cases) {
    Box ink = pic.WhiteInk(c.window);
    EXPECT_NEAR(ink.x0, c.expect.x0, 1) << c.text << ": " << ink;
    EXPECT_NEAR(ink.y0, c.expect.y0, 1) << c.text << ": " << ink;
    EXPECT_NEAR(ink.x1, c.expect.x1, c.right_slack) << c.text << ": " << ink;
    EXPECT_NEAR(ink.y1, c.expect.y1, 1) << c.text << ": " << ink;
  }
  const Box empty[] = {{150, 100, 391, 125}, {150, 207, 391, 243}};
  for (const Box& b : empty) {
    Box ink = pic.WhiteInk(b);
    EXPECT_GT(ink.x0, ink.x1) << "white pixels at " << ink;
  }
}

// ------------------------------------------------------------- chime

TEST(Chime, HeaderIsTheMsAdpcmFormOfThePlayer) {
  Bytes wav = ReadAsset("chime.wav");
  ASSERT_EQ(wav.size(), 18519u);
  struct Field {
    std::size_t offset;
    int size;  // 2 or 4; 0 for a four-letter tag
    std::uint32_t value;
    const char* tag;
  };
  const Field fields[] = {
      {0, 0, 0, "RIFF"},   {4, 4, 18511, nullptr}, {8, 0, 0, "WAVE"},      {12, 0, 0, "fmt "},
      {16, 4, 50, nullptr},  // fmt chunk size
      {20, 2, 2, nullptr},     // MS ADPCM
      {22, 2, 1, nullptr},     // mono
      {24, 4, 22050, nullptr}, {28, 4, 11155, nullptr},                    // rate, bytes a second
      {32, 2, 512, nullptr},   {34, 2, 4, nullptr},                        // block align, bits
      {36, 2, 32, nullptr},    {38, 2, 1012, nullptr},  {40, 2, 7, nullptr},  // extra, samples a block, pairs
      {70, 0, 0, "data"},      {74, 4, 18441, nullptr},
  };
  for (const Field& f : fields) {
    if (f.size == 0) {
      EXPECT_EQ(Tag(wav, f.offset), f.tag) << "at " << f.offset;
    } else {
      EXPECT_EQ(f.size == 2 ? Le16(wav, f.offset) : Le32(wav, f.offset), f.value) << "at " << f.offset;
    }
  }
  const std::int16_t coefficients[7][2] = {{256, 0}, {512, -256}, {0, 0}, {192, 64},
                                           {240, 0}, {460, -208}, {392, -232}};
  for (int i = 0; i < 7; ++i) {
    EXPECT_EQ(Le16s(wav, 42 + 4 * i), coefficients[i][0]) << "pair " << i;
    EXPECT_EQ(Le16s(wav, 44 + 4 * i), coefficients[i][1]) << "pair " << i;
  }
}

TEST(Chime, HoldsExactlyTheFormatAndDataChunks) {
  Bytes wav = ReadAsset("chime.wav");
  ASSERT_GE(wav.size(), 12u);
  EXPECT_EQ(Le32(wav, 4), wav.size() - 8);
  std::vector<std::pair<std::string, std::uint32_t>> chunks;
  for (std::size_t at = 12; at + 8 <= wav.size();) {
    std::uint32_t size = Le32(wav, at + 4);
    chunks.emplace_back(Tag(wav, at), size);
    at += 8 + size + (size & 1);
  }
  using Chunks = std::vector<std::pair<std::string, std::uint32_t>>;
  EXPECT_EQ(chunks, (Chunks{{"fmt ", 50}, {"data", 18441}}));
  EXPECT_EQ(78u + 18441u, wav.size()) << "the data chunk ends the file";
}

// libsndfile, the player's decoder, reads the clip from memory: a sound that
// starts at once, stays below full scale and dies away to silence.
TEST(Chime, DecodesToASoundThatFadesToSilence) {
  Bytes wav = ReadAsset("chime.wav");
  struct Memory {
    const Bytes* bytes;
    sf_count_t at;
  } memory{&wav, 0};
  SF_VIRTUAL_IO io{};
  io.get_filelen = [](void* user) -> sf_count_t {
    return static_cast<sf_count_t>(static_cast<Memory*>(user)->bytes->size());
  };
  io.seek = [](sf_count_t offset, int whence, void* user) -> sf_count_t {
    auto* m = static_cast<Memory*>(user);
    const auto size = static_cast<sf_count_t>(m->bytes->size());
    sf_count_t to = whence == SEEK_SET ? offset : whence == SEEK_CUR ? m->at + offset : size + offset;
    m->at = std::clamp<sf_count_t>(to, 0, size);
    return m->at;
  };
  io.read = [](void* out, sf_count_t count, void* user) -> sf_count_t {
    auto* m = static_cast<Memory*>(user);
    const auto size = static_cast<sf_count_t>(m->bytes->size());
    sf_count_t n = std::min(count, size - m->at);
    std::memcpy(out, m->bytes->data() + m->at, static_cast<std::size_t>(n));
    m->at += n;
    return n;
  };
  io.write = [](const void*, sf_count_t, void*) -> sf_count_t { return 0; };
  io.tell = [](void* user) -> sf_count_t { return static_cast<Memory*>(user)->at; };
  SF_INFO info{};
  SNDFILE* file = sf_open_virtual(&io, SFM_READ, &info, &memory);
  ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
  EXPECT_EQ(info.format, SF_FORMAT_WAV | SF_FORMAT_MS_ADPCM);
  EXPECT_EQ(info.channels, 1);
  EXPECT_EQ(info.samplerate, 22050);
  // The short last block holds six silent samples that a reader may skip.
  EXPECT_GE(info.frames, 36 * 1012);
  std::vector<float> samples(static_cast<std::size_t>(info.frames));
  EXPECT_EQ(sf_readf_float(file, samples.data(), info.frames), info.frames);
  sf_close(file);

  auto peak = [&](double from_s, double to_s) {
    float p = 0;
    for (std::size_t i = static_cast<std::size_t>(from_s * 22050);
         i < std::min(samples.size(), static_cast<std::size_t>(to_s * 22050)); ++i)
      p = std::max(p, std::fabs(samples[i]));
    return p;
  };
  EXPECT_GT(peak(0.0, 0.05), 0.2f) << "sounds at once";
  EXPECT_LT(peak(0.0, 2.0), 0.9f) << "leaves headroom";
  EXPECT_GT(peak(0.6, 0.8), 0.01f) << "rings on";
  EXPECT_LT(peak(1.6, 2.0), 0.001f) << "ends in silence";
}

// ------------------------------------------------------------- icon

TEST(Icon, DirectoryAndBitmapHeaderDescribeOne128PixelImage) {
  Bytes ico = ReadAsset("zorva.ico");
  ASSERT_EQ(ico.size(), 22u + 67624u);
  struct Field {
    std::size_t offset;
    int size;
    std::uint32_t value;
    const char* what;
  };
  const Field fields[] = {
      {0, 2, 0, "reserved"},      {2, 2, 1, "type icon"},       {4, 2, 1, "count"},
      {6, 1, 128, "width"},       {7, 1, 128, "height"},        {8, 1, 0, "colour count"},
      {9, 1, 0, "reserved"},      {10, 2, 1, "planes"},         {12, 2, 32, "bit count"},
      {14, 4, 67624, "bytes"},    {18, 4, 22, "offset"},
      {22, 4, 40, "header size"}, {26, 4, 128, "bitmap width"}, {30, 4, 256, "image and mask height"},
      {34, 2, 1, "bitmap planes"}, {36, 2, 32, "bits per pixel"}, {38, 4, 0, "no compression"},
  };
  for (const Field& f : fields) {
    std::uint32_t v = f.size == 1 ? ico[f.offset] : f.size == 2 ? Le16(ico, f.offset) : Le32(ico, f.offset);
    EXPECT_EQ(v, f.value) << f.what;
  }
  std::uint32_t image_size = Le32(ico, 42);
  EXPECT_TRUE(image_size == 0 || image_size == 65536 + 2048) << image_size;
}

// Pixels of the 128x128 image, row 0 at the top, and its AND mask.
struct IconImage {
  Bytes ico;
  std::array<int, 4> Bgra(int x, int y) const {
    std::size_t at = 62 + (static_cast<std::size_t>(127 - y) * 128 + x) * 4;
    return {ico[at], ico[at + 1], ico[at + 2], ico[at + 3]};
  }
  bool Masked(int x, int y) const {
    std::size_t at = 62 + 65536 + static_cast<std::size_t>(127 - y) * 16 + x / 8;
    return (ico[at] >> (7 - x % 8)) & 1;
  }
};

TEST(Icon, RoundedCornersAreTransparentAndTheMaskAgrees) {
  IconImage icon{ReadAsset("zorva.ico")};
  ASSERT_EQ(icon.ico.size(), 22u + 67624u);
  const int corners[][2] = {{0, 0}, {127, 0}, {0, 127}, {127, 127}, {3, 3}, {124, 124}};
  for (const auto& p : corners) {
    EXPECT_EQ(icon.Bgra(p[0], p[1])[3], 0) << p[0] << "," << p[1];
    EXPECT_TRUE(icon.Masked(p[0], p[1])) << p[0] << "," << p[1];
  }
  const int inside[][2] = {{64, 64}, {64, 0}, {0, 64}, {127, 64}, {64, 127}};
  for (const auto& p : inside) {
    EXPECT_EQ(icon.Bgra(p[0], p[1])[3], 255) << p[0] << "," << p[1];
    EXPECT_FALSE(icon.Masked(p[0], p[1])) << p[0] << "," << p[1];
  }
  int partial = 0;
  for (int y = 0; y < 128; ++y)
    for (int x = 0; x < 128; ++x) {
      int alpha = icon.Bgra(x, y)[3];
      ASSERT_EQ(icon.Masked(x, y), alpha == 0) << x << "," << y;
      partial += alpha > 0 && alpha < 255;
    }
  EXPECT_GT(partial, 40) << "the arcs are anti-aliased through alpha";
}

// Pink-magenta at the top, violet at the bottom: the rows are stored
// bottom-up, so a flipped image shows here.
TEST(Icon, GradientRunsFromMagentaAtTheTopToVioletAtTheBottom) {
  IconImage icon{ReadAsset("zorva.ico")};
  ASSERT_EQ(icon.ico.size(), 22u + 67624u);
  struct Case {
    int x, y;
    Rgb expect;
  };
  const Case cases[] = {{64, 2, {212, 64, 190}}, {64, 125, {121, 60, 248}}};
  for (const Case& c : cases) {
    auto p = icon.Bgra(c.x, c.y);
    EXPECT_NEAR(p[2], c.expect.r, 6) << c.y;
    EXPECT_NEAR(p[1], c.expect.g, 6) << c.y;
    EXPECT_NEAR(p[0], c.expect.b, 6) << c.y;
  }
}

}  // namespace
