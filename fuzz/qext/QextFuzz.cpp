// The QEXT alignment file as a user's disk may hold it, read by the SDK and then used
// to colour points. Checked: the bytes are either refused with a std::runtime_error
// that names the file, or give an alignment whose eighteen values are the file's first
// 72 bytes as little-endian floats, all finite, both focal lengths positive;
// ReadFromQext of the same bytes on disk agrees and leaves a refused object as it was.
// An accepted alignment then colours points, some of them unusual (zero, behind the
// camera, huge, not a number) and the rest taken from the bytes after the first 72,
// against a small image whose every pixel has a colour of its own and against one with
// too few pixel bytes: every point gets black or a pixel that the image holds whole.
//
// Input: the file's bytes (bytes 72 onward are also read as x, y, z floats of points).
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include <orbel/processing/AlignmentInformation.h>
#include <orbel/processing/Colorizer.h>

#include "common/FuzzCheck.h"
#include "common/FuzzSupport.h"
#include "dataTypes/Image.h"
#include "processing/QextFormat.h"

namespace {

using orbel::processing::AlignmentInformation;

constexpr uint32_t kWidth = 7;
constexpr uint32_t kHeight = 5;

float FloatAt(const uint8_t* bytes) {
    uint32_t bits = 0;
    for (int i = 0; i < 4; ++i) bits |= uint32_t{bytes[i]} << (8 * i);
    return std::bit_cast<float>(bits);
}

std::vector<float> Values(const AlignmentInformation& a) {
    std::vector<float> v(a.rotation.begin(), a.rotation.end());
    v.insert(v.end(), a.translation.begin(), a.translation.end());
    v.insert(v.end(), {a.k1, a.k2, a.fx, a.fy, a.cx, a.cy});
    return v;
}

bool SameBits(const AlignmentInformation& a, const AlignmentInformation& b) {
    const auto x = Values(a);
    const auto y = Values(b);
    for (size_t i = 0; i < x.size(); ++i) {
        if (std::bit_cast<uint32_t>(x[i]) != std::bit_cast<uint32_t>(y[i])) return false;
    }
    return true;
}

class Cloud final : public orbel::sdk::IColorizableData {
public:
    void Add(float x, float y, float z) {
        x_.push_back(x);
        y_.push_back(y);
        z_.push_back(z);
    }
    size_t GetPointCount() const override { return x_.size(); }
    const std::vector<float>& GetX() override { return x_; }
    const std::vector<float>& GetY() override { return y_; }
    const std::vector<float>& GetZ() override { return z_; }
    uint64_t GetTimestamp() const override { return 0; }
    uint64_t GetAlternateTimestamp() const override { return 0; }
    void SetColors(const std::vector<orbel::sdk::RGB>& colors) override {
        colors_ = colors;
        ++calls;
    }
    std::vector<orbel::sdk::RGB> colors_;
    int calls = 0;

private:
    std::vector<float> x_, y_, z_;
};

// Pixel k holds (3k + 1, 3k + 2, 3k + 3): a colour names its pixel, and black is none.
orbel::data::Image MakeImage(size_t byteCount) {
    std::vector<uint8_t> pixels(byteCount);
    for (size_t i = 0; i < byteCount; ++i) pixels[i] = static_cast<uint8_t>(i + 1);
    orbel::data::Image image;
    orbel::sdk::ImageMetadata metadata;
    metadata.width = kWidth;
    metadata.height = kHeight;
    metadata.format = orbel::sdk::PixelFormat::RGB8;
    image.SetMetadata(metadata);
    image.SetData(pixels.data(), pixels.size());
    return image;
}

void CheckColours(const Cloud& cloud, size_t byteCount) {
    ORBEL_FUZZ_CHECK(cloud.calls == 1, "SetColors exactly once");
    ORBEL_FUZZ_CHECK(cloud.colors_.size() == cloud.GetPointCount(), "one colour per point");
    for (const auto& c : cloud.colors_) {
        if (c.r == 0 && c.g == 0 && c.b == 0) continue;
        const size_t first = static_cast<size_t>(c.r) - 1;
        ORBEL_FUZZ_CHECK(first % 3 == 0 && c.g == c.r + 1 && c.b == c.r + 2, "a colour that is one pixel's");
        ORBEL_FUZZ_CHECK(first + 2 < byteCount, "a pixel that the image holds whole");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    orbel::fuzzing::QuietSdkLog();
    const std::string name = "fuzz.qext";
    const std::span<const uint8_t> bytes(data, size);

    bool accepted = false;
    AlignmentInformation parsed;
    try {
        parsed = orbel::processing::ParseQext(bytes, name);
        accepted = true;
    } catch (const std::runtime_error& e) {
        ORBEL_FUZZ_CHECK(std::string(e.what()).find(name) != std::string::npos, "a refusal names the file");
    }
    if (accepted) {
        ORBEL_FUZZ_CHECK(size >= AlignmentInformation::kQextSize, "only whole files are accepted");
        const auto values = Values(parsed);
        for (size_t i = 0; i < values.size(); ++i) {
            ORBEL_FUZZ_CHECK(std::bit_cast<uint32_t>(values[i]) == std::bit_cast<uint32_t>(FloatAt(data + 4 * i)),
                             "each value is the file's float at its offset");
            ORBEL_FUZZ_CHECK(std::isfinite(values[i]), "finite values only");
        }
        ORBEL_FUZZ_CHECK(parsed.fx > 0 && parsed.fy > 0, "positive focal lengths");
    }

    // The same bytes through the file reader.
    const auto path = orbel::fuzzing::ProcessTempDir() / name;
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    AlignmentInformation read;
    read.cx = 123.0f;  // not a default, to see that a refusal changes nothing
    const AlignmentInformation before = read;
    try {
        read.ReadFromQext(path.string());
        ORBEL_FUZZ_CHECK(accepted && SameBits(read, parsed), "the file reader accepts what the parser accepts");
    } catch (const std::runtime_error&) {
        ORBEL_FUZZ_CHECK(!accepted, "the file reader refuses what the parser refuses");
        ORBEL_FUZZ_CHECK(SameBits(read, before), "a refused file changes nothing");
    }
    if (!accepted) return 0;

    Cloud cloud;
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float big = std::numeric_limits<float>::max();
    for (const float a : {0.0f, 1.0f, -1.0f, 1e-7f, 1000.0f, big, -big, inf, -inf, nan}) {
        cloud.Add(a, 0, 0);
        cloud.Add(1, a, -a);
        cloud.Add(a, a, a);
    }
    for (size_t at = AlignmentInformation::kQextSize; at + 12 <= size; at += 12) {
        cloud.Add(FloatAt(data + at), FloatAt(data + at + 4), FloatAt(data + at + 8));
    }
    auto algorithm = orbel::processing::ColorizerFactory::CreateColorizerAlgorithm();
    algorithm->Initialize(parsed);
    for (const size_t byteCount : {size_t{3} * kWidth * kHeight, size_t{3} * kWidth * kHeight - 4, size_t{0}}) {
        const orbel::data::Image image = MakeImage(byteCount);
        cloud.calls = 0;
        algorithm->Colorize(cloud, image);
        CheckColours(cloud, byteCount);
    }
    return 0;
}
