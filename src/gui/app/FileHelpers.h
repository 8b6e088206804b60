// File kinds, the program's application-data folder, folder creation, the layout
// of a recorded session folder and the listing of frame files. Stateless free
// functions, safe on any thread. Failures are thrown and the callers decide what to
// tell the user; the one exception is a folder entry that a listing passes over, which
// the listing itself names in the log, since the listing goes on without it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace orbel::studio {

// The kinds of frame and image files, numbered as the program stores them.
enum class FileType : int {
    Ply = 0,
    Pcd = 1,
    Png = 2,
    Csv = 3,
    Qpc = 4,
    Jpg = 5,
    Unknown = 6,
};

// The folders of one recorded session; each is empty when not found.
struct SessionPaths {
    std::filesystem::path root;
    std::filesystem::path lidar_folder;   // "frames_qpc": QPC frame files
    std::filesystem::path camera_folder;  // "frames_rgb": JPEG camera images
    bool has_lidar_frames = false;        // exactly when lidar_folder is not empty
};

// "ply", "pcd", "png", "csv", "qpc", "jpg"; empty for Unknown and any other value.
std::string FileTypeToExtension(FileType type);

// Case-insensitive, with or without one leading dot; "jpeg" is Jpg; anything else Unknown.
FileType FileTypeFromExtension(std::string extension);

// The per-user folder "Velmorant/OrbelStudio" (platform/AppDataFolder.h), created
// together with its "dumps" sub-folder when missing. Throws filesystem_error when
// there is no such folder or it cannot be created.
std::filesystem::path AppDataDir();

// The folder a run writes into (a recording, a conversion, a colorization), for the text the
// user typed or picked as its output folder: an absolute path as it is, a relative one under
// the user's home folder (platform/AppDataFolder.h) rather than the working folder, which is
// wherever the program happened to be started. "." and ".." parts of a relative text are
// resolved; "~" is an ordinary folder name. Called when the run starts. Throws
// std::runtime_error when the text is empty, or relative with no home folder to put it in.
std::filesystem::path ResolveOutputFolder(const std::filesystem::path& typed);

// The size of a regular file (symbolic links followed). Throws std::runtime_error "Cannot
// open <path>" when there is none, and "Not a regular file (a FIFO): <path>" (a folder, a
// device, a socket) before it is opened, so that no read waits on a pipe or a device.
uint64_t RegularFileSize(const std::filesystem::path& path);

// Creates the folder with its missing parents. Throws filesystem_error, or
// std::runtime_error when the path exists but is not a folder.
void EnsureDirectory(const std::filesystem::path& path);

// Accepts a session folder or either of its "frames_qpc" and "frames_rgb" sub-folders.
SessionPaths MakeSessionPaths(const std::filesystem::path& picked);

// The most frequent known frame-file extension (lower case, no dot) among the
// folder's direct files, ties going to the alphabetically first; ".jpeg" counts as
// "jpg". Empty when there is none. An entry that cannot be examined (a link loop, a
// dangling link, a name gone since it was listed) has no vote and is passed over
// without a word: every caller lists the folder next, and that listing names it.
// Throws std::runtime_error when the folder is missing or not a folder,
// filesystem_error when it cannot be opened.
std::string MostCommonExtension(const std::filesystem::path& folder);

// Every regular file under the folder, sub-folders included (symbolic links to
// folders are not followed, so no link loop is entered), whose extension equals
// `extension` regardless of case and of a leading dot; an empty extension matches files
// without one. In walk order, unsorted.
// One unreadable entry never ends the listing: an entry of that extension that cannot be
// examined or is not a regular file (a link loop, a dangling link, a name gone since it
// was listed, a FIFO or a device), and a sub-folder that cannot be opened, are left out
// with one warning each, "Skipped <path>: <reason>". Throws as MostCommonExtension when
// the folder itself is missing, not a folder or cannot be opened.
std::vector<std::filesystem::path> ListFilesRecursive(const std::filesystem::path& folder,
                                                      const std::string& extension);

// ListFilesRecursive with ".qpc".
std::vector<std::filesystem::path> ListQpcFilesRecursive(const std::filesystem::path& folder);

// The ".jpg" files, then the ".jpeg" files, each in walk order, from one walk of the
// folder (so an entry passed over is named once). As ListFilesRecursive otherwise.
std::vector<std::filesystem::path> ListImageFilesRecursive(const std::filesystem::path& folder);

// The id in a frame or image file's name: the decimal number that starts right after the
// first "_" of the name without its extension, up to the next "_" or the end (leading
// digits only, so "frame_12b" is 12). frame_00001234.qpc gives 1234 and
// image_00000012_00000000001234567890.jpg gives 12; a name without "_" gives 0. A name
// whose id part does not start with a digit, or whose number needs more than 64 bits,
// gives none: such a stray file has no place in a session's order.
std::optional<uint64_t> ExtractFileId(const std::filesystem::path& file);

// The frame number a file's name carries, for putting recorded files in their order:
// ExtractFileId of a name with "_", and none for a name without one (whose id 0 is a
// file id, not a place among the numbered frames).
std::optional<uint64_t> FrameNumberInName(const std::filesystem::path& file);

}  // namespace orbel::studio
