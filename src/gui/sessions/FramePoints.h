// FramePoints: the points of one recorded frame as the converters gather them from a QPC
// file, line after line in file order, and the CSV and PCD forms of those points.
//
// Colours: when any line carries one colour per point, every point gets three colour bytes,
// zeros for the points of lines without, so no column is ever read past its end.
// Free functions without shared state, any thread.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <orbel/sdk/IPointCloud.h>

#include "app/FrameData.h"
#include "sessions/SessionFileIo.h"

namespace orbel::studio {

struct FramePoints {
    uint32_t frameNumber = 0;          // line 0's
    uint64_t alternateTimestamp = 0;   // line 0's, microseconds
    bool coloured = false;             // rgb then holds 3 bytes per point
    std::vector<float> x, y, z, reflectivity, distance;
    std::vector<uint16_t> ambient;
    std::vector<uint32_t> confidence;
    std::vector<uint64_t> timestamps;  // each point's line time stamp
    std::vector<uint8_t> rgb;

    size_t Count() const { return x.size(); }
};

// Appends one line's points.
void AppendLine(FramePoints& points, orbel::sdk::IPointCloud& line);

// The frame of a QPC file cut into its 56 lines (size / 56 bytes each); none when the file
// cannot be read (logged as "<tag> Error opening <input>"). A malformed line throws unless
// `skipBadLines`, which logs it ("<tag> Deserialize error: <reason>") and leaves it out; a
// file none of whose lines can be read throws.
std::optional<FramePoints> ReadFramePoints(const std::filesystem::path& input, const std::string& tag,
                                           bool skipBadLines);

// x, y, z interleaved, reflectivity as signal, ambient, colours and time stamps.
FrameData ToFrameData(const FramePoints& points, const std::string& sourceName);

// The CSV text: "# frameNumber=", "# timestamp_us=", the column line, one row per point;
// numbers as a default-formatted stream writes them (six significant digits), ambient,
// confidence and colours as exact integers.
std::string CsvText(const FramePoints& points);

// The PCD v0.7 header and binary records (x y z [rgb] intensity).
void WritePcd(AtomicFile& file, const FramePoints& points);

}  // namespace orbel::studio
