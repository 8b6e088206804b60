// Writes an RGB8 image as a baseline JPEG file with libjpeg-turbo. A write that
// fails for any reason throws std::runtime_error and removes the partly written
// file; libjpeg's own errors never end the process. Stateless; any thread may
// write, each call with its own compressor.
#pragma once

#include <cstdint>
#include <filesystem>

namespace orbel::utilities {

// width x height x 3 bytes at data: red, green, blue per pixel, rows top to bottom.
struct RGB8Image {
    uint32_t width = 0;
    uint32_t height = 0;
    const uint8_t* data = nullptr;
};

class LibJpegTurboWrapper {
public:
    // subsample true stores chroma at half resolution both ways (luma sampled
    // 2 x 2), false keeps full resolution (1 x 1). Returns true once the file is
    // written. Throws "Could not write to file. Failed to open file." when the
    // file cannot be created and "Error in libjpeg" when libjpeg fails.
    static bool SaveImageAsRGB8(const RGB8Image& image, const std::filesystem::path& path, int quality,
                                bool subsample);

    // Rows handed to libjpeg per write call: 1080 when height is a multiple of
    // 1080 (0 included), else the largest of 1024, 512, ..., 2 dividing height, else 1.
    static uint32_t RowsPerWriteCall(uint32_t height);
};

}  // namespace orbel::utilities
