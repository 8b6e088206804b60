// QPC reading and writing. Line payloads are the SDK's point-cloud message layout:
// 255 metadata bytes, the point header (data version at 255, u32 point count at 256,
// point type at 264), then one array per field from 265, little-endian.
#include "sessions/QpcFile.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <stdexcept>

#include <fmt/format.h>

#include "app/Logging.h"
#include "sessions/SessionFileIo.h"

namespace orbel::studio {
namespace {

namespace fs = std::filesystem;

static_assert(std::endian::native == std::endian::little, "QPC payloads are copied as little-endian values");

constexpr size_t kMetadataBytes = 255;
constexpr size_t kMetadataVersionAt = 3;
constexpr uint8_t kMetadataVersion = 16;
constexpr size_t kLineIndexAt = 17;
constexpr size_t kDataVersionAt = 255;
constexpr uint8_t kDataVersion = 1;
constexpr size_t kPointCountAt = 256;
constexpr size_t kHeaderFloatAt = 260;
constexpr size_t kPointTypeAt = 264;
constexpr size_t kPointDataAt = 265;
constexpr uint8_t kTypePlain = 0x60;
constexpr uint8_t kTypeColoured = 0x66;
constexpr uint8_t kTypeExtended = 0x6F;
constexpr size_t kLinePoints = kQpcFramePoints / kFrameLineCount;

uint32_t U32At(std::span<const uint8_t> bytes, size_t at) {
    uint32_t value = 0;
    std::memcpy(&value, bytes.data() + at, sizeof value);
    return value;
}

void PutU32(uint8_t* at, uint32_t value) { std::memcpy(at, &value, sizeof value); }

bool IsColouredType(uint8_t type) { return type == kTypeColoured || type == kTypeExtended; }

// Orders the point types by what they carry: plain < coloured < extended.
int TypeRank(uint8_t type) { return type == kTypePlain ? 0 : type == kTypeColoured ? 1 : 2; }

struct LineHeader {
    uint8_t type = 0;
    uint32_t points = 0;
    uint64_t neededBytes = 0;  // metadata, point header and the point arrays
};

// The header of line `index` (at least its first kPointDataAt bytes), checked against the
// line's size.
LineHeader CheckLineHeader(std::span<const uint8_t> line, uint64_t lineSize, size_t index) {
    if (line.size() < kPointDataAt || lineSize < kPointDataAt) {
        throw std::runtime_error(fmt::format("Line {} of {} bytes is shorter than the {}-byte line header", index,
                                             lineSize, kPointDataAt));
    }
    if (line[kMetadataVersionAt] != kMetadataVersion) {
        throw std::runtime_error(fmt::format("Line {} has metadata version {}, expected {}", index,
                                             line[kMetadataVersionAt], kMetadataVersion));
    }
    if (line[kDataVersionAt] != kDataVersion) {
        throw std::runtime_error(
            fmt::format("Line {} has point data version {}, expected {}", index, line[kDataVersionAt], kDataVersion));
    }
    LineHeader header;
    header.type = line[kPointTypeAt];
    if (header.type != kTypePlain && header.type != kTypeColoured && header.type != kTypeExtended) {
        throw std::runtime_error(fmt::format("Line {} has unknown point type 0x{:02X}", index, header.type));
    }
    header.points = U32At(line, kPointCountAt);
    header.neededBytes = kPointDataAt + uint64_t{header.points} * BytesPerPoint(header.type);
    if (header.neededBytes > lineSize) {
        throw std::runtime_error(fmt::format("Line {} needs {} bytes for its {} points, it has {}", index,
                                             header.neededBytes, header.points, lineSize));
    }
    return header;
}

// The header of line `index`, checked against its own size.
LineHeader CheckLine(std::span<const uint8_t> line, size_t index) { return CheckLineHeader(line, line.size(), index); }

// Every line checked, and all of line 0's type and point count.
LineHeader CheckLines(std::span<const std::span<const uint8_t>> lines) {
    LineHeader first;
    for (size_t i = 0; i < lines.size(); ++i) {
        const LineHeader header = CheckLine(lines[i], i);
        if (i == 0) {
            first = header;
            continue;
        }
        if (header.type != first.type) {
            throw std::runtime_error(fmt::format("Line {} has point type 0x{:02X}, line 0 has 0x{:02X}", i,
                                                 header.type, first.type));
        }
        if (header.points != first.points) {
            throw std::runtime_error(
                fmt::format("Line {} has {} points, line 0 has {}", i, header.points, first.points));
        }
    }
    return first;
}

std::unique_ptr<orbel::sdk::IPointCloud> Assemble(std::span<const std::span<const uint8_t>> lines) {
    if (lines.empty()) {
        return nullptr;
    }
    const LineHeader header = CheckLines(lines);
    const uint64_t total = uint64_t{header.points} * lines.size();
    if (total > UINT32_MAX) {
        throw std::runtime_error(fmt::format("A frame of {} points does not fit one point cloud", total));
    }
    const size_t n = header.points;
    const bool coloured = IsColouredType(header.type);
    const size_t record = BytesPerPoint(header.type);
    std::vector<uint8_t> merged(kPointDataAt + static_cast<size_t>(total) * record, 0);

    std::memcpy(merged.data(), lines[0].data(), kMetadataBytes);
    merged[kDataVersionAt] = kDataVersion;
    PutU32(merged.data() + kPointCountAt, static_cast<uint32_t>(total));
    PutU32(merged.data() + kHeaderFloatAt, 0);
    merged[kPointTypeAt] = coloured ? kTypeColoured : kTypePlain;

    size_t at = kPointDataAt;
    const auto gather = [&](size_t offset, size_t length) {
        for (const auto& line : lines) {
            std::memcpy(merged.data() + at, line.data() + kPointDataAt + offset, length);
            at += length;
        }
    };
    for (size_t field = 0; field < 5; ++field) {  // distance, x, y, z, reflectivity
        gather(field * 4 * n, 4 * n);
    }
    if (coloured) {
        gather(20 * n, 3 * n);
    }
    const size_t ambientAt = (coloured ? 23 : 20) * n;
    gather(ambientAt, 2 * n);
    gather(ambientAt + 2 * n, 4 * n);
    if (header.type == kTypeExtended) {
        at += 40 * static_cast<size_t>(total);
    }
    if (at != merged.size()) {
        throw std::runtime_error("Unexpected assembled frame size");
    }
    auto cloud = orbel::sdk::CreatePointCloud();
    cloud->Deserialize(merged);
    return cloud;
}

std::vector<std::span<const uint8_t>> AsSpans(const std::vector<std::vector<uint8_t>>& lines) {
    std::vector<std::span<const uint8_t>> spans;
    spans.reserve(lines.size());
    for (const auto& line : lines) {
        spans.emplace_back(line);
    }
    return spans;
}

// Reads a QPC file whole; logs and gives false when it cannot.
bool ReadQpcBytes(const fs::path& path, std::vector<uint8_t>& bytes) {
    std::error_code error;
    if (!fs::exists(path, error)) {
        Log("Error opening " + path.string(), log_level::kError);
        return false;
    }
    try {
        ReadQpcFile(path, bytes);
    } catch (const std::exception& e) {
        Log(std::string("[IO] ") + e.what() + ": " + path.string(), log_level::kError);
        return false;
    }
    return true;
}

// One line payload rewritten as `type` and `size` bytes: the fields it lacks are zeros,
// bytes after its point arrays follow the new arrays, the rest is zero padding.
void ConvertLine(std::span<const uint8_t> source, uint8_t type, size_t size, std::vector<uint8_t>& out) {
    const size_t n = U32At(source, kPointCountAt);
    const uint8_t sourceType = source[kPointTypeAt];
    const size_t sourceNeeded = kPointDataAt + n * BytesPerPoint(sourceType);
    const size_t targetNeeded = kPointDataAt + n * BytesPerPoint(type);
    out.assign(size, 0);
    std::memcpy(out.data(), source.data(), kPointDataAt);
    out[kPointTypeAt] = type;
    const uint8_t* from = source.data() + kPointDataAt;
    uint8_t* to = out.data() + kPointDataAt;
    std::memcpy(to, from, 20 * n);  // distance, x, y, z, reflectivity
    const bool sourceColoured = IsColouredType(sourceType);
    if (sourceColoured) {
        std::memcpy(to + 20 * n, from + 20 * n, 3 * n);
    }
    std::memcpy(to + (IsColouredType(type) ? 23 : 20) * n, from + (sourceColoured ? 23 : 20) * n, 6 * n);
    if (sourceType == kTypeExtended && type == kTypeExtended) {
        std::memcpy(to + 29 * n, from + 29 * n, 40 * n);
    }
    std::memcpy(out.data() + targetNeeded, source.data() + sourceNeeded, source.size() - sourceNeeded);
}

}  // namespace

void ReadQpcFile(const fs::path& path, std::vector<uint8_t>& bytes) {
    const uint64_t size = RegularFileSize(path);
    if (size > kMaxQpcFileBytes) {
        throw std::runtime_error(
            fmt::format("A QPC file of {} bytes is larger than the {} bytes accepted", size, kMaxQpcFileBytes));
    }
    const uint64_t lineBytes = size / kFrameLineCount;
    if (lineBytes >= kPointDataAt) {
        std::vector<uint8_t> head;
        ReadFilePrefix(path, kPointDataAt, head);
        const LineHeader header = CheckLineHeader(head, lineBytes, 0);
        if (lineBytes > header.neededBytes + kMaxQpcLineSlackBytes) {
            throw std::runtime_error(fmt::format(
                "A QPC file of {} bytes is larger than {} lines of {} points can be ({} bytes a line at most)", size,
                kFrameLineCount, header.points, header.neededBytes + kMaxQpcLineSlackBytes));
        }
    }
    ReadWholeFile(path, kMaxQpcFileBytes, bytes);
}

size_t BytesPerPoint(uint8_t pointType) {
    switch (pointType) {
        case kTypePlain: return 26;
        case kTypeColoured: return 29;
        case kTypeExtended: return 69;
        default: throw std::runtime_error("Unknown point cloud type");
    }
}

bool HasPerPointColours(orbel::sdk::IPointCloud& cloud) { return cloud.GetColors().size() == cloud.GetPointCount(); }

std::vector<std::span<const uint8_t>> SplitQpcLines(std::span<const uint8_t> bytes) {
    if (bytes.empty()) {
        throw std::runtime_error("The QPC file is empty");
    }
    if (bytes.size() > kMaxQpcFileBytes) {
        throw std::runtime_error(fmt::format("A QPC file of {} bytes is larger than the {} bytes accepted",
                                             bytes.size(), kMaxQpcFileBytes));
    }
    const size_t lineBytes = bytes.size() / kFrameLineCount;
    if (lineBytes < kPointDataAt) {
        throw std::runtime_error(fmt::format("A QPC file of {} bytes is too short for {} lines of at least {} bytes",
                                             bytes.size(), kFrameLineCount, kPointDataAt));
    }
    std::vector<std::span<const uint8_t>> lines;
    lines.reserve(kFrameLineCount);
    for (size_t i = 0; i < kFrameLineCount; ++i) {
        lines.push_back(bytes.subspan(i * lineBytes, lineBytes));
    }
    CheckLines(lines);
    return lines;
}

std::unique_ptr<FrameData> DecodeQpcFrame(std::span<const uint8_t> bytes, bool inMetres) {
    const auto lines = SplitQpcLines(bytes);
    auto frame = std::make_unique<FrameData>();
    frame->inMetres = inMetres;
    const size_t points = static_cast<size_t>(U32At(lines[0], kPointCountAt)) * kFrameLineCount;
    frame->xyz.reserve(points * 3);
    frame->signal.reserve(points);
    frame->ambient.reserve(points);
    frame->timestamps.reserve(points);

    auto cloud = orbel::sdk::CreatePointCloud();
    for (size_t i = 0; i < lines.size(); ++i) {
        cloud->Deserialize(lines[i].data(), lines[i].size());
        if (i == 0) {
            // As a live frame is made: line 0's frame number, 56 lines of line 0's points.
            frame->frameNumber = static_cast<int32_t>(cloud->GetMetadata().frameNumber);
            frame->width = static_cast<uint32_t>(cloud->GetPointCount());
            frame->height = static_cast<uint32_t>(kFrameLineCount);
        }
        const auto& x = cloud->GetX();
        const auto& y = cloud->GetY();
        const auto& z = cloud->GetZ();
        for (size_t p = 0; p < x.size(); ++p) {
            if (inMetres) {
                frame->xyz.push_back(static_cast<float>(x[p] * 0.001));
                frame->xyz.push_back(static_cast<float>(y[p] * 0.001));
                frame->xyz.push_back(static_cast<float>(z[p] * 0.001));
            } else {
                frame->xyz.push_back(x[p]);
                frame->xyz.push_back(y[p]);
                frame->xyz.push_back(z[p]);
            }
        }
        const auto& reflectivity = cloud->GetReflectivity();
        frame->signal.insert(frame->signal.end(), reflectivity.begin(), reflectivity.end());
        for (uint16_t ambient : cloud->GetAmbient()) {
            frame->ambient.push_back(static_cast<float>(ambient));
        }
        frame->timestamps.insert(frame->timestamps.end(), x.size(), cloud->GetTimestamp());
        for (const orbel::sdk::RGB& colour : cloud->GetColors()) {
            frame->rgb.push_back(colour.r);
            frame->rgb.push_back(colour.g);
            frame->rgb.push_back(colour.b);
        }
    }
    return frame;
}

std::unique_ptr<FrameData> LoadQpcFrame(const fs::path& path, bool inMetres) {
    std::vector<uint8_t> bytes;
    ReadQpcFile(path, bytes);
    auto frame = DecodeQpcFrame(bytes, inMetres);
    frame->sourceName = path.filename().string();
    return frame;
}

std::unique_ptr<FrameData> ReadQpcFrame(const fs::path& path, bool inMetres) {
    std::error_code error;
    if (!fs::exists(path, error)) {
        Log("Error opening " + path.string(), log_level::kError);
        return nullptr;
    }
    try {
        return LoadQpcFrame(path, inMetres);
    } catch (const std::exception& e) {
        Log(std::string("[IO] ") + e.what() + ": " + path.string(), log_level::kError);
        return nullptr;
    }
}

std::unique_ptr<orbel::sdk::IPointCloud> ReadQpcPointCloud(const fs::path& path) {
    std::vector<uint8_t> bytes;
    if (!ReadQpcBytes(path, bytes) || bytes.empty()) {
        return nullptr;
    }
    try {
        return Assemble(SplitQpcLines(bytes));
    } catch (const std::exception& e) {
        Log(std::string("[IO] ") + e.what() + ": " + path.string(), log_level::kError);
        return nullptr;
    }
}

std::unique_ptr<orbel::sdk::IPointCloud> AssembleFramePointCloud(const std::vector<std::vector<uint8_t>>& lines) {
    return Assemble(AsSpans(lines));
}

bool WriteQpcFrame(const fs::path& path, orbel::sdk::IPointCloud& cloud) {
    const size_t count = cloud.GetPointCount();
    if (count != kQpcFramePoints) {
        Log(fmt::format("[QPC] Unexpected point count: {}, expected {}", count, kQpcFramePoints), log_level::kError);
        return false;
    }
    try {
        const bool coloured = HasPerPointColours(cloud);
        const auto& x = cloud.GetX();
        const auto& y = cloud.GetY();
        const auto& z = cloud.GetZ();
        const auto& distance = cloud.GetDistance();
        const auto& reflectivity = cloud.GetReflectivity();
        const auto& ambient = cloud.GetAmbient();
        const auto& confidence = cloud.GetConfidence();
        const auto& colours = cloud.GetColors();
        const std::vector<uint8_t>& serialized = cloud.Serialize();
        if (serialized.size() < kMetadataBytes) {
            throw std::runtime_error("The cloud has no metadata");
        }

        std::unique_ptr<AtomicFile> file;
        try {
            file = std::make_unique<AtomicFile>(path);
        } catch (const std::exception&) {
            Log("[QPC] Failed to open " + path.string(), log_level::kError);
            return false;
        }
        const size_t record = coloured ? 29 : 26;
        const size_t n = kLinePoints;
        std::vector<uint8_t> line(kPointDataAt + n * record);
        for (size_t part = 0; part < kFrameLineCount; ++part) {
            std::fill(line.begin(), line.end(), 0);
            std::memcpy(line.data(), serialized.data(), kMetadataBytes);
            line[kLineIndexAt] = static_cast<uint8_t>(part);
            line[kDataVersionAt] = kDataVersion;
            PutU32(line.data() + kPointCountAt, static_cast<uint32_t>(n));
            line[kPointTypeAt] = coloured ? kTypeColoured : kTypePlain;
            const size_t first = part * n;
            uint8_t* at = line.data() + kPointDataAt;
            for (const std::vector<float>* field : {&distance, &x, &y, &z, &reflectivity}) {
                std::memcpy(at, field->data() + first, 4 * n);
                at += 4 * n;
            }
            if (coloured) {
                for (size_t p = 0; p < n; ++p) {
                    at[3 * p] = colours[first + p].r;
                    at[3 * p + 1] = colours[first + p].g;
                    at[3 * p + 2] = colours[first + p].b;
                }
                at += 3 * n;
            }
            std::memcpy(at, ambient.data() + first, 2 * n);
            at += 2 * n;
            std::memcpy(at, confidence.data() + first, 4 * n);
            if (!file->Write(line.data(), line.size())) {
                Log("[QPC] Failed while writing " + path.string(), log_level::kError);
                return false;
            }
        }
        try {
            file->Commit();
        } catch (const std::exception&) {
            Log("[QPC] Failed while writing " + path.string(), log_level::kError);
            return false;
        }
        return true;
    } catch (const std::exception& e) {
        Log(std::string("[QPC] ") + e.what(), log_level::kError);
        return false;
    }
}

std::string QpcBatchProblem(const std::vector<std::unique_ptr<orbel::sdk::IPointCloud>>& lines) {
    if (lines.size() != kFrameLineCount) {
        return fmt::format("the frame has {} lines, a QPC file holds {}", lines.size(), kFrameLineCount);
    }
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i] == nullptr) {
            return fmt::format("line {} of the frame is missing", i);
        }
        if (lines[i]->GetPointCount() != lines[0]->GetPointCount()) {
            return fmt::format("line {} has {} points, line {} has {}", lines[i]->GetMetadata().lineIndex,
                               lines[i]->GetPointCount(), lines[0]->GetMetadata().lineIndex,
                               lines[0]->GetPointCount());
        }
    }
    return {};
}

