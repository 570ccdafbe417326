#pragma once
// Decoding the pictures of picture boxes.

#include <cstdint>
#include <span>
#include <vector>

namespace toolkit {

// 8-bit BGRA pixels, 4 bytes each, rows from the top down.
struct Image {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> bgra;
  bool empty() const { return bgra.empty(); }
};

enum class PictureFormat { kUnknown, kPng, kJpeg, kBmp, kIco, kCur, kGif, kPcx };

// The format the first bytes announce.
PictureFormat RecognisePicture(std::span<const std::uint8_t> bytes);

// The decoded picture, or an empty image when the bytes cannot be decoded
// (only PNG is decoded; the other formats are recognised but not drawn).
Image DecodePicture(std::span<const std::uint8_t> bytes);

// The largest image of an icon file (.ico): a 32-bit bitmap or an embedded
// PNG. Empty when the bytes are not such an icon.
Image DecodeIcon(std::span<const std::uint8_t> bytes);

}  // namespace toolkit
