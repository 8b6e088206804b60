// The file plumbing shared by the session readers and writers: whole-file reads with a
// size cap, writes that appear under their final name only once complete, and names
// that never replace an earlier file.
//
// Contract: stateless apart from the one file an AtomicFile owns; any thread. Failures
// are std::runtime_error with the path in the text.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/FileHelpers.h"  // RegularFileSize

namespace orbel::studio {

// Reads the whole file into `bytes`. Throws as RegularFileSize, "Cannot open <path>" when it
// cannot be opened, and a text naming the cap when it is larger than `maxBytes`, before
// anything is read.
void ReadWholeFile(const std::filesystem::path& path, uint64_t maxBytes, std::vector<uint8_t>& bytes);

// Reads the first min(file size, `maxBytes`) bytes of a regular file, so that a header can be
// checked before a file is taken in whole. Throws as ReadWholeFile.
void ReadFilePrefix(const std::filesystem::path& path, uint64_t maxBytes, std::vector<uint8_t>& bytes);

// A file written under a temporary sibling name ("<name>.part") and renamed to its final
// name by Commit, so a crash or a failed write never leaves a half file under the final
// name. Dropped without Commit, the temporary file is removed.
class AtomicFile {
public:
    // Throws std::runtime_error "Cannot open output file: <path>" when the file cannot be created.
    explicit AtomicFile(std::filesystem::path finalPath);
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // False once a write has failed.
    bool Write(const void* data, size_t size);
    bool Write(const std::string& text) { return Write(text.data(), text.size()); }
    std::ofstream& Stream() { return stream_; }

    // Flushes, closes and renames over the final name. Throws std::runtime_error
    // "Write error: <path>" when any write failed or the rename does not succeed.
    void Commit();

    const std::filesystem::path& FinalPath() const { return finalPath_; }

private:
    std::filesystem::path finalPath_;
    std::filesystem::path partPath_;
    // A frame file is a few hundred KiB: one buffer of this size takes it in a few writes.
    static constexpr size_t kBufferBytes = 256 * 1024;
    std::unique_ptr<char[]> buffer_;
    std::ofstream stream_;
    bool committed_ = false;
};

// folder / (stem + extension) when no such file exists, else the first free of
// stem + "_1" + extension, stem + "_2" + extension, ...
std::filesystem::path UnusedFilePath(const std::filesystem::path& folder, const std::string& stem,
                                     const std::string& extension);

}  // namespace orbel::studio