void WriteQpcLines(const fs::path& path, std::vector<std::unique_ptr<orbel::sdk::IPointCloud>>& lines) {
    if (std::string problem = QpcBatchProblem(lines); !problem.empty()) {
        throw std::runtime_error(problem);
    }
    std::stable_sort(lines.begin(), lines.end(), [](const auto& a, const auto& b) {
        return a->GetMetadata().lineIndex < b->GetMetadata().lineIndex;
    });

    std::vector<std::span<const uint8_t>> payloads;
    payloads.reserve(lines.size());
    uint8_t type = kTypePlain;
    for (auto& line : lines) {
        payloads.emplace_back(line->Serialize());
        const uint8_t lineType = payloads.back()[kPointTypeAt];
        if (TypeRank(lineType) > TypeRank(type)) {
            type = lineType;
        }
    }
    size_t size = 0;
    for (const auto& payload : payloads) {
        const size_t n = U32At(payload, kPointCountAt);
        const size_t trailing = payload.size() - (kPointDataAt + n * BytesPerPoint(payload[kPointTypeAt]));
        size = std::max(size, kPointDataAt + n * BytesPerPoint(type) + trailing);
    }

    AtomicFile file(path);
    std::vector<uint8_t> converted;
    for (const auto& payload : payloads) {
        bool written = false;
        if (payload[kPointTypeAt] == type && payload.size() == size) {
            written = file.Write(payload.data(), payload.size());
        } else {
            ConvertLine(payload, type, size, converted);
            written = file.Write(converted.data(), converted.size());
        }
        if (!written) {
            throw std::runtime_error("Write error: " + path.string());
        }
    }
    file.Commit();
}

}  // namespace orbel::studio
