// PLY writing and reading. The reader works on the file's bytes in memory: the header is
// parsed into elements and their properties, then the body is walked element by element
// with every read bounds-checked against the bytes that are there.
#include "sessions/PlyFile.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <vector>

#include <fmt/format.h>

#include "app/FileHelpers.h"
#include "app/Logging.h"
#include "sessions/SessionFileIo.h"

namespace orbel::studio {
namespace {

namespace fs = std::filesystem;

// Foreign clouds may be large; anything above this is not a frame the program can show.
constexpr uint64_t kMaxPlyFileBytes = 2ull << 30;

// ---------------------------------------------------------------------------------------
// Writing

void AppendLittleEndian(std::vector<uint8_t>& out, const void* value, size_t size) {
    static_assert(std::endian::native == std::endian::little, "the body is written as it lies in memory");
    const auto* bytes = static_cast<const uint8_t*>(value);
    out.insert(out.end(), bytes, bytes + size);
}

std::string OneLine(std::string text) {
    std::replace_if(text.begin(), text.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
    return text;
}

// ---------------------------------------------------------------------------------------
// Reading

enum class Scalar { Int8, UInt8, Int16, UInt16, Int32, UInt32, Float32, Float64 };

std::optional<Scalar> ScalarFromName(std::string_view name) {
    static constexpr std::pair<std::string_view, Scalar> kNames[] = {
        {"char", Scalar::Int8},     {"int8", Scalar::Int8},       {"uchar", Scalar::UInt8},
        {"uint8", Scalar::UInt8},   {"short", Scalar::Int16},     {"int16", Scalar::Int16},
        {"ushort", Scalar::UInt16}, {"uint16", Scalar::UInt16},   {"int", Scalar::Int32},
        {"int32", Scalar::Int32},   {"uint", Scalar::UInt32},     {"uint32", Scalar::UInt32},
        {"float", Scalar::Float32}, {"float32", Scalar::Float32}, {"double", Scalar::Float64},
        {"float64", Scalar::Float64},
    };
    for (const auto& [text, scalar] : kNames) {
        if (text == name) {
            return scalar;
        }
    }
    return std::nullopt;
}

size_t ScalarSize(Scalar scalar) {
    switch (scalar) {
        case Scalar::Int8:
        case Scalar::UInt8: return 1;
        case Scalar::Int16:
        case Scalar::UInt16: return 2;
        case Scalar::Int32:
        case Scalar::UInt32:
        case Scalar::Float32: return 4;
        case Scalar::Float64: return 8;
    }
    return 0;
}

bool IsInteger(Scalar scalar) { return scalar != Scalar::Float32 && scalar != Scalar::Float64; }

std::pair<int64_t, int64_t> IntegerRange(Scalar scalar) {
    switch (scalar) {
        case Scalar::Int8: return {INT8_MIN, INT8_MAX};
        case Scalar::UInt8: return {0, UINT8_MAX};
        case Scalar::Int16: return {INT16_MIN, INT16_MAX};
        case Scalar::UInt16: return {0, UINT16_MAX};
        case Scalar::Int32: return {INT32_MIN, INT32_MAX};
        default: return {0, UINT32_MAX};
    }
}

// Where a vertex property's value goes.
enum class Target { None, X, Y, Z, Signal, Ambient, Red, Green, Blue, Timestamp };

Target TargetOf(Scalar type, std::string_view name) {
    if (type == Scalar::Float32) {
        if (name == "x") return Target::X;
        if (name == "y") return Target::Y;
        if (name == "z") return Target::Z;
        if (name == "signal" || name == "reflectivity" || name == "intensity") return Target::Signal;
        if (name == "ambient") return Target::Ambient;
    } else if (type == Scalar::UInt8) {
        if (name == "red" || name == "r") return Target::Red;
        if (name == "green" || name == "g") return Target::Green;
        if (name == "blue" || name == "b") return Target::Blue;
    } else if (type == Scalar::Float64) {
        if (name == "x") return Target::X;
        if (name == "y") return Target::Y;
        if (name == "z") return Target::Z;
        if (name == "timestamp") return Target::Timestamp;
    }
    return Target::None;
}

struct Property {
    std::string name;
    Scalar type = Scalar::Float32;  // the item type of a list
    bool isList = false;
    Scalar countType = Scalar::UInt8;
    Target target = Target::None;
};

struct Element {
    std::string name;
    uint64_t count = 0;
    std::vector<Property> properties;
};

enum class Format { None, Ascii, BinaryLittle, BinaryBig };

struct Header {
    Format format = Format::None;
    std::vector<Element> elements;
    std::optional<int32_t> frameNumber;
    std::optional<std::string> originalFilename;
    size_t bodyAt = 0;
    bool ended = false;  // an end_header line was found
};

std::vector<std::string_view> Words(std::string_view line) {
    std::vector<std::string_view> words;
    size_t at = 0;
    while (at < line.size()) {
        while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) ++at;
        const size_t start = at;
        while (at < line.size() && line[at] != ' ' && line[at] != '\t') ++at;
        if (at > start) words.push_back(line.substr(start, at - start));
    }
    return words;
}

template <typename T>
std::optional<T> ParseNumber(std::string_view text) {
    // from_chars takes no plus sign; some writers put one before positive values.
    if (text.size() > 1 && text.front() == '+' && text[1] != '-' && text[1] != '+') {
        text.remove_prefix(1);
    }
    T value{};
    const char* end = text.data() + text.size();
    const auto [ptr, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc() || ptr != end) {
        return std::nullopt;
    }
    return value;
}

// The next line from `at` (without "\n" and one trailing "\r"); false at the end.
bool NextLine(std::string_view text, size_t& at, std::string_view& line) {
    if (at >= text.size()) {
        return false;
    }
    const size_t end = text.find('\n', at);
    const size_t stop = end == std::string_view::npos ? text.size() : end;
    line = text.substr(at, stop - at);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    at = end == std::string_view::npos ? text.size() : end + 1;
    return true;
}

Header ParseHeader(std::string_view text) {
    Header header;
    size_t at = 0;
    std::string_view line;
    if (!NextLine(text, at, line) || line != "ply") {
        throw std::runtime_error("Not a PLY file: the first line is not \"ply\"");
    }
    while (NextLine(text, at, line)) {
        const auto words = Words(line);
        if (words.empty()) {
            continue;
        }
        const std::string_view keyword = words[0];
        if (keyword == "end_header") {
            header.ended = true;
            break;
        }
        if (keyword == "format") {
            const std::string_view kind = words.size() > 1 ? words[1] : std::string_view();
            if (kind == "ascii") header.format = Format::Ascii;
            else if (kind == "binary_little_endian") header.format = Format::BinaryLittle;
            else if (kind == "binary_big_endian") header.format = Format::BinaryBig;
            else throw std::runtime_error("Unknown PLY format \"" + std::string(kind) + "\"");
        } else if (keyword == "comment") {
            static constexpr std::string_view kOriginal = "comment originalFilename ";
            if (words.size() > 2 && words[1] == "frameNumber") {
                if (auto number = ParseNumber<uint32_t>(words[2])) {
                    header.frameNumber = static_cast<int32_t>(*number);
                } else if (auto negative = ParseNumber<int32_t>(words[2])) {
                    header.frameNumber = *negative;
                }
            } else if (line.starts_with(kOriginal)) {
                header.originalFilename = std::string(line.substr(kOriginal.size()));
            }
        } else if (keyword == "element") {
            if (words.size() < 3) {
                throw std::runtime_error("Incomplete element line \"" + std::string(line) + "\"");
            }
            const auto count = ParseNumber<uint64_t>(words[2]);
            if (!count) {
                throw std::runtime_error("Element \"" + std::string(words[1]) + "\" has an invalid count \"" +
                                         std::string(words[2]) + "\"");
            }
            header.elements.push_back(Element{std::string(words[1]), *count, {}});
        } else if (keyword == "property") {
            if (header.elements.empty()) {
                throw std::runtime_error("Property \"" + std::string(line) + "\" before any element");
            }
            Property property;
            if (words.size() >= 2 && words[1] == "list") {
                if (words.size() < 5) {
                    throw std::runtime_error("Incomplete list property \"" + std::string(line) + "\"");
                }
                const auto countType = ScalarFromName(words[2]);
                const auto itemType = ScalarFromName(words[3]);
                if (!countType || !IsInteger(*countType) || !itemType) {
                    throw std::runtime_error("Unknown property type in \"" + std::string(line) + "\"");
                }
                property.isList = true;
                property.countType = *countType;
                property.type = *itemType;
                property.name = std::string(words[4]);
            } else {
                if (words.size() < 3) {
                    throw std::runtime_error("Incomplete property \"" + std::string(line) + "\"");
                }
                const auto type = ScalarFromName(words[1]);
                if (!type) {
                    throw std::runtime_error("Unknown property type \"" + std::string(words[1]) + "\"");
                }
                property.type = *type;
                property.name = std::string(words[2]);
            }
            Element& element = header.elements.back();
            if (element.name == "vertex" && !property.isList) {
                property.target = TargetOf(property.type, property.name);
            }
            element.properties.push_back(std::move(property));
        }
        // Other lines (obj_info, blank words) carry nothing the program reads.
    }
    header.bodyAt = at;
    return header;
}

// One vertex being read: values start at zero and no colour.
struct Vertex {
    float x = 0, y = 0, z = 0, signal = 0, ambient = 0;
    uint8_t red = 0, green = 0, blue = 0;
    bool coloured = false;
    uint64_t timestamp = 0;
};

float NarrowToFloat(double value) {
    if (std::isfinite(value) && std::fabs(value) > std::numeric_limits<float>::max()) {
        return value > 0 ? std::numeric_limits<float>::infinity() : -std::numeric_limits<float>::infinity();
    }
    return static_cast<float>(value);
}

void Store(Vertex& vertex, const Property& property, double real, int64_t integer) {
    switch (property.target) {
        case Target::X: vertex.x = NarrowToFloat(real); break;
        case Target::Y: vertex.y = NarrowToFloat(real); break;
        case Target::Z: vertex.z = NarrowToFloat(real); break;
        case Target::Signal: vertex.signal = NarrowToFloat(real); break;
        case Target::Ambient: vertex.ambient = NarrowToFloat(real); break;
        case Target::Red: vertex.red = static_cast<uint8_t>(integer); vertex.coloured = true; break;
        case Target::Green: vertex.green = static_cast<uint8_t>(integer); vertex.coloured = true; break;
        case Target::Blue: vertex.blue = static_cast<uint8_t>(integer); vertex.coloured = true; break;
        case Target::Timestamp:
            // 2^64 is exactly representable; anything from there on, or negative, or not a
            // number, has no unsigned 64-bit value.
            if (!(real >= 0.0 && real < 18446744073709551616.0)) {
                throw std::runtime_error(fmt::format("Time stamp {} does not fit an unsigned 64-bit value", real));
            }
            vertex.timestamp = static_cast<uint64_t>(real);
            break;
        case Target::None: break;
    }
}

void Append(FrameData& frame, const Vertex& vertex) {
    frame.xyz.push_back(vertex.x);
    frame.xyz.push_back(vertex.y);
    frame.xyz.push_back(vertex.z);
    frame.signal.push_back(vertex.signal);
    frame.ambient.push_back(vertex.ambient);
    frame.timestamps.push_back(vertex.timestamp);
    if (vertex.coloured) {
        frame.rgb.push_back(vertex.red);
        frame.rgb.push_back(vertex.green);
        frame.rgb.push_back(vertex.blue);
    }
}

void Reserve(FrameData& frame, uint64_t vertices) {
    const auto n = static_cast<size_t>(vertices);
    frame.xyz.reserve(3 * n);
    frame.signal.reserve(n);
    frame.ambient.reserve(n);
    frame.timestamps.reserve(n);
}

template <typename Bits>
Bits Load(const uint8_t* at, bool swap) {
    Bits bits;
    std::memcpy(&bits, at, sizeof bits);
    if constexpr (sizeof(Bits) == 2) {
        return swap ? static_cast<Bits>(__builtin_bswap16(bits)) : bits;
    } else if constexpr (sizeof(Bits) == 4) {
        return swap ? __builtin_bswap32(bits) : bits;
    } else if constexpr (sizeof(Bits) == 8) {
        return swap ? __builtin_bswap64(bits) : bits;
    } else {
        return bits;
    }
}

// One value of a binary body, in the byte order the format line names, as a real number
// and, for integer types, as an integer.
std::pair<double, int64_t> Decode(const uint8_t* at, Scalar type, bool swap) {
    switch (type) {
        case Scalar::Int8: { const auto v = static_cast<int8_t>(at[0]); return {v, v}; }
        case Scalar::UInt8: return {at[0], at[0]};
        case Scalar::Int16: { const auto v = static_cast<int16_t>(Load<uint16_t>(at, swap)); return {v, v}; }
        case Scalar::UInt16: { const auto v = Load<uint16_t>(at, swap); return {v, v}; }
        case Scalar::Int32: { const auto v = static_cast<int32_t>(Load<uint32_t>(at, swap)); return {v, v}; }
        case Scalar::UInt32: { const auto v = Load<uint32_t>(at, swap); return {v, v}; }
        case Scalar::Float32: return {std::bit_cast<float>(Load<uint32_t>(at, swap)), 0};
        case Scalar::Float64: return {std::bit_cast<double>(Load<uint64_t>(at, swap)), 0};
    }
    return {0, 0};
}

// The body ran out: the vertices read before it are kept, what came before them is not.
class BodyEnds : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A binary body, every read checked against its end.
class BinaryBody {
public:
    BinaryBody(std::span<const uint8_t> bytes, bool bigEndian)
        : bytes_(bytes), swap_(bigEndian != (std::endian::native == std::endian::big)) {}

