// File kinds, folders and frame-file listings. Errors of the file system surface as
// the std::filesystem exceptions of the call that failed; the two folder checks of
// the listings throw std::runtime_error with the path in the message. The listings
// walk with the error_code forms of the directory calls, so that what fails for one
// entry or one sub-folder costs that entry or sub-folder only.
#include "app/FileHelpers.h"

#include <functional>
#include <map>
#include <set>
#include <stdexcept>
#include <system_error>

#include "app/Logging.h"
#include "platform/AppDataFolder.h"

namespace orbel::studio {
namespace {

namespace fs = std::filesystem;

std::string AsciiLower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

void RequireFolder(const fs::path& folder) {
    if (!fs::exists(folder)) {
        throw std::runtime_error("Folder does not exist: " + folder.string());
    }
    if (!fs::is_directory(folder)) {
        throw std::runtime_error("Path is not a directory: " + folder.string());
    }
}

bool IsFolder(const fs::path& path) {
    return fs::exists(path) && fs::is_directory(path);
}

const char* KindOf(fs::file_type type) {
    switch (type) {
        case fs::file_type::directory: return "a folder";
        case fs::file_type::fifo: return "a FIFO";
        case fs::file_type::block:
        case fs::file_type::character: return "a device";
        case fs::file_type::socket: return "a socket";
        default: return "not a file";
    }
}

void WarnSkipped(const fs::path& path, const std::string& reason) {
    Log("Skipped " + path.string() + ": " + reason, log_level::kWarning);
}

// The folder opened for listing; a folder that cannot be opened throws as the
// directory_iterator constructor does.
fs::directory_iterator OpenFolder(const fs::path& folder) {
    std::error_code error;
    fs::directory_iterator entries(folder, error);
    if (error) {
        throw fs::filesystem_error("directory_iterator::directory_iterator", folder, error);
    }
    return entries;
}

// Calls `found` with every regular file of the folder (and, with `recursive`, of its
// sub-folders, depth first in the order recursive_directory_iterator takes) whose path
// `wanted` accepts. Links to folders are not followed. What cannot be examined is given
// to `skipped` with the reason and the walk goes on: an entry that `wanted` accepts but
// that cannot be examined or is not a regular file, a sub-folder that cannot be opened,
// and the rest of a folder whose reading fails part way.
void WalkFolder(const fs::path& folder, bool recursive, const std::function<bool(const fs::path&)>& wanted,
                const std::function<void(const fs::path&)>& found,
                const std::function<void(const fs::path&, const std::string&)>& skipped) {
    struct Open {
        fs::path folder;
        fs::directory_iterator entries;
    };
    std::vector<Open> open;
    open.push_back({folder, OpenFolder(folder)});
    while (!open.empty()) {
        if (open.back().entries == fs::directory_iterator()) {
            open.pop_back();
            continue;
        }
        const fs::directory_entry entry = *open.back().entries;
        std::error_code error;
        open.back().entries.increment(error);
        if (error) {
            skipped(open.back().folder, "the rest of the folder could not be read (" + error.message() + ")");
            open.back().entries = fs::directory_iterator();
        }

        const fs::path& path = entry.path();
        // Not followed: a link's own status tells a folder to descend into from a link to one.
        const fs::file_status own = entry.symlink_status(error);
        if (!error && own.type() == fs::file_type::directory) {
            if (recursive) {
                fs::directory_iterator entries(path, error);
                if (error) {
                    skipped(path, error.message());
                } else {
                    open.push_back({path, std::move(entries)});
                }
            }
            continue;
        }
        if (!wanted(path)) {
            continue;
        }
        const fs::file_status target = error ? own : entry.status(error);
        if (error) {
            skipped(path, error.message());
        } else if (target.type() == fs::file_type::regular) {
            found(path);
        } else if (target.type() != fs::file_type::directory) {  // a link to a folder is not followed
            skipped(path, std::string("not a regular file (") + KindOf(target.type()) + ")");
        }
    }
}

// The extension as the listings compare it: lower case, with its dot.
std::string NormalisedExtension(const std::string& extension) {
    std::string wanted = extension;
    if (!wanted.empty() && wanted.front() != '.') {
        wanted.insert(wanted.begin(), '.');
    }
    return AsciiLower(std::move(wanted));
}

// The files of each extension, in the order of `extensions`, from one recursive walk.
std::vector<fs::path> ListByExtensions(const fs::path& folder, const std::vector<std::string>& extensions) {
    RequireFolder(folder);
    std::vector<std::string> wanted;
    for (const std::string& extension : extensions) {
        wanted.push_back(NormalisedExtension(extension));
    }
    std::vector<std::vector<fs::path>> groups(wanted.size());
    const auto group = [&](const fs::path& path) {
        const std::string extension = AsciiLower(path.extension().string());
        for (size_t i = 0; i < wanted.size(); ++i) {
            if (wanted[i] == extension) return i;
        }
        return wanted.size();
    };
    WalkFolder(
        folder, true, [&](const fs::path& path) { return group(path) < wanted.size(); },
        [&](const fs::path& path) { groups[group(path)].push_back(path); }, WarnSkipped);

    std::vector<fs::path> files;
    for (auto& paths : groups) {
        files.insert(files.end(), std::make_move_iterator(paths.begin()), std::make_move_iterator(paths.end()));
    }
    return files;
}

}  // namespace

fs::path ResolveOutputFolder(const fs::path& typed) {
    if (typed.empty()) {
        throw std::runtime_error("No output folder given");
    }
    if (typed.is_absolute()) {
        return typed;
    }
    const std::optional<fs::path> home = platform::UserHomeFolder();
    if (!home) {
        throw std::runtime_error("The output folder " + typed.string() +
                                 " is relative and there is no home folder to put it in");
    }
    return (*home / typed).lexically_normal();
}

uint64_t RegularFileSize(const fs::path& path) {
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    if (status.type() == fs::file_type::not_found || (error && status.type() == fs::file_type::none)) {
        throw std::runtime_error("Cannot open " + path.string());
    }
    if (status.type() != fs::file_type::regular) {
        throw std::runtime_error(std::string("Not a regular file (") + KindOf(status.type()) + "): " + path.string());
    }
    const uintmax_t size = fs::file_size(path, error);
    if (error) {
        throw std::runtime_error("Cannot read " + path.string());
    }
    return size;
}

std::string FileTypeToExtension(FileType type) {
    switch (type) {
        case FileType::Ply:
            return "ply";
        case FileType::Pcd:
            return "pcd";
        case FileType::Png:
            return "png";
        case FileType::Csv:
            return "csv";
        case FileType::Qpc:
            return "qpc";
        case FileType::Jpg:
            return "jpg";
        default:
            return {};
    }
}

FileType FileTypeFromExtension(std::string extension) {
    if (!extension.empty() && extension.front() == '.') {
        extension.erase(0, 1);
    }
    static const std::map<std::string, FileType, std::less<>> kTypes{
        {"ply", FileType::Ply}, {"pcd", FileType::Pcd}, {"png", FileType::Png}, {"csv", FileType::Csv},
        {"qpc", FileType::Qpc}, {"jpg", FileType::Jpg}, {"jpeg", FileType::Jpg},
    };
    const auto found = kTypes.find(AsciiLower(std::move(extension)));
    return found == kTypes.end() ? FileType::Unknown : found->second;
}

fs::path AppDataDir() {
    const fs::path folder = platform::UserDataRoot() / "Velmorant" / "OrbelStudio";
    fs::create_directories(folder / "dumps");
    return folder;
}

void EnsureDirectory(const fs::path& path) {
    if (!fs::exists(path)) {
        fs::create_directories(path);
    }
    if (!fs::is_directory(path)) {
        throw std::runtime_error("Path exists but is not a directory: " + path.string());
    }
}

SessionPaths MakeSessionPaths(const fs::path& picked) {
    SessionPaths paths;
    if (!fs::exists(picked)) {
        return paths;
    }
    // A trailing separator leaves the path without a file name; the folder's own
    // name is what tells a sub-folder from a session folder.
    const fs::path folder = picked.has_filename() ? picked : picked.parent_path();

    if (IsFolder(folder / "frames_qpc")) {
        paths.root = folder;
        paths.lidar_folder = folder / "frames_qpc";
    } else if (folder.filename() == "frames_qpc") {
        paths.root = folder.parent_path();
        paths.lidar_folder = folder;
    }

    const fs::path base = paths.root.empty() ? folder : paths.root;
    if (IsFolder(base / "frames_rgb")) {
        paths.camera_folder = base / "frames_rgb";
    } else if (folder.filename() == "frames_rgb") {
        paths.camera_folder = folder;
        if (paths.root.empty()) {
            paths.root = folder.parent_path();
        }
    }

    paths.has_lidar_frames = !paths.lidar_folder.empty();
    return paths;
}

std::string MostCommonExtension(const fs::path& folder) {
    RequireFolder(folder);
    static const std::set<std::string, std::less<>> kKnown{"ply", "pcd", "png", "csv", "qpc", "jpg"};

    const auto known = [](const fs::path& path) {
        std::string extension = AsciiLower(path.extension().string());
        if (!extension.empty()) {
            extension.erase(0, 1);
        }
        // JPEG images are written both ways; FileTypeFromExtension reads both as jpg.
        if (extension == "jpeg") {
            extension = "jpg";
        }
        return kKnown.contains(extension) ? extension : std::string();
    };

    std::map<std::string, std::size_t> counts;  // ordered by text, so ties go to the first
    WalkFolder(
        folder, false, [&](const fs::path& path) { return !known(path).empty(); },
        [&](const fs::path& path) { ++counts[known(path)]; }, [](const fs::path&, const std::string&) {});

    std::string best;
    std::size_t bestCount = 0;
    for (const auto& [extension, count] : counts) {
        if (count > bestCount) {
            best = extension;
            bestCount = count;
        }
    }
    return best;
}

std::vector<fs::path> ListFilesRecursive(const fs::path& folder, const std::string& extension) {
    return ListByExtensions(folder, {extension});
}

std::vector<fs::path> ListQpcFilesRecursive(const fs::path& folder) {
    return ListFilesRecursive(folder, ".qpc");
}

std::vector<fs::path> ListImageFilesRecursive(const fs::path& folder) {
    return ListByExtensions(folder, {".jpg", ".jpeg"});
}

std::optional<uint64_t> ExtractFileId(const fs::path& file) {
    const std::string stem = file.stem().string();
    const size_t underscore = stem.find('_');
    if (underscore == std::string::npos) {
        return 0;
    }
    uint64_t id = 0;
    size_t at = underscore + 1;
    if (at >= stem.size() || stem[at] < '0' || stem[at] > '9') {
        return std::nullopt;
    }
    for (; at < stem.size() && stem[at] >= '0' && stem[at] <= '9'; ++at) {
        const auto digit = static_cast<uint64_t>(stem[at] - '0');
        if (id > (UINT64_MAX - digit) / 10) {
            return std::nullopt;
        }
        id = id * 10 + digit;
    }
    return id;
}

std::optional<uint64_t> FrameNumberInName(const fs::path& file) {
    if (file.stem().string().find('_') == std::string::npos) {
        return std::nullopt;
    }
    return ExtractFileId(file);
}

}  // namespace orbel::studio
