// Export folder choice and PNG writing of the views.
#include "views/ViewExport.h"

#include <stb_image_write.h>

#include <cstring>
#include <fstream>
#include <system_error>

#include "app/FileHelpers.h"
#include "app/GuiUtilities.h"
#include "app/Logging.h"
#include "sessions/SessionFileIo.h"

namespace orbel::studio::gui {
namespace {

constexpr char kScreenshots[] = "screenshots";

// Whether a new file can be made in the folder: permissions alone do not tell (read-only
// mounts, other owners), so one is made and removed.
bool TakesNewFiles(const std::filesystem::path& folder) {
    const std::filesystem::path probe = folder / ".orbel-write-probe";
    {
        std::ofstream out(probe, std::ios::binary | std::ios::trunc);
        if (!out) {
            return false;
        }
    }
    std::error_code ignored;
    std::filesystem::remove(probe, ignored);
    return true;
}

}  // namespace

ExportFolder ChooseExportFolder(const std::vector<std::filesystem::path>& candidates) {
    ExportFolder result;
    std::error_code lastError = std::make_error_code(std::errc::no_such_file_or_directory);
    std::filesystem::path lastPath;
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        const std::filesystem::path& folder = candidates[i];
        std::error_code error;
        std::filesystem::create_directories(folder, error);
        if (!error && !std::filesystem::is_directory(folder, error)) {
            error = std::make_error_code(std::errc::not_a_directory);
        }
        if (!error && !TakesNewFiles(folder)) {
            error = std::make_error_code(std::errc::permission_denied);
        }
        if (!error) {
            result.folder = folder;
            result.fallback = i > 0;
            return result;
        }
        if (i == 0) {
            result.whyNotFirst = folder.string() + ": " + error.message();
        }
        lastError = error;
        lastPath = folder;
    }
    throw std::filesystem::filesystem_error("create_directory", lastPath, lastError);
}

std::vector<std::filesystem::path> ScreenshotFolderCandidates() {
    std::vector<std::filesystem::path> candidates;
    const std::filesystem::path executableFolder = ExecutableDirectory();
    if (!executableFolder.empty()) {
        candidates.push_back(executableFolder / kScreenshots);
    }
    try {
        candidates.push_back(AppDataDir() / kScreenshots);
    } catch (const std::exception&) {
        // No application-data folder: the executable's folder is the only choice.
    }
    return candidates;
}

std::filesystem::path ExportFilePath(const ExportFolder& folder, const std::string& viewName) {
    return ExportFilePath(folder, viewName, std::time(nullptr));
}

std::filesystem::path ExportFilePath(const ExportFolder& folder, const std::string& viewName, std::time_t at) {
    // Names go by the second: a second export within it must not replace the first.
    const std::filesystem::path named = TimestampedFileName(viewName, "png", at);
    return UnusedFilePath(folder.folder, named.stem().string(), named.extension().string());
}

std::filesystem::path NewScreenshotPath(const std::string& viewName) {
    const ExportFolder folder = ChooseExportFolder(ScreenshotFolderCandidates());
    if (folder.fallback) {
        Log("Screenshots cannot be saved beside the program (" + folder.whyNotFirst + "); saving into " +
                folder.folder.string(),
            log_level::kInfo);
    }
    return ExportFilePath(folder, viewName);
}

bool WritePngBottomUp(const std::filesystem::path& path, int width, int height, int components,
                      const std::vector<uint8_t>& pixels) {
    if (width < 1 || height < 1 || components < 1 || components > 4) {
        return false;
    }
    const std::size_t stride = static_cast<std::size_t>(width) * static_cast<std::size_t>(components);
    if (pixels.size() < stride * static_cast<std::size_t>(height)) {
        return false;
    }
    // Rows are turned here rather than through the writer's process-wide flip setting.
    std::vector<uint8_t> topDown(stride * static_cast<std::size_t>(height));
    for (int row = 0; row < height; ++row) {
        std::memcpy(topDown.data() + static_cast<std::size_t>(row) * stride,
                    pixels.data() + static_cast<std::size_t>(height - 1 - row) * stride, stride);
    }
    return stbi_write_png(path.c_str(), width, height, components, topDown.data(), static_cast<int>(stride)) != 0;
}

}  // namespace orbel::studio::gui