    size_t Remaining() const { return bytes_.size() - at_; }
    bool Swap() const { return swap_; }

    // The value as a real number and, for integer types, as an integer.
    std::pair<double, int64_t> Read(Scalar type, const char* what) {
        return Decode(Take(ScalarSize(type), what), type, swap_);
    }

    // The next `bytes` bytes.
    const uint8_t* Take(uint64_t bytes, const char* what) {
        if (Remaining() < bytes) {
            throw BodyEnds(std::string("The file ends inside ") + what);
        }
        const uint8_t* at = bytes_.data() + at_;
        at_ += static_cast<size_t>(bytes);
        return at;
    }

    void Skip(uint64_t bytes, const char* what) { Take(bytes, what); }

private:
    std::span<const uint8_t> bytes_;
    bool swap_;
    size_t at_ = 0;
};

uint64_t ListCount(int64_t count, const std::string& property) {
    if (count < 0) {
        throw std::runtime_error("List \"" + property + "\" has a negative length");
    }
    return static_cast<uint64_t>(count);
}

void SkipBinaryElement(BinaryBody& body, const Element& element) {
    if (element.properties.empty()) {
        return;
    }
    size_t fixed = 0;
    bool hasList = false;
    for (const Property& property : element.properties) {
        hasList |= property.isList;
        fixed += property.isList ? 0 : ScalarSize(property.type);
    }
    const std::string what = "element \"" + element.name + "\"";
    if (!hasList) {
        if (element.count > body.Remaining() / fixed) {
            throw std::runtime_error("The file ends inside " + what);
        }
        body.Skip(element.count * fixed, what.c_str());
        return;
    }
    // Every instance takes at least one byte, so this ends within the file's size.
    for (uint64_t i = 0; i < element.count; ++i) {
        for (const Property& property : element.properties) {
            if (property.isList) {
                const uint64_t items = ListCount(body.Read(property.countType, what.c_str()).second, property.name);
                const uint64_t itemSize = ScalarSize(property.type);
                if (items > body.Remaining() / itemSize) {
                    throw std::runtime_error("The file ends inside " + what);
                }
                body.Skip(items * itemSize, what.c_str());
            } else {
                body.Skip(ScalarSize(property.type), what.c_str());
            }
        }
    }
}

// Reads the vertices the body holds, at most the declared count: a body cut short gives the
// whole vertices before the cut (the caller reports the shortfall), none at all is refused.
void ReadBinaryVertices(BinaryBody& body, const Element& vertices, FrameData& frame) {
    size_t minimum = 0;
    for (const Property& property : vertices.properties) {
        minimum += ScalarSize(property.isList ? property.countType : property.type);
    }
    const uint64_t held = body.Remaining() / minimum;
    if (held == 0) {
        throw std::runtime_error(fmt::format("The header declares {} vertices, the body holds none", vertices.count));
    }
    Reserve(frame, std::min(vertices.count, held));

    const bool hasList = std::any_of(vertices.properties.begin(), vertices.properties.end(),
                                     [](const Property& property) { return property.isList; });
    if (!hasList) {
        // Fixed-size records: read the used columns of the whole records there are.
        struct Column {
            size_t offset;
            const Property* property;
        };
        std::vector<Column> used;
        size_t stride = 0;
        for (const Property& property : vertices.properties) {
            if (property.target != Target::None) used.push_back({stride, &property});
            stride += ScalarSize(property.type);
        }
        const uint64_t count = std::min(vertices.count, held);
        const uint8_t* records = body.Take(count * stride, "the vertices");
        for (uint64_t i = 0; i < count; ++i, records += stride) {
            Vertex vertex;
            for (const Column& column : used) {
                const auto [real, integer] = Decode(records + column.offset, column.property->type, body.Swap());
                Store(vertex, *column.property, real, integer);
            }
            Append(frame, vertex);
        }
        return;
    }
    for (uint64_t i = 0; i < vertices.count; ++i) {
        Vertex vertex;
        try {
            for (const Property& property : vertices.properties) {
                if (property.isList) {
                    const uint64_t items = ListCount(body.Read(property.countType, "a vertex").second, property.name);
                    const uint64_t itemSize = ScalarSize(property.type);
                    if (items > body.Remaining() / itemSize) {
                        throw BodyEnds(fmt::format("The file ends inside vertex {}", i));
                    }
                    body.Skip(items * itemSize, "a vertex");
                    continue;
                }
                const auto [real, integer] = body.Read(property.type, "a vertex");
                Store(vertex, property, real, integer);
            }
        } catch (const BodyEnds&) {
            if (i == 0) {
                throw;
            }
            return;  // the vertex cut in two is dropped
        }
        Append(frame, vertex);
    }
}

// One token of an ascii body as the property's type: real numbers for float types,
// integers within the type's range for the others.
std::pair<double, int64_t> ParseAsciiValue(std::string_view token, Scalar type, const std::string& property) {
    if (IsInteger(type)) {
        const auto value = ParseNumber<int64_t>(token);
        const auto [low, high] = IntegerRange(type);
        if (!value || *value < low || *value > high) {
            throw std::runtime_error(fmt::format("Value \"{}\" of property \"{}\" does not fit its type", token, property));
        }
        return {static_cast<double>(*value), *value};
    }
    const auto value = ParseNumber<double>(token);
    if (!value) {
        throw std::runtime_error(fmt::format("Value \"{}\" of property \"{}\" is not a number", token, property));
    }
    return {*value, 0};
}

// Reads one ascii element instance from its line's tokens.
void ReadAsciiInstance(const std::vector<std::string_view>& tokens, const Element& element, Vertex* vertex,
                       uint64_t index) {
    size_t next = 0;
    const auto take = [&]() -> std::string_view {
        if (next >= tokens.size()) {
            throw std::runtime_error(
                fmt::format("Line of {} {} has too few values", element.name, index));
        }
        return tokens[next++];
    };
    for (const Property& property : element.properties) {
        if (property.isList) {
            const uint64_t items =
                ListCount(ParseAsciiValue(take(), property.countType, property.name).second, property.name);
            if (items > tokens.size() - next) {
                throw std::runtime_error(fmt::format("Line of {} {} has too few values", element.name, index));
            }
            for (uint64_t k = 0; k < items; ++k) {
                ParseAsciiValue(take(), property.type, property.name);
            }
            continue;
        }
        const auto [real, integer] = ParseAsciiValue(take(), property.type, property.name);
        if (vertex != nullptr) {
            Store(*vertex, property, real, integer);
        }
    }
    if (next != tokens.size()) {
        throw std::runtime_error(fmt::format("Line of {} {} has more values than properties", element.name, index));
    }
}

void ReadAsciiBody(std::string_view body, const Header& header, FrameData& frame) {
    size_t at = 0;
    std::string_view line;
    const auto nextInstance = [&](std::vector<std::string_view>& tokens) {
        while (NextLine(body, at, line)) {
            tokens = Words(line);
            if (!tokens.empty()) return true;
        }
        return false;
    };
    std::vector<std::string_view> tokens;
    for (const Element& element : header.elements) {
        const bool isVertex = element.name == "vertex";
        if (element.properties.empty()) {
            continue;
        }
        if (isVertex) {
            // Each vertex line holds at least one character and a separator per value.
            Reserve(frame, std::min<uint64_t>(element.count, body.size() / (2 * element.properties.size()) + 1));
        }
        for (uint64_t i = 0; i < element.count; ++i) {
            if (!nextInstance(tokens)) {
                if (isVertex && i > 0) {
                    return;  // the caller reports the shortfall
                }
                throw std::runtime_error(
                    fmt::format("The file ends after {} of {} {} lines", i, element.count, element.name));
            }
            Vertex vertex;
            ReadAsciiInstance(tokens, element, isVertex ? &vertex : nullptr, i);
            if (isVertex) {
                Append(frame, vertex);
            }
        }
        if (isVertex) {
            return;  // what follows the vertices is not used
        }
    }
}

}  // namespace

void WritePly(const fs::path& path, const FrameData& frame) {
    const size_t n = frame.xyz.size() / 3;
    if (n == 0) {
        throw std::runtime_error("FrameData contains no points.");
    }
    const bool hasSignal = frame.signal.size() == n;
    const bool hasAmbient = frame.ambient.size() == n;
    const bool hasColours = frame.rgb.size() == 3 * n;
    const bool hasTimestamps = frame.timestamps.size() == n;

    std::string header = "ply\nformat binary_little_endian 1.0\n";
    header += fmt::format("comment frameNumber {}\n", static_cast<uint32_t>(frame.frameNumber));
    if (!frame.sourceName.empty()) {
        header += "comment originalFilename " + OneLine(frame.sourceName) + "\n";
    }
    if (frame.width > 0 && frame.height > 0) {
        header += fmt::format("comment width {}\ncomment height {}\n", frame.width, frame.height);
    }
    header += fmt::format("element vertex {}\n", n);
    header += "property float x\nproperty float y\nproperty float z\n";
    if (hasSignal) header += "property float signal\n";
    if (hasAmbient) header += "property float ambient\n";
    if (hasColours) header += "property uchar red\nproperty uchar green\nproperty uchar blue\n";
    if (hasTimestamps) header += "property double timestamp\n";
    header += "end_header\n";

    // Throws "Cannot open output file: <path> (<reason>)".
    auto file = std::make_unique<AtomicFile>(path);
    const size_t record = 12 + (hasSignal ? 4 : 0) + (hasAmbient ? 4 : 0) + (hasColours ? 3 : 0) + (hasTimestamps ? 8 : 0);
    constexpr size_t kChunkPoints = 8192;
    std::vector<uint8_t> body;
    body.reserve(std::min(n, kChunkPoints) * record);
    bool written = file->Write(header);
    for (size_t first = 0; first < n && written; first += kChunkPoints) {
        body.clear();
        const size_t last = std::min(n, first + kChunkPoints);
        for (size_t i = first; i < last; ++i) {
            AppendLittleEndian(body, &frame.xyz[3 * i], 12);
            if (hasSignal) AppendLittleEndian(body, &frame.signal[i], 4);
            if (hasAmbient) AppendLittleEndian(body, &frame.ambient[i], 4);
            if (hasColours) AppendLittleEndian(body, &frame.rgb[3 * i], 3);
            if (hasTimestamps) {
                const double timestamp = static_cast<double>(frame.timestamps[i]);
                AppendLittleEndian(body, &timestamp, 8);
            }
        }
        written = file->Write(body.data(), body.size());
    }
    try {
        file->Commit();
    } catch (const OutputFileError& e) {
        const std::string text = "Write error while exporting PLY: " + path.string();
        throw std::runtime_error(e.Reason().empty() ? text : text + " (" + e.Reason() + ")");
    }
}

std::unique_ptr<FrameData> ParsePly(std::span<const uint8_t> bytes, PlyShortBody* shortBody,
                                    std::optional<int32_t> unnamedFrameNumber) {
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    const Header header = ParseHeader(text);
    if (header.format == Format::None) {
        throw std::runtime_error("The header has no format line");
    }
    const auto vertices = std::find_if(header.elements.begin(), header.elements.end(),
                                       [](const Element& element) { return element.name == "vertex"; });
    if (vertices == header.elements.end() || vertices->count == 0) {
        throw std::runtime_error("The file holds no vertices");
    }
    if (std::count_if(header.elements.begin(), header.elements.end(),
                      [](const Element& element) { return element.name == "vertex"; }) > 1) {
        throw std::runtime_error("The file declares two vertex elements");
    }
    if (vertices->properties.empty()) {
        throw std::runtime_error("The vertex element has no properties");
    }
    if (!header.ended) {
        throw std::runtime_error("The header has no end_header line");
    }

    auto frame = std::make_unique<FrameData>();
    if (header.frameNumber) {
        frame->frameNumber = *header.frameNumber;
    } else if (unnamedFrameNumber) {
        frame->frameNumber = *unnamedFrameNumber;
    }
    if (header.originalFilename) frame->sourceName = *header.originalFilename;

    if (header.format == Format::Ascii) {
        ReadAsciiBody(text.substr(header.bodyAt), header, *frame);
    } else {
        BinaryBody body(bytes.subspan(header.bodyAt), header.format == Format::BinaryBig);
        for (auto element = header.elements.begin(); element != vertices; ++element) {
            SkipBinaryElement(body, *element);
        }
        ReadBinaryVertices(body, *vertices, *frame);
    }
    const uint64_t read = frame->xyz.size() / 3;
    if (shortBody != nullptr) {
        *shortBody = {vertices->count, read};
    }
    return frame;
}

namespace {

// The bytes a binary body of fixed-size records takes up to the end of its vertices; none
// when a list or an ascii body leaves it open.
std::optional<uint64_t> FixedBodyBytes(const Header& header) {
    if (!header.ended || header.format == Format::Ascii || header.format == Format::None) {
        return std::nullopt;
    }
    uint64_t total = 0;
    for (const Element& element : header.elements) {
        uint64_t stride = 0;
        for (const Property& property : element.properties) {
            if (property.isList) {
                return std::nullopt;
            }
            stride += ScalarSize(property.type);
        }
        if (stride != 0 && element.count > (UINT64_MAX - total) / stride) {
            return UINT64_MAX;
        }
        total += element.count * stride;
        if (element.name == "vertex") {
            return total;
        }
    }
    return std::nullopt;
}

// The bytes of a PLY file that its header can use: the header is read first, so that a large
// file of something else is refused unread and a binary body is read no further than its
// vertices.
void ReadPlyBytes(const fs::path& path, std::vector<uint8_t>& bytes) {
    constexpr uint64_t kHeaderPrefixBytes = 64 * 1024;
    const uint64_t size = RegularFileSize(path);
    if (size > kMaxPlyFileBytes) {
        throw std::runtime_error(
            fmt::format("A PLY file of {} bytes is larger than the {} bytes accepted", size, kMaxPlyFileBytes));
    }
    ReadFilePrefix(path, kHeaderPrefixBytes, bytes);
    if (bytes.size() == size) {
        return;
    }
    const std::string_view prefix(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (prefix.rfind("ply\n", 0) != 0 && prefix.rfind("ply\r\n", 0) != 0) {
        throw std::runtime_error("Not a PLY file: the first line is not \"ply\"");
    }
    std::optional<uint64_t> used;
    try {
        const Header header = ParseHeader(prefix);
        if (const auto body = FixedBodyBytes(header)) {
            used = *body > size - header.bodyAt ? size : header.bodyAt + *body;
        }
    } catch (const std::exception&) {
        // A header longer than the prefix: the whole file tells.
    }
    if (used) {
        ReadFilePrefix(path, *used, bytes);
    } else {
        ReadWholeFile(path, kMaxPlyFileBytes, bytes);
    }
}

}  // namespace

std::string PlyCutShortWarning(const PlyShortBody& counts, const fs::path& path) {
    return fmt::format("[PLY] The file is cut short: only {} of the {} vertices its header declares were read: {}",
                       counts.read, counts.declared, path.string());
}

std::unique_ptr<FrameData> LoadPly(const fs::path& path, PlyShortBody* shortBody) {
    std::vector<uint8_t> bytes;
    ReadPlyBytes(path, bytes);
    // Files of other tools carry no frame number of their own; their names often do, and the
    // sync file and the replay order read it from there too.
    std::optional<int32_t> numberInName;
    if (const std::optional<uint64_t> number = FrameNumberInName(path); number && *number <= UINT32_MAX) {
        numberInName = static_cast<int32_t>(static_cast<uint32_t>(*number));
    }
    auto frame = ParsePly(bytes, shortBody, numberInName);
    if (frame->sourceName.empty()) {
        frame->sourceName = path.filename().string();
    }
    return frame;
}

std::unique_ptr<FrameData> ReadPly(const fs::path& path) {
    std::error_code error;
    if (!fs::exists(path, error)) {
        return nullptr;
    }
    try {
        PlyShortBody counts;
        auto frame = LoadPly(path, &counts);
        if (counts.read < counts.declared) {
            Log(PlyCutShortWarning(counts, path), log_level::kWarning);
        }
        return frame;
    } catch (const std::exception& e) {
        Log(std::string("[PLY] ") + e.what() + ": " + path.string(), log_level::kError);
        return nullptr;
    }
}

}  // namespace orbel::studio
