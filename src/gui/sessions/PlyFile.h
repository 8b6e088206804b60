// PLY point files: WritePly writes one FrameData as binary little-endian PLY with a fixed
// header vocabulary; ReadPly reads ascii and binary PLY files, the program's own and other
// programs', into a FrameData.
//
// The reader takes the header's elements and properties as declared (whole words), reads
// the vertex element and steps over any other element (a face list before the vertices, a
// camera element after them). A body that ends before its declared vertices gives the whole
// vertices that are there, and says so. It refuses, with a reason, what it cannot read
// soundly: no "ply" line, an unknown format or property type, an element before the vertices
// that ends early, no vertex at all in the body, a value that does not fit its type or
// property. It never reserves memory for a count the file does not back. Free functions, any
// thread.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "app/FrameData.h"

namespace orbel::studio {

// Vertex properties x, y, z (float), then signal, ambient (float), red, green, blue (uchar)
// and timestamp (double) for each array holding one value per point (three colour bytes a
// point); comments frameNumber, originalFilename (line breaks in the name become blanks) and
// width/height when both are positive. The file appears under its name only when complete.
// Throws std::runtime_error "FrameData contains no points.", "Cannot open output file: "
// + path or "Write error while exporting PLY: " + path, the last two followed by the
// system's reason in brackets when it gave one.
void WritePly(const std::filesystem::path& path, const FrameData& frame);

// The frame that a PLY file's bytes hold: per vertex x, y, z (float or double), signal
// (float "signal", "reflectivity" or "intensity"), ambient (float), colour (uchar red/r,
// green/g, blue/b) and time stamp (double "timestamp"); the frameNumber and
// originalFilename comments. Throws std::runtime_error with the reason it refuses them.
// `shortBody`, when given, receives the declared and the read vertex counts (they differ
// when the body is cut short). Without a frameNumber comment the frame number is
// `unnamedFrameNumber`, or 0.
struct PlyShortBody {
    uint64_t declared = 0;
    uint64_t read = 0;
};
std::unique_ptr<FrameData> ParsePly(std::span<const uint8_t> bytes, PlyShortBody* shortBody = nullptr,
                                    std::optional<int32_t> unnamedFrameNumber = std::nullopt);

// ParsePly of a file; its name is the source name unless the file names its original. A
// file without a frameNumber comment takes the number in its name (FrameNumberInName:
// frame_00111601.ply is frame 111601), or 0 when the name holds none.
// Throws std::runtime_error with the reason when it cannot be read, logging nothing (the
// replay tells each file once); `shortBody` as for ParsePly.
std::unique_ptr<FrameData> LoadPly(const std::filesystem::path& path, PlyShortBody* shortBody = nullptr);

// "[PLY] The file is cut short: only R of the D vertices its header declares were read: <path>".
std::string PlyCutShortWarning(const PlyShortBody& counts, const std::filesystem::path& path);

// LoadPly, telling what went wrong in the log.
// None when the file cannot be opened (silently: the caller names the file) or is refused
// ("[PLY] <reason>: <path>" at error level). A body cut short is read as far as it goes,
// with the warning "[PLY] The file is cut short: only R of the D vertices its header declares
// were read: <path>".
std::unique_ptr<FrameData> ReadPly(const std::filesystem::path& path);

}  // namespace orbel::studio
