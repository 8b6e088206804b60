// Conversions of camera pixel bytes into RGB8 (3 bytes per pixel, red, green,
// blue, rows top to bottom): the three Bayer layouts through the vendor layer's
// image factory, and RGB12 by a shift of 4. Every conversion first checks that
// the dimensions are non-zero and that source and destination hold what the
// format and size need (64-bit counts), throwing orbel::sdk::Exception
// IMAGE_ERROR otherwise, so nothing is read or written past a buffer.
// Stateless apart from the vendor layer's shared system; any thread may call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include <orbel/sdk/IImage.h>

#include "camera/vendor/Image.h"

namespace orbel::camera {

// Pixel bytes of a width x height image in format; nullopt for Unknown and
// values outside the enumeration.
std::optional<uint64_t> RequiredPixelBytes(orbel::sdk::PixelFormat format, uint32_t width, uint32_t height);

// Wraps data (not copied; it must outlive the result) as a vendor image of
// width x height x bytesPerPixel bytes, opening the vendor system on first use.
// Throws std::runtime_error "Failed to allocate memory from BayerRG8 data" when
// the factory gives nothing; vendor::GenericException is printed to stderr and
// thrown on.
vendor::ImageHandle CreateArenaImage(const uint8_t* data, double bytesPerPixel, uint32_t width, uint32_t height,
                                     uint64_t pixelFormat);

// destination receives 3 x width x height bytes. Besides IMAGE_ERROR: a failed
// conversion throws std::runtime_error "Failed to convert RGB8", and the vendor
// layer's GenericException passes through.
void ConvertBayerRG8ToRGB8(std::span<const uint8_t> source, std::span<uint8_t> destination, uint32_t width,
                           uint32_t height);
// packed selects BayerRG12Packed input, otherwise BayerRG12 (16-bit little-endian samples).
void ConvertBayerRG12ToRGB8(std::span<const uint8_t> source, std::span<uint8_t> destination, uint32_t width,
                            uint32_t height, bool packed);

// Each 16-bit little-endian sample becomes one byte: the sample shifted right
// by 4, kept to its low 8 bits.
void ConvertRGB12ToRGB8(std::span<const uint8_t> source, std::span<uint8_t> destination, uint32_t width,
                        uint32_t height);

// The conversion above that suits `format`; false, with nothing touched, for a format that
// has none (RGB8 itself, Unknown, values outside the enumeration). Throws as that conversion does.
bool ConvertToRGB8(orbel::sdk::PixelFormat format, std::span<const uint8_t> source, std::span<uint8_t> destination,
                   uint32_t width, uint32_t height);

}  // namespace orbel::camera
