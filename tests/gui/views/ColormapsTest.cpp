// Colour maps: the formulas at their stops, the names both ways, the channel
// conversion's range and byte rules, and the packed colours the panel draws with.
#include "views/Colormaps.h"

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace orbel::studio::gui {
namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

void ExpectColor(const ColorRgb& actual, const ColorRgb& expected) {
    EXPECT_NEAR(actual.r, expected.r, 1e-6f);
    EXPECT_NEAR(actual.g, expected.g, 1e-6f);
    EXPECT_NEAR(actual.b, expected.b, 1e-6f);
}

std::vector<uint8_t> Bytes(const std::vector<float>& values, ColormapType map, float min, float max) {
    std::vector<uint8_t> rgb;
    ApplyColormap(values, map, min, max, rgb);
    return rgb;
}

std::vector<uint8_t> Repeat(std::vector<uint8_t> triple, std::size_t times) {
    std::vector<uint8_t> out;
    for (std::size_t i = 0; i < times; ++i) {
        out.insert(out.end(), triple.begin(), triple.end());
    }
    return out;
}

TEST(ColormapFunctions, TableMapsHitEveryStopExactly) {
    struct Case {
        const char* name;
        ColormapFn map;
        std::span<const ColorStop> stops;
    };
    for (const Case& c : {Case{"Viridis", &Viridis, ViridisStops()}, Case{"Magma", &Magma, MagmaStops()},
                          Case{"Cividis", &Cividis, CividisStops()}}) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(c.stops.size(), 9u);
        for (std::size_t i = 0; i < c.stops.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_FLOAT_EQ(c.stops[i].t, 0.125f * static_cast<float>(i));
            ExpectColor(c.map(c.stops[i].t), c.stops[i].color);
        }
    }
}

// Reference colours written out by hand: the ends, inner stops and one midpoint per map,
// so that a wrong number in a stop table cannot pass by agreeing with itself.
TEST(ColormapFunctions, TableMapsMatchTheReferenceColours) {
    struct Case {
        const char* name;
        ColormapFn map;
        float t;
        ColorRgb expected;
    };
    const Case cases[] = {
        {"Viridis", &Viridis, 0.0f, {0.267f, 0.005f, 0.329f}},
        {"Viridis", &Viridis, 0.0625f, {0.275f, 0.073f, 0.3935f}},
        {"Viridis", &Viridis, 0.375f, {0.207f, 0.372f, 0.553f}},
        {"Viridis", &Viridis, 0.75f, {0.208f, 0.678f, 0.491f}},
        {"Viridis", &Viridis, 1.0f, {0.993f, 0.906f, 0.144f}},
        {"Magma", &Magma, 0.0f, {0.0f, 0.0f, 0.016f}},
        {"Magma", &Magma, 0.25f, {0.373f, 0.074f, 0.432f}},
        {"Magma", &Magma, 0.5625f, {0.832f, 0.2585f, 0.423f}},
        {"Magma", &Magma, 0.625f, {0.902f, 0.341f, 0.38f}},
        {"Magma", &Magma, 1.0f, {0.988f, 0.998f, 0.645f}},
        {"Cividis", &Cividis, 0.0f, {0.0f, 0.135f, 0.304f}},
        {"Cividis", &Cividis, 0.5f, {0.349f, 0.388f, 0.38f}},
        {"Cividis", &Cividis, 0.875f, {0.769f, 0.643f, 0.122f}},
        {"Cividis", &Cividis, 0.9375f, {0.8825f, 0.692f, 0.069f}},
        {"Cividis", &Cividis, 1.0f, {0.996f, 0.741f, 0.016f}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " at " + std::to_string(c.t));
        ExpectColor(c.map(c.t), c.expected);
    }
}

TEST(ColormapFunctions, InterpolateStopsBlendsLinearlyBetweenNeighbours) {
    const auto stops = ViridisStops();
    const ColorRgb mid = Viridis(0.0625f);
    ExpectColor(mid, {(stops[0].color.r + stops[1].color.r) / 2, (stops[0].color.g + stops[1].color.g) / 2,
                      (stops[0].color.b + stops[1].color.b) / 2});
    const ColorRgb quarter = Magma(0.5f + 0.125f / 4);
    EXPECT_NEAR(quarter.r, 0.762f + (0.902f - 0.762f) * 0.25f, 1e-6f);

    // Two stops at the same place: the blend factor is 0, never a division by zero.
    const ColorStop coincident[] = {{0.0f, {1, 0, 0}}, {0.0f, {0, 1, 0}}, {1.0f, {0, 0, 1}}};
    ExpectColor(InterpolateStops(0.0f, coincident), {1, 0, 0});
    ExpectColor(InterpolateStops(0.5f, coincident), {0, 0.5f, 0.5f});
    // Outside its stops a table is held at its ends, never extrapolated.
    const ColorStop narrow[] = {{0.25f, {0, 0, 0}}, {0.75f, {1, 1, 1}}};
    ExpectColor(InterpolateStops(0.0f, narrow), {0, 0, 0});
    ExpectColor(InterpolateStops(1.0f, narrow), {1, 1, 1});
}

