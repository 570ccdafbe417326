#include "toolkit/picture.h"

#include <png.h>

#include <algorithm>
#include <cstring>

namespace toolkit {

PictureFormat RecognisePicture(std::span<const std::uint8_t> b) {
  auto starts = [&](std::initializer_list<std::uint8_t> prefix) {
    return b.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), b.begin());
  };
  if (starts({0x89, 'P', 'N', 'G'})) return PictureFormat::kPng;
  if (starts({0xFF, 0xD8})) return PictureFormat::kJpeg;
  if (starts({'B', 'M'})) return PictureFormat::kBmp;
  if (starts({0, 0, 1, 0})) return PictureFormat::kIco;
  if (starts({0, 0, 2, 0})) return PictureFormat::kCur;
  if (starts({'G', 'I', 'F', '8'})) return PictureFormat::kGif;
  if (starts({0x0A}) && b.size() >= 128) return PictureFormat::kPcx;
  return PictureFormat::kUnknown;
}

Image DecodePicture(std::span<const std::uint8_t> bytes) {
  if (RecognisePicture(bytes) != PictureFormat::kPng) return {};
  png_image png;
  std::memset(&png, 0, sizeof png);
  png.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&png, bytes.data(), bytes.size())) return {};
  png.format = PNG_FORMAT_BGRA;
  // Refuse sizes that would not fit memory sensibly before allocating.
  if (png.width == 0 || png.height == 0 || png.width > 16384 || png.height > 16384) {
    png_image_free(&png);
    return {};
  }
  Image image;
  image.width = static_cast<int>(png.width);
  image.height = static_cast<int>(png.height);
  image.bgra.resize(PNG_IMAGE_SIZE(png));
  if (!png_image_finish_read(&png, nullptr, image.bgra.data(), 0, nullptr)) {
    png_image_free(&png);
    return {};
  }
  return image;
}

}  // namespace toolkit

namespace toolkit {
namespace {

std::uint32_t Read32(std::span<const std::uint8_t> b, std::size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}
std::uint16_t Read16(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
}

}  // namespace

Image DecodeIcon(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < 6 || Read16(bytes, 0) != 0 || Read16(bytes, 2) != 1) return {};
  const std::size_t count = Read16(bytes, 4);
  if (count == 0 || bytes.size() < 6 + count * 16) return {};
  // The entry with the most pixels; width and height 0 stand for 256.
  std::size_t best = 0;
  int best_size = -1;
  for (std::size_t i = 0; i < count; ++i) {
    const int width = bytes[6 + i * 16] == 0 ? 256 : bytes[6 + i * 16];
    if (width > best_size) {
      best_size = width;
      best = i;
    }
  }
  const std::size_t entry = 6 + best * 16;
  const std::uint32_t length = Read32(bytes, entry + 8);
  const std::uint32_t offset = Read32(bytes, entry + 12);
  if (offset > bytes.size() || length > bytes.size() - offset) return {};
  const auto image = bytes.subspan(offset, length);
  if (RecognisePicture(image) == PictureFormat::kPng) return DecodePicture(image);

  // A device-independent bitmap: header, BGRA rows bottom-up, AND mask.
  if (image.size() < 40 || Read32(image, 0) < 40) return {};
  const auto width = static_cast<std::int32_t>(Read32(image, 4));
  const auto doubled_height = static_cast<std::int32_t>(Read32(image, 8));
  if (width <= 0 || width > 256 || doubled_height <= 0 || doubled_height > 512 || doubled_height % 2 != 0 ||
      Read16(image, 14) != 32 || Read32(image, 16) != 0) {
    return {};
  }
  const int height = doubled_height / 2;
  const std::size_t header = Read32(image, 0);
  const std::size_t pixel_bytes = static_cast<std::size_t>(width) * height * 4;
  const std::size_t mask_stride = ((static_cast<std::size_t>(width) + 31) / 32) * 4;
  if (image.size() < header + pixel_bytes + mask_stride * height) return {};

  Image result;
  result.width = width;
  result.height = height;
  result.bgra.resize(pixel_bytes);
  bool any_alpha = false;
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* row = image.data() + header + static_cast<std::size_t>(height - 1 - y) * width * 4;
    std::memcpy(&result.bgra[static_cast<std::size_t>(y) * width * 4], row, static_cast<std::size_t>(width) * 4);
    for (int x = 0; x < width; ++x) any_alpha = any_alpha || row[x * 4 + 3] != 0;
  }
  // Icons without an alpha channel say what is transparent in the mask.
  if (!any_alpha) {
    const std::uint8_t* mask = image.data() + header + pixel_bytes;
    for (int y = 0; y < height; ++y) {
      const std::uint8_t* row = mask + static_cast<std::size_t>(height - 1 - y) * mask_stride;
      for (int x = 0; x < width; ++x) {
        const bool transparent = (row[x / 8] >> (7 - x % 8)) & 1;
        result.bgra[(static_cast<std::size_t>(y) * width + x) * 4 + 3] = transparent ? 0 : 255;
      }
    }
  }
  return result;
}

}  // namespace toolkit
