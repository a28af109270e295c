#pragma once

#include <cstdint>
#include <span>

namespace vark::host {

/// The command's toolbar picture, embedded in the library: the bytes of a
/// 72 x 72, 16-colour BMP file (2,710 bytes). Drawn by
/// resources/draw_command_bitmap.py.
std::span<const std::uint8_t> CommandBitmapBytes();

}  // namespace vark::host
