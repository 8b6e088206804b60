// PNG exports of the 3D and 2D views: where the file goes and how its pixels are written.
// The "screenshots" folder beside the executable is used when it can be created and
// written to (often not on Linux, where programs live in system folders); otherwise
// "screenshots" in the application-data folder. File names are the local time
// "%y-%m-%d-%H-%M-%S", "_", the view's name ("3d" or "2d") and ".png"; a name already taken
// (a second export within the same second) gets "_1", "_2", ... before ".png".
//
// Stateless free functions, safe on any thread; failures are thrown or returned, never
// logged here: the views tell the user.
#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

namespace orbel::studio::gui {

struct ExportFolder {
    std::filesystem::path folder;
    bool fallback = false;  // not the first candidate
    std::string whyNotFirst;  // why the first candidate was not used, when it was not
};

// The first of `candidates` that exists or can be created as a folder and takes a new
// file. Throws std::filesystem::filesystem_error (operation "create_directory") when
// none does.
ExportFolder ChooseExportFolder(const std::vector<std::filesystem::path>& candidates);

// "screenshots" beside the executable, then "screenshots" in the application-data folder
// (either left out when the system cannot tell it).
std::vector<std::filesystem::path> ScreenshotFolderCandidates();

// A full path for an export of view `viewName` in the chosen folder, of no file there yet.
std::filesystem::path ExportFilePath(const ExportFolder& folder, const std::string& viewName);
std::filesystem::path ExportFilePath(const ExportFolder& folder, const std::string& viewName, std::time_t at);

// A full path for a new export of view `viewName` in the first screenshots folder that takes
// files. When that is not the folder beside the program, the log says why. Throws as
// ChooseExportFolder.
std::filesystem::path NewScreenshotPath(const std::string& viewName);

// Writes `pixels` (rows of width x components bytes, tightly packed, first row at the
// bottom of the picture, as OpenGL reads them) as a PNG whose first row is the top.
// False when the file could not be written.
bool WritePngBottomUp(const std::filesystem::path& path, int width, int height, int components,
                      const std::vector<uint8_t>& pixels);

}  // namespace orbel::studio::gui
