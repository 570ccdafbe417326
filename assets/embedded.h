#pragma once
// Files carried inside the executable: the window data, the pictures, the
// chime and the icon. Each executable links exactly one set of them, made by
// the build's zorva_embed().

#include <cstdint>
#include <span>
#include <string_view>

namespace assets {

// The bytes of the embedded file `name`, or an empty span when there is none.
std::span<const std::uint8_t> FindEmbedded(std::string_view name);

}  // namespace assets
