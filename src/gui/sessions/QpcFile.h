// QPC frame files: one lidar frame as the point-cloud message payloads of its 56 scan
// lines, back to back in line-index order, every line of one point type, one point count
// and one size L, so the file is 56 x L bytes (a remainder after 56 x L is ignored).
// This file owns the format: the readers that give a FrameData (replay) or one merged
// cloud (offline colorization), the writer that splits a merged 10,752-point cloud back
// into lines, and the writer of a recorded batch of line clouds.
//
// Every reader checks all 56 lines before using any (version bytes, one point type, one
// point count, each line long enough for its points, sizes in 64 bits, files above
// kMaxQpcFileBytes refused unread), so a damaged or hostile file is refused with a log line
// and nothing is read out of bounds. Free functions without shared state, any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include <orbel/sdk/IPointCloud.h>

#include "app/FrameData.h"

namespace orbel::studio {

inline constexpr size_t kFrameLineCount = 56;
// 56 lines of 192 points, the frame that offline colorization writes back.
inline constexpr size_t kQpcFramePoints = 10752;
// The largest file the readers take in; a frame of the sensor is well below 1 MiB.
inline constexpr uint64_t kMaxQpcFileBytes = 512ull << 20;

// Reads a QPC file's bytes once its size has been held against what 56 lines of the points
// its first line declares can take (their arrays and at most kMaxQpcLineSlackBytes more a
// line), so that a large file of something else is refused unread. Throws std::runtime_error
// with the reason: not a regular file, larger than kMaxQpcFileBytes or than its lines hold,
// a first line header that is not one.
inline constexpr uint64_t kMaxQpcLineSlackBytes = 64 * 1024;
void ReadQpcFile(const std::filesystem::path& path, std::vector<uint8_t>& bytes);

// 26, 29 and 69 for the point types 0x60, 0x66 and 0x6F; any other type throws
// std::runtime_error "Unknown point cloud type".
size_t BytesPerPoint(uint8_t pointType);

// One RGB triple per point.
bool HasPerPointColours(orbel::sdk::IPointCloud& cloud);

// The 56 line payloads of a QPC file's bytes, each checked as the file comment says.
// Throws std::runtime_error naming the first fault.
std::vector<std::span<const uint8_t>> SplitQpcLines(std::span<const uint8_t> bytes);

// The frame that a QPC file's bytes hold: coordinates (scaled by 0.001 with inMetres),
// reflectivity as signal, ambient, colours when the lines carry them, and each line's time
// stamp once per point; as in a live frame, line 0's frame number, height 56 and width the
// points of line 0. Throws std::runtime_error.
std::unique_ptr<FrameData> DecodeQpcFrame(std::span<const uint8_t> bytes, bool inMetres);

// DecodeQpcFrame of a file, its name as the source name. Throws std::runtime_error with the
// reason when it cannot be read, logging nothing (the replay tells each file once).
std::unique_ptr<FrameData> LoadQpcFrame(const std::filesystem::path& path, bool inMetres);

// LoadQpcFrame, or none, with "Error opening <path>" or "[IO] <reason>: <path>" logged at
// error level, when it cannot be read.
std::unique_ptr<FrameData> ReadQpcFrame(const std::filesystem::path& path, bool inMetres);

// The file's lines merged into one cloud (AssembleFramePointCloud). None for an empty file
// (silently) and for a file that cannot be opened or read (logged as ReadQpcFrame does).
std::unique_ptr<orbel::sdk::IPointCloud> ReadQpcPointCloud(const std::filesystem::path& path);

// One cloud of all lines: line 0's metadata, the point header of N x lines points, then
// each field's values of every line in line order; type 0x66 when the lines carry colours,
// else 0x60 (0x6F lines become 0x66 followed by 40 zero bytes a point). Empty for no lines.
// Throws std::runtime_error when the lines differ in point type or count, or are too short.
std::unique_ptr<orbel::sdk::IPointCloud> AssembleFramePointCloud(const std::vector<std::vector<uint8_t>>& lines);

// Splits a merged 10,752-point cloud into 56 lines of 192 points, each carrying the
// cloud's first 255 metadata bytes with its own line index, and writes them. False, with a
// log line "[QPC] ...", on a wrong point count or any failure; the file then does not exist
// under its name (an earlier file of that name stays as it was).
bool WriteQpcFrame(const std::filesystem::path& path, orbel::sdk::IPointCloud& cloud);

// Why a recorded batch cannot be one QPC file (not 56 lines, or lines of different point
// counts); empty when it can.
std::string QpcBatchProblem(const std::vector<std::unique_ptr<orbel::sdk::IPointCloud>>& lines);

// Writes one recorded frame: its lines sorted by line index (the batch is reordered), of
// one point type (the widest among them, 0x60 < 0x66 < 0x6F, fields a line lacks written as
// zeros) and one size (shorter lines padded with zero bytes, which readers carry and never
// read). The file appears under its name only when complete. Throws std::runtime_error
// for a batch with a QpcBatchProblem and for any write failure.
void WriteQpcLines(const std::filesystem::path& path, std::vector<std::unique_ptr<orbel::sdk::IPointCloud>>& lines);

}  // namespace orbel::studio
