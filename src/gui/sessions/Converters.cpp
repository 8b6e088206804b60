// The QPC converters. Each reads one file whole, cuts it into its 56 lines (size / 56 bytes
// each), lets the SDK's point cloud check and decode every line, gathers the frame's points
// and writes the output through a temporary name.
#include "sessions/Converters.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include <fmt/format.h>

#include <orbel/sdk/IPointCloud.h>

#include "app/FrameData.h"
#include "app/Logging.h"
#include "sessions/PlyFile.h"
#include "sessions/QpcFile.h"
#include "sessions/SessionFileIo.h"

namespace orbel::studio {
namespace {

namespace fs = std::filesystem;

constexpr int kLevelInfo = 2;
constexpr int kLevelWarning = 3;
constexpr int kLevelError = 4;

// The points of one frame, line after line in file order.
struct FramePoints {
    uint32_t frameNumber = 0;
    uint64_t alternateTimestamp = 0;
    bool coloured = false;  // some line carried colours; rgb then has 3 bytes per point
    std::vector<float> x, y, z, reflectivity, distance;
    std::vector<uint16_t> ambient;
    std::vector<uint32_t> confidence;
    std::vector<uint64_t> timestamps;
    std::vector<uint8_t> rgb;

    size_t Count() const { return x.size(); }
};

void AppendLine(FramePoints& points, orbel::sdk::IPointCloud& line) {
    const auto& x = line.GetX();
    const size_t n = x.size();
    points.x.insert(points.x.end(), x.begin(), x.end());
    points.y.insert(points.y.end(), line.GetY().begin(), line.GetY().end());
    points.z.insert(points.z.end(), line.GetZ().begin(), line.GetZ().end());
    points.reflectivity.insert(points.reflectivity.end(), line.GetReflectivity().begin(), line.GetReflectivity().end());
    points.distance.insert(points.distance.end(), line.GetDistance().begin(), line.GetDistance().end());
    points.ambient.insert(points.ambient.end(), line.GetAmbient().begin(), line.GetAmbient().end());
    points.confidence.insert(points.confidence.end(), line.GetConfidence().begin(), line.GetConfidence().end());
    points.timestamps.insert(points.timestamps.end(), n, line.GetTimestamp());
    const auto& colours = line.GetColors();
    if (colours.size() == n) {
        points.coloured = points.coloured || n > 0;
        for (const orbel::sdk::RGB& colour : colours) {
            points.rgb.insert(points.rgb.end(), {colour.r, colour.g, colour.b});
        }
    } else {
        points.rgb.insert(points.rgb.end(), 3 * n, uint8_t{0});
    }
}

// The frame of a QPC file; none when the file cannot be read (logged as "<tag> Error
// opening <input>"). A malformed line throws, unless `skipBadLines`, which logs it and
// leaves it out; a file none of whose lines can be read throws.
std::optional<FramePoints> ReadFramePoints(const fs::path& input, const std::string& tag, bool skipBadLines) {
    std::vector<uint8_t> bytes;
    try {
        ReadWholeFile(input, kMaxQpcFileBytes, bytes);
    } catch (const std::exception& e) {
        Log(tag + " Error opening " + input.string(), kLevelError);
        Log(tag + " " + e.what(), kLevelError);
        return std::nullopt;
    }
    const size_t lineBytes = bytes.size() / kFrameLineCount;
    FramePoints points;
    auto cloud = orbel::sdk::CreatePointCloud();
    size_t linesRead = 0;
    for (size_t i = 0; i < kFrameLineCount; ++i) {
        try {
            cloud->Deserialize(bytes.data() + i * lineBytes, lineBytes);
        } catch (const std::exception& e) {
            if (!skipBadLines) {
                throw;
            }
            Log(tag + " Deserialize error: " + e.what(), kLevelError);
            continue;
        }
        if (i == 0) {
            points.frameNumber = cloud->GetMetadata().frameNumber;
            points.alternateTimestamp = cloud->GetAlternateTimestamp();
        }
        AppendLine(points, *cloud);
        ++linesRead;
    }
    if (linesRead == 0) {
        throw std::runtime_error("No line of the frame could be read");
    }
    if (!points.coloured) {
        points.rgb.clear();
    }
    return points;
}

// printf's "%g": six significant digits, what a default-formatted stream writes.
void AppendNumber(std::string& out, float value) {
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::general, 6);
    out.append(text, result.ptr);
}

template <typename Integer>
void AppendInteger(std::string& out, Integer value) {
    char text[24];
    const auto result = std::to_chars(text, text + sizeof text, value);
    out.append(text, result.ptr);
}

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
        FrameData frame;
        frame.sourceName = input.filename().string();
        frame.frameNumber = static_cast<int32_t>(points->frameNumber);
        const size_t n = points->Count();
        frame.xyz.resize(3 * n);
        for (size_t i = 0; i < n; ++i) {
            frame.xyz[3 * i] = points->x[i];
            frame.xyz[3 * i + 1] = points->y[i];
            frame.xyz[3 * i + 2] = points->z[i];
        }
        frame.signal = points->reflectivity;
        frame.ambient.assign(points->ambient.begin(), points->ambient.end());
        frame.rgb = points->rgb;
        frame.timestamps = points->timestamps;
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
        std::string text;
        text.reserve(64 + points->Count() * 96);
        text += "# frameNumber=";
        AppendInteger(text, points->frameNumber);
        text += "\n# timestamp_us=";
        AppendInteger(text, points->alternateTimestamp);
        text += "\nx_mm,y_mm,z_mm,reflectivity,ambient,confidence,distance_mm";
        text += points->coloured ? ",red,green,blue\n" : "\n";
        for (size_t i = 0; i < points->Count(); ++i) {
            AppendNumber(text, points->x[i]);
            text += ',';
            AppendNumber(text, points->y[i]);
            text += ',';
            AppendNumber(text, points->z[i]);
            text += ',';
            AppendNumber(text, points->reflectivity[i]);
            text += ',';
            AppendInteger(text, points->ambient[i]);
            text += ',';
            AppendInteger(text, points->confidence[i]);
            text += ',';
            AppendNumber(text, points->distance[i]);
            if (points->coloured) {
                for (size_t c = 0; c < 3; ++c) {
                    text += ',';
                    AppendInteger(text, static_cast<unsigned>(points->rgb[3 * i + c]));
                }
            }
            text += '\n';
        }
        std::optional<AtomicFile> file;
        try {
            file.emplace(output);
        } catch (const std::exception&) {
            Log("[QPC2CSV] Could not create: " + output.string(), kLevelError);
            return false;
        }
        file->Write(text);
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
        const size_t n = points->Count();
        std::string header = "# .PCD v0.7 - Point Cloud Data file\n";
        header += fmt::format("# frameNumber {}\n# timestamp_us {}\nVERSION 0.7\n", points->frameNumber,
                              points->alternateTimestamp);
        if (points->coloured) {
            header += "FIELDS x y z rgb intensity\nSIZE 4 4 4 4 4\nTYPE F F F F F\nCOUNT 1 1 1 1 1\n";
        } else {
            header += "FIELDS x y z intensity\nSIZE 4 4 4 4\nTYPE F F F F\nCOUNT 1 1 1 1\n";
        }
        header += fmt::format("WIDTH {}\nHEIGHT 1\nVIEWPOINT 0 0 0 1 0 0 0\nPOINTS {}\nDATA binary\n", n, n);

        const size_t record = points->coloured ? 20 : 16;
        std::vector<uint8_t> data(n * record);
        uint8_t* at = data.data();
        for (size_t i = 0; i < n; ++i) {
            std::memcpy(at, &points->x[i], 4);
            std::memcpy(at + 4, &points->y[i], 4);
            std::memcpy(at + 8, &points->z[i], 4);
            at += 12;
            if (points->coloured) {
                const uint32_t rgb = uint32_t{points->rgb[3 * i]} << 16 | uint32_t{points->rgb[3 * i + 1]} << 8 |
                                     uint32_t{points->rgb[3 * i + 2]};
                std::memcpy(at, &rgb, 4);
                at += 4;
            }
            std::memcpy(at, &points->reflectivity[i], 4);
            at += 4;
        }
        std::optional<AtomicFile> file;
        try {
            file.emplace(output);
        } catch (const std::exception&) {
            Log("[QPC2PCD] Could not create: " + output.string(), kLevelError);
            return false;
        }
        file->Write(header);
        file->Write(data.data(), data.size());
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
