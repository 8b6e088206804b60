// The file plumbing shared by the session readers and writers: whole-file reads with a
// size cap, writes that appear under their final name only once complete, and names
// that never replace an earlier file.
//
// Contract: stateless apart from the one file an AtomicFile owns; any thread. Failures
// are std::runtime_error with the path in the text (and, for a write, the system's reason).
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
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

// What AtomicFile throws: the text names the path and, when the system gave one, its reason
// ("No space left on device"); Reason() is that reason alone, empty when none was given.
class OutputFileError : public std::runtime_error {
public:
    OutputFileError(const std::string& text, std::string reason)
        : std::runtime_error(reason.empty() ? text : text + " (" + reason + ")"), reason_(std::move(reason)) {}
    const std::string& Reason() const { return reason_; }

private:
    std::string reason_;
};

// A file written under a temporary sibling name and renamed to its final name by Commit, so
// a crash or a failed write never leaves a half file under the final name. Dropped without
// Commit, the temporary file is removed.
//
// The temporary name is the final name, cut where needed, then "." + 16 random hex digits +
// ".part": it fits the 255 bytes a file system allows a name whenever the final name does,
// it is never listed as a frame or an image (its extension is ".part"), and two files
// written at once never share one, even when their final names begin alike.
class AtomicFile {
public:
    // Throws OutputFileError "Cannot open output file: <path> (<reason>)" when the file cannot
    // be created.
    explicit AtomicFile(std::filesystem::path finalPath);
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // False once a write has failed.
    bool Write(const void* data, size_t size);
    bool Write(const std::string& text) { return Write(text.data(), text.size()); }
    std::ofstream& Stream() { return stream_; }

    // Flushes, closes and renames over the final name. Throws OutputFileError
    // "Write error: <path> (<reason>)" when any write failed or the rename does not succeed.
    void Commit();

    const std::filesystem::path& FinalPath() const { return finalPath_; }
    const std::filesystem::path& TemporaryPath() const { return partPath_; }

    // The longest name, in bytes, that the temporary name is kept within.
    static constexpr size_t kMaxNameBytes = 255;

private:
    std::filesystem::path finalPath_;
    std::filesystem::path partPath_;
    // A frame file is a few hundred KiB: one buffer of this size takes it in a few writes.
    static constexpr size_t kBufferBytes = 256 * 1024;
    std::unique_ptr<char[]> buffer_;
    std::ofstream stream_;
    std::string writeFailure_;  // the system's reason for the first failed write
    bool committed_ = false;
};

// folder / (stem + extension) when no such file exists, else the first free of
// stem + "_1" + extension, stem + "_2" + extension, ...
std::filesystem::path UnusedFilePath(const std::filesystem::path& folder, const std::string& stem,
                                     const std::string& extension);

}  // namespace orbel::studio