TEST(ColormapFunctions, JetAndGrayscaleFormulas) {
    ExpectColor(Jet(0.0f), {0.0f, 0.0f, 0.5f});
    ExpectColor(Jet(0.25f), {0.0f, 0.5f, 1.0f});
    ExpectColor(Jet(0.5f), {0.5f, 1.0f, 0.5f});
    ExpectColor(Jet(0.75f), {1.0f, 0.5f, 0.0f});
    ExpectColor(Jet(1.0f), {0.5f, 0.0f, 0.0f});
    ExpectColor(Grayscale(0.3f), {0.3f, 0.3f, 0.3f});
}

TEST(ColormapFunctions, EveryMapClampsItsInput) {
    for (const ColormapFn map : {&Jet, &Viridis, &Magma, &Cividis, &Grayscale}) {
        ExpectColor(map(-0.5f), map(0.0f));
        ExpectColor(map(-kInf), map(0.0f));
        ExpectColor(map(kNaN), map(0.0f));
        ExpectColor(map(1.5f), map(1.0f));
        ExpectColor(map(kInf), map(1.0f));
    }
}

TEST(ColormapNames, NumbersAndNamesBothWays) {
    const std::pair<ColormapType, const char*> names[] = {
        {COLORMAP_UNIFORM, "Uniform"}, {COLORMAP_JET, "Jet"},           {COLORMAP_VIRIDIS, "Viridis"},
        {COLORMAP_MAGMA, "Magma"},     {COLORMAP_CIVIDIS, "Cividis"},   {COLORMAP_EMBEDDED, "Embedded"},
        {COLORMAP_GRAYSCALE, "Grayscale"},
    };
    for (const auto& [map, name] : names) {
        EXPECT_EQ(ColormapName(map), name);
        EXPECT_EQ(ColormapFromName(name), map) << name;
    }
    EXPECT_EQ(ColormapName(static_cast<ColormapType>(7)), "Unknown");
    EXPECT_EQ(ColormapName(static_cast<ColormapType>(-1)), "Unknown");

    const std::pair<const char*, ColormapType> otherTexts[] = {
        {"RGB", COLORMAP_EMBEDDED}, {"jet", COLORMAP_JET},     {"grayscale", COLORMAP_JET},
        {"Unknown", COLORMAP_JET},  {"", COLORMAP_JET},        {"Viridis ", COLORMAP_JET},
    };
    for (const auto& [text, map] : otherTexts) {
        EXPECT_EQ(ColormapFromName(text), map) << '"' << text << '"';
    }
}

TEST(ColormapNames, FunctionPerNumberFallsBackToJet) {
    EXPECT_EQ(ColormapFunction(COLORMAP_UNIFORM), &Jet);
    EXPECT_EQ(ColormapFunction(COLORMAP_JET), &Jet);
    EXPECT_EQ(ColormapFunction(COLORMAP_VIRIDIS), &Viridis);
    EXPECT_EQ(ColormapFunction(COLORMAP_MAGMA), &Magma);
    EXPECT_EQ(ColormapFunction(COLORMAP_CIVIDIS), &Cividis);
    EXPECT_EQ(ColormapFunction(COLORMAP_EMBEDDED), &Jet);
    EXPECT_EQ(ColormapFunction(COLORMAP_GRAYSCALE), &Grayscale);
    EXPECT_EQ(ColormapFunction(static_cast<ColormapType>(42)), &Jet);
}

TEST(ApplyColormap, BytesAreTruncatedComponents) {
    EXPECT_EQ(Bytes({0.0f, 0.5f, 1.0f}, COLORMAP_JET, 0.0f, 1.0f),
              (std::vector<uint8_t>{0, 0, 127, 127, 255, 127, 127, 0, 0}));
    EXPECT_EQ(Bytes({1.0f}, COLORMAP_VIRIDIS, 0.0f, 1.0f), (std::vector<uint8_t>{253, 231, 36}));
    EXPECT_EQ(Bytes({0.999f, 1.0f}, COLORMAP_GRAYSCALE, 0.0f, 1.0f),
              (std::vector<uint8_t>{254, 254, 254, 255, 255, 255}));
    // Values are placed in min..max before colouring.
    EXPECT_EQ(Bytes({10.0f, 15.0f, 20.0f}, COLORMAP_GRAYSCALE, 10.0f, 20.0f),
              (std::vector<uint8_t>{0, 0, 0, 127, 127, 127, 255, 255, 255}));
}

