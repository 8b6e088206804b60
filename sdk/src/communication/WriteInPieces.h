// Splits one blocking send into writes of bounded size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <system_error>

namespace orbel::communication {

// Calls write(data, n) with n <= maxPiece until all `size` bytes are written or a
// write reports an error, which is returned. write returns the bytes it wrote and
// sets its error code argument on failure.
template <typename Writer>
std::error_code WriteInPieces(const uint8_t* data, size_t size, size_t maxPiece, Writer&& write) {
    size_t written = 0;
    while (written < size) {
        std::error_code error;
        const size_t piece = size - written < maxPiece ? size - written : maxPiece;
        const size_t n = write(data + written, piece, error);
        if (error) return error;
        written += n;
    }
    return {};
}

}  // namespace orbel::communication
