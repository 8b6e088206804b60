// Test helpers for JPEG files: a temporary folder removed with its contents,
// and a decoder (libjpeg's decompressor) that reports what a written file holds.
#pragma once

#include <algorithm>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <jpeglib.h>
#include <unistd.h>

namespace orbel::testing {

class TempFolder {
public:
    TempFolder() {
        static int counter = 0;
        path_ = std::filesystem::temp_directory_path() /
                ("orbel-img-" + std::to_string(::getpid()) + "-" + std::to_string(++counter));
        std::filesystem::create_directories(path_);
    }
    ~TempFolder() {
        std::error_code error;
        std::filesystem::remove_all(path_, error);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    std::filesystem::path operator/(const std::filesystem::path& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

struct DecodedJpeg {
    uint32_t width = 0;
    uint32_t height = 0;
    int components = 0;
    std::vector<std::pair<int, int>> sampling;  // h, v per component
    std::vector<uint8_t> rgb;                   // width x height x 3
};

namespace detail {
struct DecodeErrors {
    jpeg_error_mgr standard;
    std::jmp_buf jumpBack;
};
inline void DecodeExit(j_common_ptr info) { std::longjmp(reinterpret_cast<DecodeErrors*>(info->err)->jumpBack, 1); }

// Plain C objects only: the jump back skips no destructor.
inline bool DecodeInto(std::FILE* file, jpeg_decompress_struct* decoder, DecodeErrors* errors, DecodedJpeg* out,
                       uint8_t* (*reserve)(DecodedJpeg*, size_t)) {
    decoder->err = jpeg_std_error(&errors->standard);
    errors->standard.error_exit = DecodeExit;
    if (setjmp(errors->jumpBack) != 0) {
        jpeg_destroy_decompress(decoder);
        return false;
    }
    jpeg_create_decompress(decoder);
    jpeg_stdio_src(decoder, file);
    jpeg_read_header(decoder, TRUE);
    out->width = decoder->image_width;
    out->height = decoder->image_height;
    out->components = decoder->num_components;
    for (int c = 0; c < decoder->num_components; ++c)
        out->sampling.emplace_back(decoder->comp_info[c].h_samp_factor, decoder->comp_info[c].v_samp_factor);
    decoder->out_color_space = JCS_RGB;
    jpeg_start_decompress(decoder);
    uint8_t* pixels = reserve(out, size_t{out->width} * out->height * 3);
    while (decoder->output_scanline < decoder->output_height) {
        JSAMPROW row = pixels + size_t{decoder->output_scanline} * out->width * 3;
        jpeg_read_scanlines(decoder, &row, 1);
    }
    jpeg_finish_decompress(decoder);
    jpeg_destroy_decompress(decoder);
    return true;
}
}  // namespace detail

// nullopt when the file cannot be opened or is no valid JPEG.
inline std::optional<DecodedJpeg> DecodeJpegFile(const std::filesystem::path& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return std::nullopt;
    DecodedJpeg decoded;
    jpeg_decompress_struct decoder{};
    detail::DecodeErrors errors{};
    const bool ok = detail::DecodeInto(file, &decoder, &errors, &decoded, [](DecodedJpeg* out, size_t size) {
        out->rgb.resize(size);
        return out->rgb.data();
    });
    std::fclose(file);
    if (!ok) return std::nullopt;
    return decoded;
}

// Largest difference between any decoded channel value and the expected colour.
inline int MaxColourError(const DecodedJpeg& decoded, uint8_t red, uint8_t green, uint8_t blue) {
    const uint8_t expected[3] = {red, green, blue};
    int worst = 0;
    for (size_t i = 0; i < decoded.rgb.size(); ++i) {
        const int error = std::abs(int{decoded.rgb[i]} - int{expected[i % 3]});
        worst = std::max(worst, error);
    }
    return worst;
}

}  // namespace orbel::testing
