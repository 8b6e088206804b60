// Reading and writing a small file whole, with the system's own words when it fails
// ("No space left on device", "Read-only file system", "Permission denied"), which the
// standard streams do not give. Used for "settings.bin": reading never waits on something
// that is not a regular file (a FIFO of that name would block a plain open until a writer
// came), and writing reports the first call that failed, the last write and the close
// included, where a full disk shows.
//
// Stateless; any thread. Paths are wide on Windows.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace orbel::studio::platform {

// The bytes of a regular file. Anything else (a folder, a FIFO, a device, a socket) is
// refused before it is read, and a FIFO without opening it for a blocking read. On failure
// none, and `failure` says why: the system's words, or "a FIFO, not a regular file".
std::optional<std::string> ReadRegularFile(const std::filesystem::path& file, std::string& failure);

struct WriteOutcome {
    bool opened = false;  // the file was created (or truncated)
    std::string failure;  // empty when every byte was written and the file closed
    bool Written() const { return opened && failure.empty(); }
};

// Creates the file (or empties it) and writes the bytes, then closes it.
WriteOutcome WriteWholeFile(const std::filesystem::path& file, std::string_view bytes);

}  // namespace orbel::studio::platform
