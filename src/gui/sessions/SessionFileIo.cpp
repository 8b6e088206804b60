// Whole-file reads and complete-or-nothing writes. The temporary name keeps the final
// extension out of the listings ("frame_1.qpc.<token>.part" is not a ".qpc" file), so a
// reader walking a folder that is being recorded never meets a half-written frame.
#include "sessions/SessionFileIo.h"

#include <algorithm>
#include <cerrno>
#include <random>
#include <stdexcept>
#include <system_error>

#include <fmt/format.h>

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

// The reason the last failed call of the C++ library left: file streams report failures
// only as a state, and the system's error number is what says why.
std::string SystemReason() {
    const int code = errno;
    return code == 0 ? std::string() : std::generic_category().message(code);
}

// The first bytes of a name, at most `limit`, never ending inside a UTF-8 character.
std::string CutName(const std::string& name, size_t limit) {
    if (name.size() <= limit) {
        return name;
    }
    size_t end = limit;
    while (end > 0 && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80) {
        --end;
    }
    return name.substr(0, end);
}

// A sibling name of `finalPath` that is not taken, random, so that files written at once (by
// this process or another) never meet however alike their final names begin.
fs::path TemporarySibling(const fs::path& finalPath) {
    std::random_device random;
    const std::string name = finalPath.filename().string();
    fs::path candidate;
    std::error_code error;
    do {
        const uint64_t token = (static_cast<uint64_t>(random()) << 32) ^ random();
        const std::string suffix = fmt::format(".{:016x}.part", token);
        candidate = finalPath.parent_path() / (CutName(name, AtomicFile::kMaxNameBytes - suffix.size()) + suffix);
    } while (fs::symlink_status(candidate, error).type() != fs::file_type::not_found && !error);
    return candidate;
}

}  // namespace

void ReadWholeFile(const fs::path& path, uint64_t maxBytes, std::vector<uint8_t>& bytes) {
    ReadFrom(path, maxBytes, true, bytes);
}

void ReadFilePrefix(const fs::path& path, uint64_t maxBytes, std::vector<uint8_t>& bytes) {
    ReadFrom(path, maxBytes, false, bytes);
}

AtomicFile::AtomicFile(fs::path finalPath) : finalPath_(std::move(finalPath)) {
    partPath_ = TemporarySibling(finalPath_);
    buffer_ = std::make_unique<char[]>(kBufferBytes);
    stream_.rdbuf()->pubsetbuf(buffer_.get(), static_cast<std::streamsize>(kBufferBytes));
    errno = 0;
    stream_.open(partPath_, std::ios::binary | std::ios::trunc);
    if (!stream_) {
        throw OutputFileError("Cannot open output file: " + finalPath_.string(), SystemReason());
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
    if (!stream_) {
        return false;
    }
    errno = 0;
    stream_.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!stream_ && writeFailure_.empty()) {
        writeFailure_ = SystemReason();
    }
    return static_cast<bool>(stream_);
}

void AtomicFile::Commit() {
    if (stream_) {
        errno = 0;
        stream_.flush();
        if (!stream_) {
            writeFailure_ = SystemReason();
        }
    }
    const bool written = static_cast<bool>(stream_);
    errno = 0;
    stream_.close();
    if (written && stream_.fail() && writeFailure_.empty()) {
        writeFailure_ = SystemReason();
    }
    if (!written || stream_.fail()) {
        throw OutputFileError("Write error: " + finalPath_.string(), writeFailure_);
    }
    std::error_code error;
    fs::rename(partPath_, finalPath_, error);
    if (error) {
        throw OutputFileError("Write error: " + finalPath_.string(), error.message());
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
