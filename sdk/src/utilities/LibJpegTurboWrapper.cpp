#include "utilities/LibJpegTurboWrapper.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

// jpeglib.h needs size_t and FILE declared first.
#include <jpeglib.h>

#include "utilities/Logging.h"
#include "utilities/StringConversion.h"

namespace orbel::utilities {
namespace {

struct ErrorManager {
    jpeg_error_mgr standard;
    std::jmp_buf jumpBack;
    char message[JMSG_LENGTH_MAX];
};

void ExitByJump(j_common_ptr info) {
    auto* manager = reinterpret_cast<ErrorManager*>(info->err);
    (*info->err->format_message)(info, manager->message);
    std::longjmp(manager->jumpBack, 1);
}

// Lives in the caller's frame, zero-initialised, so that what libjpeg changes
// before a jump back is still there after it, and destroying a compressor that
// was never created is harmless.
struct JpegState {
    jpeg_compress_struct compressor;
    ErrorManager errors;
};

struct CompressJob {
    JpegState* state;
    const RGB8Image* image;
    std::FILE* file;
    int quality;
    bool subsample;
    uint32_t rowsPerCall;
    JSAMPROW* rows;  // room for rowsPerCall pointers
    char* message;   // JMSG_LENGTH_MAX bytes, filled on failure
};

// The whole libjpeg exchange. libjpeg leaves through longjmp, so this function
// holds only trivially destructible locals: the jump skips no destructor.
bool Compress(const CompressJob& job) {
    jpeg_compress_struct& compressor = job.state->compressor;
    ErrorManager& errors = job.state->errors;
    compressor.err = jpeg_std_error(&errors.standard);
    errors.standard.error_exit = ExitByJump;
    if (setjmp(errors.jumpBack) != 0) {
        std::snprintf(job.message, JMSG_LENGTH_MAX, "%s", errors.message);
        jpeg_destroy_compress(&compressor);
        return false;
    }

    jpeg_create_compress(&compressor);
    compressor.image_width = job.image->width;
    compressor.image_height = job.image->height;
    compressor.input_components = 3;
    compressor.in_color_space = JCS_EXT_RGB;
    compressor.data_precision = 8;
    jpeg_set_defaults(&compressor);
    jpeg_set_quality(&compressor, job.quality, TRUE);
    const int lumaSampling = job.subsample ? 2 : 1;
    compressor.comp_info[0].h_samp_factor = lumaSampling;
    compressor.comp_info[0].v_samp_factor = lumaSampling;
    jpeg_stdio_dest(&compressor, job.file);
    jpeg_start_compress(&compressor, TRUE);

    const size_t rowBytes = size_t{job.image->width} * 3;
    const uint32_t height = job.image->height;
    while (compressor.next_scanline < height) {
        const uint32_t next = compressor.next_scanline;
        // The rule's row count always divides the height; the cap only guards the last call.
        const uint32_t count = std::min(job.rowsPerCall, height - next);
        for (uint32_t i = 0; i < count; ++i) {
            job.rows[i] = const_cast<JSAMPROW>(job.image->data + size_t{next + i} * rowBytes);
        }
        jpeg_write_scanlines(&compressor, job.rows, count);
    }
    jpeg_finish_compress(&compressor);
    jpeg_destroy_compress(&compressor);
    return true;
}

std::FILE* OpenForWriting(const std::filesystem::path& path) {
#if defined(_WIN32)
    return _wfopen(path.c_str(), L"wb");
#else
    return std::fopen(path.c_str(), "wb");
#endif
}

// Only a regular file that this write produced is removed; never a device or pipe.
void RemovePartialFile(const std::filesystem::path& path) noexcept {
    std::error_code error;
    if (std::filesystem::is_regular_file(path, error)) std::filesystem::remove(path, error);
}

}  // namespace

uint32_t LibJpegTurboWrapper::RowsPerWriteCall(uint32_t height) {
    if (height % 1080 == 0) return 1080;
    for (uint32_t rows = 1024; rows >= 2; rows /= 2) {
        if (height % rows == 0) return rows;
    }
    return 1;
}

bool LibJpegTurboWrapper::SaveImageAsRGB8(const RGB8Image& image, const std::filesystem::path& path, int quality,
                                          bool subsample) {
    if (image.data == nullptr) throw std::runtime_error("Image has no pixel data.");
    const uint32_t rowsPerCall = RowsPerWriteCall(image.height);
    std::vector<JSAMPROW> rows(rowsPerCall);
    char message[JMSG_LENGTH_MAX] = {};
    JpegState state{};

    std::FILE* file = OpenForWriting(path);
    if (file == nullptr) throw std::runtime_error("Could not write to file. Failed to open file.");

    const CompressJob job{&state, &image, file, quality, subsample, rowsPerCall, rows.data(), message};
    const bool compressed = Compress(job);
    // A failed close loses buffered bytes: the file is incomplete.
    const bool closed = std::fclose(file) == 0;
    if (compressed && closed) return true;

    if (compressed) std::snprintf(message, sizeof message, "%s", "Closing the file failed");
    ORBEL_LOG_ERROR(L"Error in libJpeg." + ConvertToWStringLossy(message));
    RemovePartialFile(path);
    throw std::runtime_error("Error in libjpeg");
}

}  // namespace orbel::utilities
