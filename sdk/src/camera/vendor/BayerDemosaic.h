// Bilinear demosaicing of RG Bayer mosaics (row 0: R G R G ..., row 1:
// G B G B ...) into RGB8 or RGB12 (12-bit samples in native 16-bit words),
// rows top to bottom. Missing neighbours at the image's edges are taken from
// the nearest sample of the same colour inside the image (x = -1 reads x = 1,
// x = W reads x = W - 2; likewise for rows), so a mosaic with one colour's
// sites lit comes out exactly uniform, edges included. Samples are
// interpolated at the source's precision and rounded; for RGB8 a 12-bit result
// is reduced by a shift of 4, for RGB12 an 8-bit result v is widened to
// v << 4 | v >> 4 (255 becomes 4095). Bits above the twelfth of a 12-bit
// source are ignored.
//
// The caller guarantees the sizes: width, height > 0, rgb holds 3 x W x H
// samples and the source holds what its layout needs (W x H bytes, 2 x W x H
// bytes of little-endian 16-bit samples, or floor(1.5 x W x H) bytes of packed
// pairs b0 = p0 >> 4, b1 = (p0 & 0xF) | (p1 & 0xF) << 4, b2 = p1 >> 4; when
// W x H is odd the last sample's low four bits may be absent and read as 0).
// Pure functions; any number of threads may run them at once.
#pragma once

#include <cstddef>
#include <cstdint>

namespace orbel::camera::vendor {

void DemosaicBayerRG8(const uint8_t* source, uint32_t width, uint32_t height, uint8_t* rgb);
void DemosaicBayerRG12(const uint8_t* source, uint32_t width, uint32_t height, uint8_t* rgb);
void DemosaicBayerRG12Packed(const uint8_t* source, size_t sourceSize, uint32_t width, uint32_t height,
                             uint8_t* rgb);

void DemosaicBayerRG8To12(const uint8_t* source, uint32_t width, uint32_t height, uint16_t* rgb);
void DemosaicBayerRG12To12(const uint8_t* source, uint32_t width, uint32_t height, uint16_t* rgb);
void DemosaicBayerRG12PackedTo12(const uint8_t* source, size_t sourceSize, uint32_t width, uint32_t height,
                                 uint16_t* rgb);

}  // namespace orbel::camera::vendor
