// Converters from recorded QPC frame files to PLY, CSV and PCD, one output file per frame,
// and the driver that converts a folder tree into one flat output folder.
//
// Output location: output folder / "frames_<ext>" / (input name with ".<ext>"). Every output
// appears under its name only when complete. Colours: when any line of a frame carries
// colours, every point gets three colour bytes (zeros for the points of lines without).
//
// CSV: "# frameNumber=<n>", "# timestamp_us=<alternate time stamp of line 0>", the column
// line "x_mm,y_mm,z_mm,reflectivity,ambient,confidence,distance_mm" (+ ",red,green,blue"),
// then one row per point; numbers as the default stream format writes them (six significant
// digits), confidence as an exact integer, colours as integers.
// PCD v0.7, binary: fields x y z [rgb] intensity, all 4 bytes, rgb packing red << 16 |
// green << 8 | blue; the frame number and time stamp as "#" comment lines.
//
// Contract: the converters report every failure by logging and return false; they never
// throw. ConvertFolder runs on the caller's thread (the converter panel's task), calls the
// progress callback there after each file and checks the cancel flag before each file.
#pragma once

#include <atomic>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>

#include "app/FileHelpers.h"

namespace orbel::studio {

struct ConversionResult {
    size_t total = 0;      // QPC files found
    size_t converted = 0;  // output files written
    size_t failed = 0;     // input files that gave no output
    bool cancelled = false;
};

using ConversionProgress = std::function<void(size_t done, size_t total)>;

// Converts every QPC file below `input` (frames in frame-number order, files whose names
// hold no frame number after them) into `output`/"frames_<ext>". Throws std::runtime_error
// "Unsupported output format: <ext>" for a type other than Ply, Pcd and Csv, "No QPC files
// found" when there are none, and the folder helpers' errors when the output folder cannot
// be made. A file whose output path would be the input itself is refused and counted failed.
ConversionResult ConvertFolder(std::shared_ptr<std::atomic<bool>> cancel, const std::filesystem::path& input,
                               const std::filesystem::path& output, FileType type,
                               const ConversionProgress& progress);

// One file each; true when the output was written. A malformed line fails the whole file
// for PLY and PCD; CSV leaves that line's points out and goes on.
bool QPC2PLY(const std::filesystem::path& input, const std::filesystem::path& output, bool verbose);
bool QPC2CSV(const std::filesystem::path& input, const std::filesystem::path& output, bool verbose);
bool QPC2PCD(const std::filesystem::path& input, const std::filesystem::path& output, bool verbose);

}  // namespace orbel::studio
