// Gathering a frame's points from a QPC file and writing them as CSV text or PCD records.
#include "sessions/FramePoints.h"

#include <charconv>
#include <cstring>
#include <stdexcept>

#include <fmt/format.h>

#include "app/Logging.h"
#include "sessions/QpcFile.h"

namespace orbel::studio {
namespace {

namespace fs = std::filesystem;

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

}  // namespace

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

std::optional<FramePoints> ReadFramePoints(const fs::path& input, const std::string& tag, bool skipBadLines) {
    std::vector<uint8_t> bytes;
    try {
        ReadQpcFile(input, bytes);
    } catch (const std::exception& e) {
        Log(tag + " Error opening " + input.string(), log_level::kError);
        Log(tag + " " + e.what(), log_level::kError);
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
            Log(tag + " Deserialize error: " + e.what(), log_level::kError);
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

FrameData ToFrameData(const FramePoints& points, const std::string& sourceName) {
    FrameData frame;
    frame.sourceName = sourceName;
    frame.frameNumber = static_cast<int32_t>(points.frameNumber);
    const size_t n = points.Count();
    frame.xyz.resize(3 * n);
    for (size_t i = 0; i < n; ++i) {
        frame.xyz[3 * i] = points.x[i];
        frame.xyz[3 * i + 1] = points.y[i];
        frame.xyz[3 * i + 2] = points.z[i];
    }
    frame.signal = points.reflectivity;
    frame.ambient.assign(points.ambient.begin(), points.ambient.end());
    frame.rgb = points.rgb;
    frame.timestamps = points.timestamps;
    return frame;
}

std::string CsvText(const FramePoints& points) {
    std::string text;
    text.reserve(64 + points.Count() * 96);
    text += "# frameNumber=";
    AppendInteger(text, points.frameNumber);
    text += "\n# timestamp_us=";
    AppendInteger(text, points.alternateTimestamp);
    text += "\nx_mm,y_mm,z_mm,reflectivity,ambient,confidence,distance_mm";
    text += points.coloured ? ",red,green,blue\n" : "\n";
    for (size_t i = 0; i < points.Count(); ++i) {
        for (const float value : {points.x[i], points.y[i], points.z[i], points.reflectivity[i]}) {
            AppendNumber(text, value);
            text += ',';
        }
        AppendInteger(text, points.ambient[i]);
        text += ',';
        AppendInteger(text, points.confidence[i]);
        text += ',';
        AppendNumber(text, points.distance[i]);
        if (points.coloured) {
            for (size_t c = 0; c < 3; ++c) {
                text += ',';
                AppendInteger(text, static_cast<unsigned>(points.rgb[3 * i + c]));
            }
        }
        text += '\n';
    }
    return text;
}

void WritePcd(AtomicFile& file, const FramePoints& points) {
    const size_t n = points.Count();
    std::string header = "# .PCD v0.7 - Point Cloud Data file\n";
    header += fmt::format("# frameNumber {}\n# timestamp_us {}\nVERSION 0.7\n", points.frameNumber,
                          points.alternateTimestamp);
    if (points.coloured) {
        header += "FIELDS x y z rgb intensity\nSIZE 4 4 4 4 4\nTYPE F F F F F\nCOUNT 1 1 1 1 1\n";
    } else {
        header += "FIELDS x y z intensity\nSIZE 4 4 4 4\nTYPE F F F F\nCOUNT 1 1 1 1\n";
    }
    header += fmt::format("WIDTH {}\nHEIGHT 1\nVIEWPOINT 0 0 0 1 0 0 0\nPOINTS {}\nDATA binary\n", n, n);

    const size_t record = points.coloured ? 20 : 16;
    std::vector<uint8_t> data(n * record);
    uint8_t* at = data.data();
    for (size_t i = 0; i < n; ++i) {
        std::memcpy(at, &points.x[i], 4);
        std::memcpy(at + 4, &points.y[i], 4);
        std::memcpy(at + 8, &points.z[i], 4);
        at += 12;
        if (points.coloured) {
            const uint32_t rgb = uint32_t{points.rgb[3 * i]} << 16 | uint32_t{points.rgb[3 * i + 1]} << 8 |
                                 uint32_t{points.rgb[3 * i + 2]};
            std::memcpy(at, &rgb, 4);
            at += 4;
        }
        std::memcpy(at, &points.reflectivity[i], 4);
        at += 4;
    }
    file.Write(header);
    file.Write(data.data(), data.size());
}

}  // namespace orbel::studio
