// LazyPointCloud against payloads written by the independent test builder: validation
// order and texts, failed calls leaving the cloud untouched, the accessors of every point
// type, colours in place and through the 0x60 -> 0x66 rewrite, and cache resets.
#include "dataTypes/LazyPointCloud.h"

#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/PointCloudPayloadBuilder.h"

namespace {

using orbel::data::LazyPointCloud;
using orbel::sdk::RGB;
using orbel::testing::PayloadPoint;
using orbel::testing::PointCloudPayloadBuilder;

using Bytes = std::vector<uint8_t>;

constexpr size_t kColorArray = 20;  // colour array offset in units of N, types 0x66 and 0x6F

std::string ErrorText(const std::function<void()>& call) {
    try {
        call();
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return "<no exception>";
}

Bytes Payload(uint8_t type, uint32_t n) { return PointCloudPayloadBuilder().PointType(type).PointCount(n).Build(); }

std::vector<RGB> Palette(size_t n, uint8_t seed) {
    std::vector<RGB> colors(n);
    for (size_t i = 0; i < n; ++i)
        colors[i] = RGB{static_cast<uint8_t>(seed + i), static_cast<uint8_t>(seed * 2 + i), static_cast<uint8_t>(255 - i)};
    return colors;
}

std::vector<float> Expected(uint32_t n, float PayloadPoint::*field) {
    std::vector<float> values;
    for (uint32_t i = 0; i < n; ++i) values.push_back(PointCloudPayloadBuilder::DefaultPoint(i).*field);
    return values;
}

// Everything the cloud exposes, to show that a failed call changed nothing.
struct Snapshot {
    Bytes bytes;
    size_t count;
    std::vector<float> x;
    std::vector<RGB> colors;
    uint32_t frame;
    uint64_t timestamp;

    static Snapshot Of(LazyPointCloud& cloud) {
        return {cloud.Serialize(), cloud.GetPointCount(), cloud.GetX(), cloud.GetColors(),
                cloud.GetMetadata().frameNumber, cloud.GetTimestamp()};
    }
    bool operator==(const Snapshot&) const = default;
};

// ---------------------------------------------------------------------------------------
// Validation: one row per check, in the order the cloud applies them.

struct InvalidCase {
    const char* name;
    std::function<Bytes()> make;
    const char* text;
};

Bytes Truncated(Bytes bytes, size_t size) {
    bytes.resize(size);
    return bytes;
}

Bytes WithByte(Bytes bytes, size_t at, uint8_t value) {
    bytes[at] = value;
    return bytes;
}

Bytes WithCount(Bytes bytes, uint32_t n) {
    for (size_t k = 0; k < 4; ++k) bytes[256 + k] = static_cast<uint8_t>(n >> (8 * k));
    return bytes;
}

const InvalidCase kInvalidCases[] = {
    {"Empty", [] { return Bytes{}; }, "The provided data was empty."},
    {"ThreeBytesBeforeVersion", [] { return Bytes{0, 0, 0}; }, "Message is too small to contain version data."},
    {"WrongMetadataVersion", [] { return WithByte(Payload(0x60, 4), 3, 15); }, "Incorrect metadata version number"},
    {"VersionBeforeSize", [] { return Bytes{0, 0, 0, 17}; }, "Incorrect metadata version number"},
    {"MetadataTooShort", [] { return Truncated(Payload(0x60, 0), 100); },
     "The message is too small for a valid metadata message of the provided version."},
    {"MetadataOneShort", [] { return Truncated(Payload(0x60, 0), 254); },
     "The message is too small for a valid metadata message of the provided version."},
    {"NoPointHeader", [] { return Truncated(Payload(0x60, 0), 255); },
     "The message is too small for a valid point cloud message."},
    {"PointHeaderOneShort", [] { return Truncated(Payload(0x60, 0), 264); },
     "The message is too small for a valid point cloud message."},
    {"WrongPointVersion", [] { return WithByte(Payload(0x66, 3), 255, 2); }, "Unsupported point cloud data version."},
    {"PointVersionBeforeType", [] { return WithByte(WithByte(Payload(0x66, 3), 264, 0x61), 255, 0); },
     "Unsupported point cloud data version."},
    {"UnknownPointType", [] { return WithByte(Payload(0x66, 3), 264, 0x61); }, "Unsupported point cloud data type."},
    {"ZeroPointType", [] { return WithByte(Payload(0x60, 0), 264, 0); }, "Unsupported point cloud data type."},
    {"Basic10PointsOneShort", [] { return Truncated(Payload(0x60, 10), 524); },
     "Insufficient data for point cloud message."},
    {"Color10PointsOneShort", [] { return Truncated(Payload(0x66, 10), 554); },
     "Insufficient data for point cloud message."},
    {"Full10PointsOneShort", [] { return Truncated(Payload(0x6F, 10), 954); },
     "Insufficient data for point cloud message."},
    // 265 + N x bytes-per-point wraps to less than 265 in 32 bits for these.
    {"BasicMaxCountNoWrap", [] { return WithCount(Payload(0x60, 2), std::numeric_limits<uint32_t>::max()); },
     "Insufficient data for point cloud message."},
    {"FullMaxCountNoWrap", [] { return WithCount(Payload(0x6F, 2), std::numeric_limits<uint32_t>::max()); },
     "Insufficient data for point cloud message."},
};

void PrintTo(const InvalidCase& c, std::ostream* os) { *os << c.name; }

class InvalidPayload : public ::testing::TestWithParam<InvalidCase> {};

TEST_P(InvalidPayload, ThrowsItsTextAndLeavesBothFormsOfALoadedCloudUnchanged) {
    const Bytes bad = GetParam().make();
    LazyPointCloud cloud;
    cloud.Deserialize(PointCloudPayloadBuilder().PointType(0x66).PointCount(5).FrameNumber(77).Timestamp(9).Build());
    cloud.SetColors(Palette(5, 40));
    const Snapshot before = Snapshot::Of(cloud);

    EXPECT_EQ(ErrorText([&] { cloud.Deserialize(bad); }), GetParam().text);
    EXPECT_EQ(ErrorText([&] { cloud.Deserialize(bad.data(), bad.size()); }), GetParam().text);
    EXPECT_EQ(Snapshot::Of(cloud), before);
}

TEST_P(InvalidPayload, LeavesANeverLoadedCloudEmpty) {
    const Bytes bad = GetParam().make();
    LazyPointCloud cloud;
    EXPECT_EQ(ErrorText([&] { cloud.Deserialize(bad.data(), bad.size()); }), GetParam().text);
    EXPECT_TRUE(cloud.Serialize().empty());
    EXPECT_EQ(cloud.GetPointCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(EachCheckInOrder, InvalidPayload, ::testing::ValuesIn(kInvalidCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(LazyPointCloudValidation, NullDataIsEmptyWhateverTheSize) {
    LazyPointCloud cloud;
    EXPECT_EQ(ErrorText([&] { cloud.Deserialize(nullptr, 1000); }), "The provided data was empty.");
}

struct MinimumSize {
    uint8_t type;
    uint32_t n;
    size_t bytes;
};

void PrintTo(const MinimumSize& m, std::ostream* os) {
    *os << "type 0x" << std::hex << int{m.type} << std::dec << ", " << m.n << " points";
}

// A point type as the wire writes it, for case names: "Type6F".
std::string PointTypeName(uint8_t type) {
    char name[8];
    std::snprintf(name, sizeof name, "Type%02X", type);
    return name;
}

class ExactMinimumSize : public ::testing::TestWithParam<MinimumSize> {};

TEST_P(ExactMinimumSize, IsEnough) {
    const Bytes bytes = Payload(GetParam().type, GetParam().n);
    ASSERT_EQ(bytes.size(), GetParam().bytes);
    LazyPointCloud cloud;
    cloud.Deserialize(bytes.data(), bytes.size());
    EXPECT_EQ(cloud.GetPointCount(), GetParam().n);
    EXPECT_EQ(cloud.GetConfidence().size(), GetParam().n);
}

INSTANTIATE_TEST_SUITE_P(PerType, ExactMinimumSize,
                         ::testing::Values(MinimumSize{0x60, 10, 525}, MinimumSize{0x66, 10, 555},
                                           MinimumSize{0x6F, 10, 955}, MinimumSize{0x60, 0, 265},
                                           MinimumSize{0x6F, 0, 265}),
                         [](const ::testing::TestParamInfo<MinimumSize>& info) {
                             return PointTypeName(info.param.type) + "_" + std::to_string(info.param.n) + "Points";
                         });

// ---------------------------------------------------------------------------------------
// Accessors for each point type.

class Accessors : public ::testing::TestWithParam<uint8_t> {
protected:
    static constexpr uint32_t kN = 11;

    void SetUp() override {
        bytes_ = PointCloudPayloadBuilder()
                     .PointType(GetParam())
                     .PointCount(kN)
                     .FrameNumber(0xA1B2C3D4)
                     .LineIndex(55)
                     .Timestamp(0x0102030405060708ull)
                     .AlternateTimestamp(0x1112131415161718ull)
                     .Reserved(0xCAFEBABE, 0x16, 0x18, 0x4344454647484950ull)
                     .ScanInputs(-2.5f, 7.25f, 0xDEADBEEF)
                     .AuxiliaryValue(-123.456)
                     .HeaderFloat(42.0f)
                     .TrailingBytes(13)
                     .Build();
        cloud_.Deserialize(bytes_.data(), bytes_.size());
    }

    Bytes bytes_;
    LazyPointCloud cloud_;
};

TEST_P(Accessors, DecodeEveryArrayInPointOrder) {
    EXPECT_EQ(cloud_.GetPointCount(), kN);
    EXPECT_EQ(cloud_.GetDistance(), Expected(kN, &PayloadPoint::distance));
    EXPECT_EQ(cloud_.GetX(), Expected(kN, &PayloadPoint::x));
    EXPECT_EQ(cloud_.GetY(), Expected(kN, &PayloadPoint::y));
    EXPECT_EQ(cloud_.GetZ(), Expected(kN, &PayloadPoint::z));
    EXPECT_EQ(cloud_.GetReflectivity(), Expected(kN, &PayloadPoint::reflectivity));
    std::vector<uint16_t> ambient;
    std::vector<uint32_t> confidence;
    for (uint32_t i = 0; i < kN; ++i) {
        ambient.push_back(PointCloudPayloadBuilder::DefaultPoint(i).ambient);
        confidence.push_back(PointCloudPayloadBuilder::DefaultPoint(i).confidence);
    }
    EXPECT_EQ(cloud_.GetAmbient(), ambient);
    EXPECT_EQ(cloud_.GetConfidence(), confidence);
}

TEST_P(Accessors, ColorsComeFromTheBytesOnlyForColorTypes) {
    std::vector<RGB> expected;
    if (GetParam() != 0x60) {
        for (uint32_t i = 0; i < kN; ++i) {
            const PayloadPoint p = PointCloudPayloadBuilder::DefaultPoint(i);
            expected.push_back(RGB{p.red, p.green, p.blue});
        }
    }
    EXPECT_EQ(cloud_.GetColors(), expected);
}

TEST_P(Accessors, DecodeMetadataAndInformationRecords) {
    const auto& m = cloud_.GetMetadata();
    EXPECT_EQ(m.frameNumber, 0xA1B2C3D4u);
    EXPECT_EQ(m.lineIndex, 55);
    EXPECT_EQ(m.timestamp_us, 0x0102030405060708ull);
    EXPECT_EQ(m.alternateTimestamp_us, 0x1112131415161718ull);
    EXPECT_EQ(m.reserved8, 0xCAFEBABEu);
    EXPECT_EQ(m.reserved16, 0x16);
    EXPECT_EQ(m.reserved18, 0x18);
    EXPECT_EQ(m.reserved43, 0x4344454647484950ull);
    EXPECT_EQ(cloud_.GetTimestamp(), 0x0102030405060708ull);
    EXPECT_EQ(cloud_.GetAlternateTimestamp(), 0x1112131415161718ull);

    const auto& aux = cloud_.GetAuxiliaryInfo();
    for (size_t k = 0; k < aux.block.size(); ++k) EXPECT_EQ(aux.block[k], 141 + k);
    EXPECT_EQ(aux.value, -123.456);
    EXPECT_EQ(cloud_.GetScanInfo().value, 0xDEADBEEFu);
    EXPECT_EQ(cloud_.GetScanInfo().maxInput, 7.25f);
}

TEST_P(Accessors, SerializeWithoutColorsReturnsTheMessageAsStored) { EXPECT_EQ(cloud_.Serialize(), bytes_); }

TEST_P(Accessors, ReloadingReplacesEveryCachedValue) {
    cloud_.GetX();
    cloud_.GetDistance();
    cloud_.GetReflectivity();
    cloud_.GetAmbient();
    cloud_.GetConfidence();
    cloud_.GetColors();
    cloud_.GetAuxiliaryInfo();
    cloud_.GetScanInfo();

    const auto other = [](uint32_t i) {
        PayloadPoint p = PointCloudPayloadBuilder::DefaultPoint(i + 100);
        p.x = -p.x;
        return p;
    };
    const Bytes next = PointCloudPayloadBuilder()
                           .PointType(GetParam())
                           .PointCount(3)
                           .FrameNumber(8)
                           .ScanInputs(9.0f, 1.0f, 5)
                           .AuxiliaryValue(2.0)
                           .Points(other)
                           .Build();
    cloud_.Deserialize(next);

    LazyPointCloud fresh;
    fresh.Deserialize(next);
    EXPECT_EQ(cloud_.GetPointCount(), 3u);
    EXPECT_EQ(cloud_.GetX(), fresh.GetX());
    EXPECT_EQ(cloud_.GetY(), fresh.GetY());
    EXPECT_EQ(cloud_.GetZ(), fresh.GetZ());
    EXPECT_EQ(cloud_.GetDistance(), fresh.GetDistance());
    EXPECT_EQ(cloud_.GetReflectivity(), fresh.GetReflectivity());
    EXPECT_EQ(cloud_.GetAmbient(), fresh.GetAmbient());
    EXPECT_EQ(cloud_.GetConfidence(), fresh.GetConfidence());
    EXPECT_EQ(cloud_.GetColors(), fresh.GetColors());
    EXPECT_EQ(cloud_.GetAuxiliaryInfo().value, 2.0);
    EXPECT_EQ(cloud_.GetScanInfo().maxInput, 9.0f);
    EXPECT_EQ(cloud_.GetScanInfo().value, 5u);
    EXPECT_EQ(cloud_.GetMetadata().frameNumber, 8u);
    EXPECT_EQ(cloud_.GetX()[0], -PointCloudPayloadBuilder::DefaultPoint(100).x);
}

TEST_P(Accessors, ReloadingFromItsOwnBytesKeepsTheMessage) {
    cloud_.Deserialize(cloud_.Serialize());
    EXPECT_EQ(cloud_.Serialize(), bytes_);
    EXPECT_EQ(cloud_.GetX(), Expected(kN, &PayloadPoint::x));

    // A part of its own bytes: the message without its trailing bytes.
    const size_t withoutTrailing = bytes_.size() - 13;
    cloud_.Deserialize(cloud_.Serialize().data(), withoutTrailing);
    EXPECT_EQ(cloud_.Serialize(), Bytes(bytes_.begin(), bytes_.begin() + withoutTrailing));
    EXPECT_EQ(cloud_.GetConfidence().back(), PointCloudPayloadBuilder::DefaultPoint(kN - 1).confidence);
}

INSTANTIATE_TEST_SUITE_P(PointTypes, Accessors, ::testing::Values(0x60, 0x66, 0x6F),
                         [](const auto& info) { return PointTypeName(info.param); });

TEST(LazyPointCloudAccessors, ZeroPointsGiveEmptyArrays) {
    LazyPointCloud cloud;
    cloud.Deserialize(Payload(0x6F, 0));
    EXPECT_EQ(cloud.GetPointCount(), 0u);
    EXPECT_TRUE(cloud.GetX().empty());
    EXPECT_TRUE(cloud.GetDistance().empty());
    EXPECT_TRUE(cloud.GetAmbient().empty());
    EXPECT_TRUE(cloud.GetConfidence().empty());
    EXPECT_TRUE(cloud.GetColors().empty());
}

TEST(LazyPointCloudAccessors, ScanInfoTakesTheLargerInputWhicheverComesFirst) {
    for (const auto& [first, second] : {std::pair{7.25f, -2.5f}, std::pair{-2.5f, 7.25f}}) {
        LazyPointCloud cloud;
        cloud.Deserialize(PointCloudPayloadBuilder().ScanInputs(first, second, 0).Build());
        EXPECT_EQ(cloud.GetScanInfo().maxInput, 7.25f) << first << ", " << second;
    }
}

// ---------------------------------------------------------------------------------------
// A cloud that never read a message.

TEST(LazyPointCloudNeverLoaded, LazyAccessorsThrowTheOthersReturnEmptyValues) {
    LazyPointCloud cloud;
    const std::vector<std::pair<const char*, std::function<void()>>> lazy = {
        {"GetX", [&] { cloud.GetX(); }},
        {"GetY", [&] { cloud.GetY(); }},
        {"GetZ", [&] { cloud.GetZ(); }},
        {"GetDistance", [&] { cloud.GetDistance(); }},
        {"GetReflectivity", [&] { cloud.GetReflectivity(); }},
        {"GetAmbient", [&] { cloud.GetAmbient(); }},
        {"GetConfidence", [&] { cloud.GetConfidence(); }},
        {"GetAuxiliaryInfo", [&] { cloud.GetAuxiliaryInfo(); }},
        {"GetScanInfo", [&] { cloud.GetScanInfo(); }},
    };
    for (const auto& [name, call] : lazy) EXPECT_EQ(ErrorText(call), "This point cloud is empty") << name;

    EXPECT_TRUE(cloud.GetColors().empty());
    EXPECT_EQ(cloud.GetPointCount(), 0u);
    EXPECT_EQ(cloud.GetTimestamp(), 0u);
    EXPECT_EQ(cloud.GetAlternateTimestamp(), 0u);
    const auto& m = cloud.GetMetadata();
    EXPECT_EQ(m.frameNumber, 0u);
    EXPECT_EQ(m.lineIndex, 0);
    EXPECT_EQ(m.reserved8, 0u);
    EXPECT_EQ(m.reserved16, 0);
    EXPECT_EQ(m.reserved18, 0);
    EXPECT_EQ(m.reserved43, 0u);
    EXPECT_TRUE(cloud.Serialize().empty());
}

TEST(LazyPointCloudNeverLoaded, CreatePointCloudGivesAnEmptyCloudToFill) {
    std::unique_ptr<orbel::sdk::IPointCloud> cloud = orbel::sdk::CreatePointCloud();
    ASSERT_NE(cloud, nullptr);
    EXPECT_EQ(ErrorText([&] { cloud->GetX(); }), "This point cloud is empty");
    cloud->Deserialize(Payload(0x66, 4));
    EXPECT_EQ(cloud->GetX(), Expected(4, &PayloadPoint::x));
}

// ---------------------------------------------------------------------------------------
// Colours.

class Colors : public ::testing::TestWithParam<uint8_t> {
protected:
    static constexpr uint32_t kN = 9;
    void SetUp() override {
        bytes_ = PointCloudPayloadBuilder().PointType(GetParam()).PointCount(kN).LineIndex(3).TrailingBytes(5).Build();
        cloud_.Deserialize(bytes_);
    }
    Bytes bytes_;
    LazyPointCloud cloud_;
};

TEST_P(Colors, WrongCountThrowsAndChangesNothing) {
    cloud_.SetColors(Palette(kN, 10));
    const Snapshot before = Snapshot::Of(cloud_);
    for (const size_t count : {size_t{0}, size_t{kN - 1}, size_t{kN + 1}}) {
        EXPECT_EQ(ErrorText([&] { cloud_.SetColors(Palette(count, 99)); }),
                  "Color count does not match number of points")
            << count;
    }
    EXPECT_EQ(Snapshot::Of(cloud_), before);
}

TEST_P(Colors, ReloadingDropsTheColorsOfThePreviousMessage) {
    cloud_.SetColors(Palette(kN, 10));
    cloud_.Serialize();
    const Bytes next = Payload(GetParam(), 4);
    cloud_.Deserialize(next);

    LazyPointCloud fresh;
    fresh.Deserialize(next);
    EXPECT_EQ(cloud_.GetColors(), fresh.GetColors());
    EXPECT_EQ(cloud_.Serialize(), next);
}

INSTANTIATE_TEST_SUITE_P(PointTypes, Colors, ::testing::Values(0x60, 0x66, 0x6F),
                         [](const auto& info) { return PointTypeName(info.param); });

class ColorsInPlace : public Colors {};

TEST_P(ColorsInPlace, ReplaceOnlyTheColorBytes) {
    const std::vector<RGB> colors = Palette(kN, 60);
    cloud_.SetColors(colors);
    EXPECT_EQ(cloud_.GetColors(), colors);

    Bytes expected = bytes_;
    std::memcpy(expected.data() + 265 + kColorArray * kN, colors.data(), 3 * kN);
    EXPECT_EQ(cloud_.Serialize(), expected);

    LazyPointCloud reread;
    reread.Deserialize(cloud_.Serialize());
    EXPECT_EQ(reread.GetColors(), colors);
    EXPECT_EQ(reread.GetAmbient(), cloud_.GetAmbient());
}

TEST_P(ColorsInPlace, ColorsReadBeforeSettingAreReplaced) {
    cloud_.GetColors();
    const std::vector<RGB> colors = Palette(kN, 61);
    cloud_.SetColors(colors);
    EXPECT_EQ(cloud_.GetColors(), colors);
}

INSTANTIATE_TEST_SUITE_P(ColorTypes, ColorsInPlace, ::testing::Values(0x66, 0x6F),
                         [](const auto& info) { return PointTypeName(info.param); });

TEST(LazyPointCloudColors, BasicCloudWithColorsSerializesAsColorType) {
    constexpr uint32_t kN = 12;
    const Bytes original =
        PointCloudPayloadBuilder().PointType(0x60).PointCount(kN).FrameNumber(5).LineIndex(9).TrailingBytes(7).Build();
    LazyPointCloud cloud;
    cloud.Deserialize(original);
    const std::vector<float> xBefore = cloud.GetX();
    const std::vector<RGB> colors = Palette(kN, 7);
    cloud.SetColors(colors);
    EXPECT_EQ(cloud.GetColors(), colors);

    const Bytes serialized = cloud.Serialize();
    ASSERT_EQ(serialized.size(), 265 + 29 * kN);
    EXPECT_EQ(serialized[264], 0x66);
    EXPECT_TRUE(std::equal(original.begin(), original.begin() + 264, serialized.begin()));

    LazyPointCloud reread;
    reread.Deserialize(serialized);
    EXPECT_EQ(reread.GetPointCount(), kN);
    EXPECT_EQ(reread.GetMetadata().frameNumber, 5u);
    EXPECT_EQ(reread.GetMetadata().lineIndex, 9);
    EXPECT_EQ(reread.GetDistance(), cloud.GetDistance());
    EXPECT_EQ(reread.GetX(), cloud.GetX());
    EXPECT_EQ(reread.GetY(), cloud.GetY());
    EXPECT_EQ(reread.GetZ(), cloud.GetZ());
    EXPECT_EQ(reread.GetReflectivity(), cloud.GetReflectivity());
    EXPECT_EQ(reread.GetAmbient(), cloud.GetAmbient());
    EXPECT_EQ(reread.GetConfidence(), cloud.GetConfidence());
    EXPECT_EQ(reread.GetColors(), colors);

    // The rewritten cloud keeps its arrays and now colours in place like any 0x66 cloud.
    EXPECT_EQ(cloud.GetX(), xBefore);
    EXPECT_EQ(cloud.GetColors(), colors);
    const std::vector<RGB> later = Palette(kN, 90);
    cloud.SetColors(later);
    EXPECT_EQ(cloud.Serialize().size(), serialized.size());
    reread.Deserialize(cloud.Serialize());
    EXPECT_EQ(reread.GetColors(), later);
}

TEST(LazyPointCloudColors, EmptyColorsOnZeroPointsNeedNoRewrite) {
    const Bytes original = Payload(0x60, 0);
    LazyPointCloud cloud;
    cloud.Deserialize(original);
    cloud.SetColors({});
    EXPECT_EQ(cloud.Serialize(), original);
}

}  // namespace
