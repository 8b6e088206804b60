// The viewer panel's decisions: list entries and scalar types, default bounds, percentile
// fits and histograms (with values that are not finite, a single value, an empty
// channel), and the range slider's geometry when its bounds are equal.
#include "views/ViewerConfigLogic.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numeric>
#include <vector>

namespace orbel::studio::gui {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

TEST(ViewerConfigLogicTest, EntriesAndScalarTypesMapBothWays) {
    EXPECT_EQ(Entry3DFor(COLORMAP_EMBEDDED, ScalarType::Signal), Scalar3DEntry::Color);
    EXPECT_EQ(Entry3DFor(COLORMAP_JET, ScalarType::ZAxis), Scalar3DEntry::Height);
    EXPECT_EQ(Entry3DFor(COLORMAP_VIRIDIS, ScalarType::XAxis), Scalar3DEntry::Depth);
    EXPECT_EQ(Entry3DFor(COLORMAP_JET, ScalarType::Signal), Scalar3DEntry::Reflectivity);
    EXPECT_EQ(Entry3DFor(COLORMAP_JET, ScalarType::Ambient), Scalar3DEntry::Ambient);
    EXPECT_EQ(Entry3DFor(COLORMAP_JET, ScalarType::Depth), Scalar3DEntry::Height);
    EXPECT_EQ(Entry2DFor(ScalarType::XAxis), Scalar2DEntry::Depth);
    EXPECT_EQ(Entry2DFor(ScalarType::Depth), Scalar2DEntry::Reflectivity);
    for (Scalar3DEntry e : {Scalar3DEntry::Height, Scalar3DEntry::Depth, Scalar3DEntry::Reflectivity,
                            Scalar3DEntry::Ambient}) {
        EXPECT_EQ(Entry3DFor(COLORMAP_JET, ScalarTypeOf(e)), e);
    }
    for (Scalar2DEntry e : {Scalar2DEntry::Reflectivity, Scalar2DEntry::Ambient, Scalar2DEntry::Depth}) {
        EXPECT_EQ(Entry2DFor(ScalarTypeOf(e)), e);
    }
    EXPECT_EQ(IndexOfName(k2DColormapNames, "Uniform"), 0);  // not in the list: the first entry
    EXPECT_EQ(IndexOfName(k3DColormapNames, "Embedded"), 6);
    EXPECT_EQ(DefaultBounds3D(Scalar3DEntry::Reflectivity).upper, 100.0f);
    EXPECT_EQ(FitBounds(ScalarType::Signal).upper, 300.0f);
    EXPECT_EQ(FitBounds(ScalarType::Depth).upper, 200.0f);
}

TEST(ViewerConfigLogicTest, FitTakesTheFirstAndNinetyNinthPercentileOfFiniteValues) {
    std::vector<float> values(200);
    std::iota(values.begin(), values.end(), 0.0f);  // 0 .. 199
    std::reverse(values.begin(), values.end());
    auto fit = FitRange(values, {-1000.0f, 1000.0f});
    ASSERT_TRUE(fit.has_value());
    EXPECT_EQ(fit->lower, 2.0f);
    EXPECT_EQ(fit->upper, 198.0f);

    // Clamped into the bounds.
    fit = FitRange(values, {10.0f, 150.0f});
    EXPECT_EQ(fit->lower, 10.0f);
    EXPECT_EQ(fit->upper, 150.0f);

    // NaN and infinities never reach the sort: the same fit as without them.
    std::vector<float> dirty = values;
    dirty.insert(dirty.begin() + 17, {kNaN, kInf, -kInf, kNaN});
    fit = FitRange(dirty, {-1000.0f, 1000.0f});
    ASSERT_TRUE(fit.has_value());
    EXPECT_EQ(fit->lower, 2.0f);
    EXPECT_EQ(fit->upper, 198.0f);

    // One value: both percentiles are that value.
    fit = FitRange({42.0f}, {0.0f, 300.0f});
    ASSERT_TRUE(fit.has_value());
    EXPECT_EQ(fit->lower, 42.0f);
    EXPECT_EQ(fit->upper, 42.0f);

    EXPECT_FALSE(FitRange({}, {0.0f, 1.0f}).has_value());
    EXPECT_FALSE(FitRange({kNaN, kInf}, {0.0f, 1.0f}).has_value());
}

TEST(ViewerConfigLogicTest, MinMaxSkipsValuesThatAreNotFinite) {
    auto mm = FiniteMinMax({kNaN, 3.0f, -kInf, -2.0f, kNaN});
    ASSERT_TRUE(mm.has_value());
    EXPECT_EQ(mm->lower, -2.0f);
    EXPECT_EQ(mm->upper, 3.0f);
    EXPECT_FALSE(FiniteMinMax({}).has_value());
    EXPECT_FALSE(FiniteMinMax({kNaN}).has_value());
}

double Total(const Histogram& h) { return std::accumulate(h.counts.begin(), h.counts.end(), 0.0); }

TEST(ViewerConfigLogicTest, HistogramBinsFiniteValuesWithinItsBounds) {
    Histogram h;
    const std::vector<float> values{0.0f, 0.5f, 63.9f, 64.0f, 32.0f, kNaN, kInf, -kInf, -1.0f, 65.0f};
    UpdateHistogram(h, &values, ScalarBounds{0.0f, 64.0f});
    EXPECT_EQ(h.values.size(), 7u);  // the three non-finite values are gone
    EXPECT_EQ(h.counts[0], 2.0);
    EXPECT_EQ(h.counts[32], 1.0);
    EXPECT_EQ(h.counts[63], 2.0);  // 63.9 and the upper bound itself
    EXPECT_EQ(Total(h), 5.0);      // -1 and 65 lie outside
    EXPECT_DOUBLE_EQ(h.centres[0], 0.5);
    EXPECT_DOUBLE_EQ(h.centres[63], 63.5);

    // New bounds only: the kept values are binned again.
    UpdateHistogram(h, nullptr, ScalarBounds{-10.0f, 118.0f});
    EXPECT_EQ(Total(h), 7.0);
    EXPECT_EQ(h.counts[4], 1.0);  // -1 lies in the fifth bin of width 2

    // A single value; bounds too close to divide by put everything into bin 32.
    const std::vector<float> one{5.0f};
    UpdateHistogram(h, &one, ScalarBounds{0.0f, 1e-37f});
    EXPECT_EQ(h.counts[32], 1.0);
    EXPECT_EQ(Total(h), 1.0);
    UpdateHistogram(h, &one, ScalarBounds{0.0f, 10.0f});
    EXPECT_EQ(h.counts[32], 1.0);
    EXPECT_EQ(Total(h), 1.0);

    // Equal or reversed bounds, or an empty channel: nothing is binned, nothing breaks.
    for (ScalarBounds b : {ScalarBounds{3, 3}, ScalarBounds{4, 1}, ScalarBounds{kNaN, 1}}) {
        UpdateHistogram(h, &one, b);
        EXPECT_EQ(Total(h), 0.0);
    }
    const std::vector<float> empty;
    UpdateHistogram(h, &empty, ScalarBounds{0, 1});
    EXPECT_EQ(Total(h), 0.0);
}

TEST(ViewerConfigLogicTest, HistogramColoursSampleTheDisplayRangeSafely) {
    EXPECT_FLOAT_EQ(HistogramColorPosition(5.0, {0.0f, 10.0f}), 0.5f);
    EXPECT_FLOAT_EQ(HistogramColorPosition(-5.0, {0.0f, 10.0f}), 0.0f);
    EXPECT_FLOAT_EQ(HistogramColorPosition(50.0, {0.0f, 10.0f}), 1.0f);
    EXPECT_FLOAT_EQ(HistogramColorPosition(5.0, {3.0f, 3.0f}), 0.0f);
    EXPECT_FLOAT_EQ(HistogramColorPosition(5.0, {kNaN, 3.0f}), 0.0f);
}

TEST(ViewerConfigLogicTest, RangeSliderIsSafeWhenItsBoundsAreEqual) {
    EXPECT_FLOAT_EQ(SliderX(5.0f, {0.0f, 10.0f}, 100.0f, 300.0f), 200.0f);
    EXPECT_FLOAT_EQ(SliderX(50.0f, {0.0f, 10.0f}, 100.0f, 300.0f), 300.0f);
    EXPECT_FLOAT_EQ(SliderValue(150.0f, {0.0f, 10.0f}, 100.0f, 300.0f), 2.5f);
    EXPECT_FLOAT_EQ(SliderValue(50.0f, {0.0f, 10.0f}, 100.0f, 300.0f), 0.0f);

    for (float v : {SliderX(7.0f, {7.0f, 7.0f}, 100.0f, 300.0f), SliderX(kNaN, {0.0f, 1.0f}, 100.0f, 300.0f),
                    SliderValue(150.0f, {7.0f, 7.0f}, 100.0f, 300.0f), SliderValue(150.0f, {0.0f, 1.0f}, 100.0f, 100.0f)}) {
        EXPECT_TRUE(std::isfinite(v));
    }
    EXPECT_FLOAT_EQ(SliderValue(150.0f, {7.0f, 7.0f}, 100.0f, 300.0f), 7.0f);

    // The nearer handle moves, ties to the upper one, keeping the gap.
    auto [lo, hi] = MoveNearestHandle(2.0f, 1.0f, 8.0f, 110.0f, 120.0f, 260.0f, 0.01f);
    EXPECT_FLOAT_EQ(lo, 2.0f);
    EXPECT_FLOAT_EQ(hi, 8.0f);
    std::tie(lo, hi) = MoveNearestHandle(9.0f, 1.0f, 8.0f, 190.0f, 120.0f, 260.0f, 0.01f);
    EXPECT_FLOAT_EQ(hi, 9.0f);
    std::tie(lo, hi) = MoveNearestHandle(0.5f, 1.0f, 8.0f, 200.0f, 200.0f, 200.0f, 0.01f);
    EXPECT_FLOAT_EQ(lo, 1.0f);
    EXPECT_FLOAT_EQ(hi, 1.01f);
}

// The labels start 10 pixels left of their handles, are pushed apart when close, and stay
// inside the slider; one brought back inside at an end leaves the other at its handle.
TEST(ViewerConfigLogicTest, HandleLabelsNeverOverlap) {
    struct Case {
        const char* name;
        float minX, maxX;
        float first, second;  // where the labels start
    };
    // Labels 40 and 44 pixels wide, 6 apart at the least, within 0..300.
    for (const Case& c : {Case{"far apart", 100.0f, 200.0f, 90.0f, 190.0f},
                          Case{"close: pushed apart about their middle", 100.0f, 120.0f, 77.0f, 123.0f},
                          Case{"on one spot", 150.0f, 150.0f, 117.0f, 163.0f},
                          Case{"at the right end", 290.0f, 295.0f, 210.0f, 256.0f},
                          Case{"at the left end", 5.0f, 8.0f, 0.0f, 46.0f},
                          Case{"upper handle alone at the right end", 100.0f, 295.0f, 90.0f, 256.0f},
                          Case{"lower handle alone at the left end", 4.0f, 200.0f, 0.0f, 190.0f}}) {
        const auto [first, second] = PlaceHandleLabels(c.minX, c.maxX, 40.0f, 44.0f, 0.0f, 300.0f, 6.0f);
        EXPECT_FLOAT_EQ(first, c.first) << c.name;
        EXPECT_FLOAT_EQ(second, c.second) << c.name;
        EXPECT_GE(second - (first + 40.0f), 6.0f - 1e-4f) << c.name;
    }
}

}  // namespace
}  // namespace orbel::studio::gui
