// Whole-file reads and complete-or-nothing writes. The temporary name keeps the final
// extension out of the listings ("frame_1.qpc.part" is not a ".qpc" file), so a reader
// walking a folder that is being recorded never meets a half-written frame.
#include "sessions/SessionFileIo.h"

#include <algorithm>
#include <stdexcept>
#include <system_error>

namespace orbel::studio {

namespace fs = std::filesystem;

namespace {

// Reads at most `maxBytes` bytes from the start; with `whole`, a larger file is refused unread.
void ReadFrom(const fs::path& path, uint64_t maxBytes, bool whole, std::vector<uint8_t>& bytes) {
    const uint64_t known = RegularFileSize(path);
    if (whole && known > maxBytes) {
        throw std::runtime_error("File of " + std::to_string(known) + " bytes is larger than the " +
                                 std::to_string(maxBytes) + " bytes accepted: " + path.string());
    }
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        throw std::runtime_error("Cannot open " + path.string());
    }
    file.seekg(0, std::ios::end);
    const std::streamoff size = file.tellg();
    if (size < 0) {
        throw std::runtime_error("Cannot read " + path.string());
    }
    if (whole && static_cast<uint64_t>(size) > maxBytes) {
        throw std::runtime_error("File of " + std::to_string(size) + " bytes is larger than the " +
                                 std::to_string(maxBytes) + " bytes accepted: " + path.string());
    }
    const auto count = static_cast<std::streamoff>(std::min<uint64_t>(static_cast<uint64_t>(size), maxBytes));
    file.seekg(0, std::ios::beg);
    bytes.resize(static_cast<size_t>(count));
    if (count > 0 && !file.read(reinterpret_cast<char*>(bytes.data()), count)) {
        throw std::runtime_error("Cannot read " + path.string());
    }
}

}  // namespace

void ReadWholeFile(const fs::path& path, uint64_t maxBytes, std::vector<uint8_t>& bytes) {
    ReadFrom(path, maxBytes, true, bytes);
}

void ReadFilePrefix(const fs::path& path, uint64_t maxBytes, std::vector<uint8_t>& bytes) {
    ReadFrom(path, maxBytes, false, bytes);
}

AtomicFile::AtomicFile(fs::path finalPath) : finalPath_(std::move(finalPath)) {
    partPath_ = finalPath_;
    partPath_ += ".part";
    buffer_ = std::make_unique<char[]>(kBufferBytes);
    stream_.rdbuf()->pubsetbuf(buffer_.get(), static_cast<std::streamsize>(kBufferBytes));
    stream_.open(partPath_, std::ios::binary | std::ios::trunc);
    if (!stream_) {
        throw std::runtime_error("Cannot open output file: " + finalPath_.string());
    }
}

AtomicFile::~AtomicFile() {
    if (!committed_) {
        stream_.close();
        std::error_code ignored;
        fs::remove(partPath_, ignored);
    }
}

bool AtomicFile::Write(const void* data, size_t size) {
    stream_.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    return static_cast<bool>(stream_);
}

void AtomicFile::Commit() {
    stream_.flush();
    const bool written = static_cast<bool>(stream_);
    stream_.close();
    if (!written || stream_.fail()) {
        throw std::runtime_error("Write error: " + finalPath_.string());
    }
    std::error_code error;
    fs::rename(partPath_, finalPath_, error);
    if (error) {
        throw std::runtime_error("Write error: " + finalPath_.string() + " (" + error.message() + ")");
    }
    committed_ = true;
}

fs::path UnusedFilePath(const fs::path& folder, const std::string& stem, const std::string& extension) {
    fs::path candidate = folder / (stem + extension);
    for (unsigned n = 1; fs::exists(candidate); ++n) {
        candidate = folder / (stem + "_" + std::to_string(n) + extension);
    }
    return candidate;
}

}  // namespace orbel::studio
