// The QPC converters. Each reads one file whole, cuts it into its 56 lines (size / 56 bytes
// each), lets the SDK's point cloud check and decode every line, gathers the frame's points
// and writes the output through a temporary name.
#include "sessions/Converters.h"

#include <algorithm>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <tuple>
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

bool SamePath(const fs::path& a, const fs::path& b) {
    std::error_code error;
    if (fs::exists(a, error) && fs::exists(b, error)) {
        return fs::equivalent(a, b, error);
    }
    return fs::weakly_canonical(a, error) == fs::weakly_canonical(b, error);
}

using Converter = bool (*)(const fs::path&, const fs::path&, bool);

// One file through one format: the input's points (bad lines left out with `skipBadLines`,
// else the whole file fails) to `write`, which writes the output and returns false once it
// has logged why it could not. Any exception is logged as "<tag> <reason>: <output>
// Skipping file...".
template <typename Write>
bool ConvertFile(const std::string& tag, const std::string& format, const fs::path& input, const fs::path& output,
                 bool verbose, bool skipBadLines, Write write) {
    try {
        const auto points = ReadFramePoints(input, tag, skipBadLines);
        if (!points || !write(*points)) {
            return false;
        }
        if (verbose) {
            Log(tag + " Exported " + format + ": " + output.string(), log_level::kInfo);
        }
        return true;
    } catch (const std::exception& e) {
        Log(tag + " " + e.what() + ": " + output.string() + " Skipping file...", log_level::kWarning);
        return false;
    }
}

// The output written by `fill` under a temporary name and committed; false, with "<tag>
// Could not create: <output> (<reason>)", when it cannot be created.
template <typename Fill>
bool WriteOutput(const std::string& tag, const fs::path& output, Fill fill) {
    std::optional<AtomicFile> file;
    try {
        file.emplace(output);
    } catch (const OutputFileError& e) {
        const std::string reason = e.Reason().empty() ? std::string() : " (" + e.Reason() + ")";
        Log(tag + " Could not create: " + output.string() + reason, log_level::kError);
        return false;
    }
    fill(*file);
    file->Commit();
    return true;
}

}  // namespace

bool QPC2PLY(const fs::path& input, const fs::path& output, bool verbose) {
    return ConvertFile("[QPC2PLY]", "PLY", input, output, verbose, false, [&](const FramePoints& points) {
        WritePly(output, ToFrameData(points, input.filename().string()));
        return true;
    });
}

bool QPC2CSV(const fs::path& input, const fs::path& output, bool verbose) {
    return ConvertFile("[QPC2CSV]", "CSV", input, output, verbose, true, [&](const FramePoints& points) {
        return WriteOutput("[QPC2CSV]", output, [&](AtomicFile& file) { file.Write(CsvText(points)); });
    });
}

bool QPC2PCD(const fs::path& input, const fs::path& output, bool verbose) {
    return ConvertFile("[QPC2PCD]", "PCD", input, output, verbose, false, [&](const FramePoints& points) {
        return WriteOutput("[QPC2PCD]", output, [&](AtomicFile& file) { WritePcd(file, points); });
    });
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

    // Frames in frame-number order; names without one come after them, by path (false
    // sorts before true).
    std::vector<fs::path> files = ListQpcFilesRecursive(input);
    std::vector<std::tuple<bool, uint64_t, fs::path>> keyed;
    keyed.reserve(files.size());
    for (auto& file : files) {
        const std::optional<uint64_t> number = FrameNumberInName(file);
        keyed.emplace_back(!number, number.value_or(0), std::move(file));
    }
    std::sort(keyed.begin(), keyed.end());

    ConversionResult result;
    result.total = keyed.size();
    Log(fmt::format("Found {} QPC files in {}", result.total, input.string()), log_level::kInfo);
    if (keyed.empty()) {
        throw std::runtime_error("No QPC files found");
    }
    const fs::path folder = output / ("frames_" + extension);
    EnsureDirectory(folder);
    Log("Processing conversion to " + extension, log_level::kInfo);
    Log("[Converter] Writing to " + folder.string(), log_level::kInfo);

    std::set<fs::path> written;
    for (size_t i = 0; i < keyed.size(); ++i) {
        if (cancel && cancel->load()) {
            result.cancelled = true;
            return result;
        }
        const fs::path& source = std::get<2>(keyed[i]);
        fs::path target = folder / source.filename();
        target.replace_extension("." + extension);
        if (SamePath(source, target)) {
            Log("[Converter] Refusing to write over the input file " + source.string(), log_level::kError);
            ++result.failed;
        } else {
            if (!written.insert(target).second) {
                Log("[Converter] " + source.string() + " has the name of an earlier input; " + target.string() +
                        " is written again",
                    log_level::kWarning);
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
