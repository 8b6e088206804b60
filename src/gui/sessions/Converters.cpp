// The QPC converters. Each reads one file whole, cuts it into its 56 lines (size / 56 bytes
// each), lets the SDK's point cloud check and decode every line, gathers the frame's points
// and writes the output through a temporary name.
#include "sessions/Converters.h"

#include <algorithm>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "app/Logging.h"
#include "sessions/FramePoints.h"
#include "sessions/PlyFile.h"
#include "sessions/QpcFile.h"
#include "sessions/SessionFileIo.h"

namespace orbel::studio {
namespace {

namespace fs = std::filesystem;

constexpr int kLevelInfo = 2;
constexpr int kLevelWarning = 3;
constexpr int kLevelError = 4;

bool SamePath(const fs::path& a, const fs::path& b) {
    std::error_code error;
    if (fs::exists(a, error) && fs::exists(b, error)) {
        return fs::equivalent(a, b, error);
    }
    return fs::weakly_canonical(a, error) == fs::weakly_canonical(b, error);
}

using Converter = bool (*)(const fs::path&, const fs::path&, bool);

}  // namespace

bool QPC2PLY(const fs::path& input, const fs::path& output, bool verbose) {
    try {
        const auto points = ReadFramePoints(input, "[QPC2PLY]", false);
        if (!points) {
            return false;
        }
        const FrameData frame = ToFrameData(*points, input.filename().string());
        WritePly(output, frame);
        if (verbose) {
            Log("[QPC2PLY] Exported PLY: " + output.string(), kLevelInfo);
        }
        return true;
    } catch (const std::exception& e) {
        Log(std::string("[QPC2PLY] ") + e.what() + ": " + output.string() + " Skipping file...", kLevelWarning);
        return false;
    }
}

bool QPC2CSV(const fs::path& input, const fs::path& output, bool verbose) {
    try {
        const auto points = ReadFramePoints(input, "[QPC2CSV]", true);
        if (!points) {
            return false;
        }
        std::optional<AtomicFile> file;
        try {
            file.emplace(output);
        } catch (const std::exception&) {
            Log("[QPC2CSV] Could not create: " + output.string(), kLevelError);
            return false;
        }
        file->Write(CsvText(*points));
        file->Commit();
        if (verbose) {
            Log("[QPC2CSV] Exported CSV: " + output.string(), kLevelInfo);
        }
        return true;
    } catch (const std::exception& e) {
        Log(std::string("[QPC2CSV] ") + e.what() + ": " + output.string() + " Skipping file...", kLevelWarning);
        return false;
    }
}

bool QPC2PCD(const fs::path& input, const fs::path& output, bool verbose) {
    try {
        const auto points = ReadFramePoints(input, "[QPC2PCD]", false);
        if (!points) {
            return false;
        }
        std::optional<AtomicFile> file;
        try {
            file.emplace(output);
        } catch (const std::exception&) {
            Log("[QPC2PCD] Could not create: " + output.string(), kLevelError);
            return false;
        }
        WritePcd(*file, *points);
        file->Commit();
        if (verbose) {
            Log("[QPC2PCD] Exported PCD: " + output.string(), kLevelInfo);
        }
        return true;
    } catch (const std::exception& e) {
        Log(std::string("[QPC2PCD] ") + e.what() + ": " + output.string() + " Skipping file...", kLevelWarning);
        return false;
    }
}

ConversionResult ConvertFolder(std::shared_ptr<std::atomic<bool>> cancel, const fs::path& input,
                               const fs::path& output, FileType type, const ConversionProgress& progress) {
    Converter converter = nullptr;
    switch (type) {
        case FileType::Ply: converter = &QPC2PLY; break;
        case FileType::Pcd: converter = &QPC2PCD; break;
        case FileType::Csv: converter = &QPC2CSV; break;
        default: throw std::runtime_error("Unsupported output format: " + FileTypeToExtension(type));
    }
    const std::string extension = FileTypeToExtension(type);

    // Frames in frame-number order; names without one keep their place after them, by path.
    std::vector<fs::path> files = ListQpcFilesRecursive(input);
    std::vector<std::pair<uint64_t, fs::path>> keyed;
    keyed.reserve(files.size());
    for (auto& file : files) {
        keyed.emplace_back(ExtractFileId(file).value_or(UINT64_MAX), std::move(file));
    }
    std::sort(keyed.begin(), keyed.end());

    ConversionResult result;
    result.total = keyed.size();
    Log(fmt::format("Found {} QPC files in {}", result.total, input.string()), kLevelInfo);
    if (keyed.empty()) {
        throw std::runtime_error("No QPC files found");
    }
    const fs::path folder = output / ("frames_" + extension);
    EnsureDirectory(folder);
    Log("Processing conversion to " + extension, kLevelInfo);

    std::set<fs::path> written;
    for (size_t i = 0; i < keyed.size(); ++i) {
        if (cancel && cancel->load()) {
            result.cancelled = true;
            return result;
        }
        const fs::path& source = keyed[i].second;
        fs::path target = folder / source.filename();
        target.replace_extension("." + extension);
        if (SamePath(source, target)) {
            Log("[Converter] Refusing to write over the input file " + source.string(), kLevelError);
            ++result.failed;
        } else {
            if (!written.insert(target).second) {
                Log("[Converter] " + source.string() + " has the name of an earlier input; " + target.string() +
                        " is written again",
                    kLevelWarning);
            }
            if (converter(source, target, false)) {
                ++result.converted;
            } else {
                ++result.failed;
            }
        }
        if (progress) {
            progress(i + 1, result.total);
        }
    }
    return result;
}

}  // namespace orbel::studio