TEST(ApplyColormap, UniformAndEmbeddedUseJet) {
    const std::vector<float> values{-1.0f, 0.2f, 0.7f, 3.0f};
    const auto jet = Bytes(values, COLORMAP_JET, 0.0f, 1.0f);
    EXPECT_EQ(Bytes(values, COLORMAP_UNIFORM, 0.0f, 1.0f), jet);
    EXPECT_EQ(Bytes(values, COLORMAP_EMBEDDED, 0.0f, 1.0f), jet);
    EXPECT_EQ(Bytes(values, static_cast<ColormapType>(9), 0.0f, 1.0f), jet);
}

TEST(ApplyColormap, DegenerateRangesUseTheMinimalSpan) {
    const std::vector<uint8_t> black{0, 0, 0};
    const std::vector<uint8_t> white{255, 255, 255};
    // min = max: more than 1e-6 above min is the top of the map, at or below min the bottom.
    EXPECT_EQ(Bytes({5.0f, 4.0f, 5.5f, 100.0f}, COLORMAP_GRAYSCALE, 5.0f, 5.0f),
              (std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 255, 255, 255, 255, 255, 255}));
    // min > max: everything above min is the top, everything else the bottom.
    EXPECT_EQ(Bytes({9.0f, 10.0f, 10.5f, 2.0f}, COLORMAP_GRAYSCALE, 10.0f, 3.0f),
              (std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 255, 255, 255, 0, 0, 0}));
}

TEST(ApplyColormap, NonFiniteValuesAndRangesStayInTheMap) {
    EXPECT_EQ(Bytes({kInf, -kInf}, COLORMAP_VIRIDIS, 0.0f, 1.0f),
              (std::vector<uint8_t>{253, 231, 36, 68, 1, 83}));
    // NaN has no place in the range: it takes the bottom of the map instead of an
    // undefined float-to-byte conversion.
    EXPECT_EQ(Bytes({kNaN}, COLORMAP_GRAYSCALE, 0.0f, 1.0f), (std::vector<uint8_t>{0, 0, 0}));
    EXPECT_EQ(Bytes({0.5f, 2.0f}, COLORMAP_GRAYSCALE, -kInf, kInf), Repeat({0, 0, 0}, 2));
    EXPECT_EQ(Bytes({0.5f}, COLORMAP_GRAYSCALE, kNaN, 1.0f), Repeat({0, 0, 0}, 1));
}

TEST(ApplyColormap, OutputIsResizedToThreeBytesPerValue) {
    std::vector<uint8_t> rgb(100, 7);
    ApplyColormap({}, COLORMAP_JET, 0.0f, 1.0f, rgb);
    EXPECT_TRUE(rgb.empty());

    const std::vector<float> values(56 * 192, 0.25f);
    ApplyColormap(values, COLORMAP_GRAYSCALE, 0.0f, 1.0f, rgb);
    EXPECT_EQ(rgb, Repeat({63, 63, 63}, values.size()));
}

TEST(PackedColorFunction, PerName) {
    const ColorRgba8 uniform{10, 20, 30, 40};
    const uint32_t uniformPacked = 10u | (20u << 8) | (30u << 16) | (40u << 24);
    EXPECT_EQ(PackColor(uniform), uniformPacked);

    struct Case {
        const char* name;
        float t;
        uint32_t packed;
    };
    const Case cases[] = {
        {"Jet", 0.0f, 0xFF7F0000u},       {"Jet", 0.5f, 0xFF7FFF7Fu},       {"Viridis", 1.0f, 0xFF24E7FDu},
        {"Magma", 0.0f, 0xFF040000u},     {"Cividis", 1.0f, 0xFF04BCFDu},   {"Grayscale", 0.999f, 0xFFFEFEFEu},
        {"Grayscale", 2.0f, 0xFFFFFFFFu}, {"Uniform", 0.3f, uniformPacked}, {"Embedded", 0.9f, 0xFF808080u},
        // Anything but an exact display name is Jet, "RGB" and lower-case texts included.
        {"RGB", 0.0f, 0xFF7F0000u},       {"viridis", 1.0f, 0xFF00007Fu},   {"", 0.5f, 0xFF7FFF7Fu},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PackedColorFunction(c.name, uniform)(c.t), c.packed) << c.name << " at " << c.t;
    }
}

TEST(PackedColorFunction, UniformColorIgnoresTheValue) {
    const auto f = UniformColor(0x12345678u);
    for (const float v : {-kInf, 0.0f, 0.5f, 1.0f, kNaN}) {
        EXPECT_EQ(f(v), 0x12345678u);
    }
}

}  // namespace
}  // namespace orbel::studio::gui
