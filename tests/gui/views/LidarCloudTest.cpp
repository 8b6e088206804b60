// The "lidar" scene object built from a frame: which values colour the points for every
// scalar type and colour map, the embedded colours, the cloud transform and the point
// size; and the flattening of a scene into vertex arrays and draw commands.
#include "views/LidarCloud.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

namespace orbel::studio::gui {
namespace {

// Three points with distinct x, y, z, signal and ambient values; coordinates in mm.
std::shared_ptr<FrameData> ThreePoints() {
    auto frame = std::make_shared<FrameData>();
    frame->xyz = {1000, 2000, 3000, 4000, 5000, 6000, 7000, 8000, 9000};
    frame->signal = {11, 12, 13};
    frame->ambient = {21, 22, 23};
    frame->rgb = {255, 0, 0, 0, 255, 0, 0, 0, 51};
    frame->width = 3;
    frame->height = 1;
    return frame;
}

std::vector<float> Scalars(FrameData& frame, ScalarType type, ColormapType map) {
    ViewerConfig config;
    config.view3d_scalar_type = type;
    config.view3d_colormap = map;
    SceneObject object;
    std::vector<float> pick;
    BuildLidarObject(frame, config, object, pick);
    EXPECT_EQ(object.color_mode, static_cast<int>(map));
    return object.scalars;
}

TEST(LidarCloudTest, EveryScalarTypeColoursByItsChannelUnderEveryMap) {
    const struct {
        ScalarType type;
        std::vector<float> scalars;
    } cases[] = {
        {ScalarType::XAxis, {1000, 4000, 7000}},
        {ScalarType::YAxis, {2000, 5000, 8000}},
        {ScalarType::ZAxis, {3000, 6000, 9000}},
        {ScalarType::Signal, {11, 12, 13}},
        {ScalarType::Ambient, {21, 22, 23}},
        {ScalarType::Depth, {3000, 6000, 9000}},  // depth colours by z
    };
    for (int map = 0; map <= 6; ++map) {
        for (const auto& c : cases) {
            SCOPED_TRACE(testing::Message() << "map " << map << " scalar " << static_cast<int>(c.type));
            auto frame = ThreePoints();
            EXPECT_EQ(Scalars(*frame, c.type, static_cast<ColormapType>(map)), c.scalars);
        }
    }
}

TEST(LidarCloudTest, ASignalChannelOfAnotherLengthFallsBackToHeight) {
    auto frame = ThreePoints();
    frame->signal = {1, 2};  // a frame whose rows do not match its points
    EXPECT_EQ(Scalars(*frame, ScalarType::Signal, COLORMAP_JET), (std::vector<float>{3000, 6000, 9000}));
    frame->ambient.clear();
    EXPECT_EQ(Scalars(*frame, ScalarType::Ambient, COLORMAP_JET), (std::vector<float>{3000, 6000, 9000}));
}

TEST(LidarCloudTest, EmbeddedColoursOnlyWithOneTriplePerPointElseWhite) {
    ViewerConfig config;
    config.view3d_colormap = COLORMAP_EMBEDDED;
    SceneObject object;
    std::vector<float> pick;

    auto frame = ThreePoints();
    BuildLidarObject(*frame, config, object, pick);
    ASSERT_EQ(object.colors.size(), 3u);
    EXPECT_FLOAT_EQ(object.colors[0].x, 1.0f);
    EXPECT_FLOAT_EQ(object.colors[1].y, 1.0f);
    EXPECT_FLOAT_EQ(object.colors[2].z, 0.2f);

    config.view3d_colormap = COLORMAP_JET;  // another map ignores the colours
    BuildLidarObject(*frame, config, object, pick);
    EXPECT_TRUE(object.colors.empty());

    config.view3d_colormap = COLORMAP_EMBEDDED;
    for (std::vector<uint8_t> rgb : {std::vector<uint8_t>{}, std::vector<uint8_t>(6, 9), std::vector<uint8_t>(12, 9)}) {
        frame->rgb = rgb;
        BuildLidarObject(*frame, config, object, pick);
        EXPECT_TRUE(object.colors.empty()) << rgb.size();
        // Staged, an object without colours draws white.
        Scene scene;
        scene["lidar"] = object;
        StagedScene staged;
        StageScene(scene, staged);
        EXPECT_EQ(staged.colors, std::vector<float>(9, 1.0f));
    }
}

TEST(LidarCloudTest, TheTransformTurnsThenOffsetsAndPickingKeepsMetres) {
    ViewerConfig config;
    config.cloud_yaw_degrees = 90.0f;
    config.cloud_offset_x_meters = 10.0f;
    config.cloud_offset_z_meters = -1.0f;
    config.point_size = 4;
    config.view3d_min_scalar_value = -5.0f;
    config.view3d_max_scalar_value = 7.0f;
    auto frame = ThreePoints();
    SceneObject object;
    std::vector<float> pick;
    BuildLidarObject(*frame, config, object, pick);
    ASSERT_EQ(object.positions.size(), 3u);
    // (1, 2, 3) m turned 90 degrees about z is (-2, 1, 3), then offset.
    EXPECT_NEAR(object.positions[0].x, 8000.0f, 1e-2f);
    EXPECT_NEAR(object.positions[0].y, 1000.0f, 1e-2f);
    EXPECT_NEAR(object.positions[0].z, 2000.0f, 1e-2f);
    ASSERT_EQ(pick.size(), 9u);
    EXPECT_NEAR(pick[0], 8.0f, 1e-5f);
    EXPECT_NEAR(pick[2], 2.0f, 1e-5f);
    EXPECT_EQ(object.point_size, 4.0f);
    EXPECT_EQ(object.scalar_min, -5.0f);
    EXPECT_EQ(object.scalar_max, 7.0f);
    EXPECT_EQ(object.primitive, kPrimitivePoints);

    // Roll then pitch: x-axis rotation first.
    ViewerConfig turned;
    turned.cloud_roll_degrees = 90.0f;
    turned.cloud_pitch_degrees = 90.0f;
    BuildLidarObject(*frame, turned, object, pick);
    // Rx(90) (1, 2, 3) = (1, -3, 2); Ry(90) of that = (2, -3, -1).
    EXPECT_NEAR(pick[0], 2.0f, 1e-5f);
    EXPECT_NEAR(pick[1], -3.0f, 1e-5f);
    EXPECT_NEAR(pick[2], -1.0f, 1e-5f);

    // A frame already in metres is not scaled again.
    frame->inMetres = true;
    frame->xyz = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    BuildLidarObject(*frame, ViewerConfig{}, object, pick);
    EXPECT_NEAR(object.positions[2].z, 9000.0f, 1e-3f);
}

TEST(LidarCloudTest, PointSizeIsHeldWithinOneToTwenty) {
    for (const auto& [configured, drawn] : {std::pair{0, 1.0f}, std::pair{-3, 1.0f}, std::pair{7, 7.0f},
                                           std::pair{20, 20.0f}, std::pair{500, 20.0f}}) {
        ViewerConfig config;
        config.point_size = configured;
        auto frame = ThreePoints();
        SceneObject object;
        std::vector<float> pick;
        BuildLidarObject(*frame, config, object, pick);
        EXPECT_EQ(object.point_size, drawn) << configured;
    }
}

TEST(LidarCloudTest, CoordinateChannelsAreCachedInTheFrameOnce) {
    auto frame = ThreePoints();
    const std::vector<float>* y = GetScalarChannel(*frame, ScalarType::YAxis);
    ASSERT_NE(y, nullptr);
    EXPECT_EQ(*y, (std::vector<float>{2000, 5000, 8000}));
    EXPECT_EQ(y, &frame->yCache);
    EXPECT_EQ(GetScalarChannel(*frame, ScalarType::YAxis), y);
    EXPECT_EQ(GetScalarChannel(*frame, ScalarType::Depth), nullptr);
    EXPECT_EQ(GetScalarChannel(*frame, ScalarType::Signal), &frame->signal);
}

TEST(SceneStagingTest, FillsThenLinesThenPointsWithZerosAndWhiteForMismatchedArrays) {
    Scene scene;
    SceneObject points;
    points.positions = {{1, 1, 1}, {2, 2, 2}};
    points.scalars = {5, 6};
    points.point_size = 3;
    SceneObject lines;
    lines.primitive = kPrimitiveLineStrip;
    lines.positions = {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}};
    lines.scalars = {1};                 // wrong count: zeros
    lines.colors = {{0.5f, 0.5f, 0.5f}};  // wrong count: white
    SceneObject fill;
    fill.primitive = kPrimitiveTriangles;
    fill.positions = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    fill.depth_write = false;
    SceneObject skipped;
    skipped.primitive = 2;  // line loop: never drawn
    skipped.positions = {{9, 9, 9}};
    SceneObject strip;
    strip.primitive = 5;  // triangle strip: never drawn
    strip.positions = {{9, 9, 9}};
    scene["a_points"] = points;
    scene["b_lines"] = lines;
    scene["c_fill"] = fill;
    scene["d_loop"] = skipped;
    scene["e_strip"] = strip;

    StagedScene staged;
    StageScene(scene, staged);
    ASSERT_EQ(staged.commands.size(), 3u);
    EXPECT_EQ(staged.commands[0].primitive, kPrimitiveTriangles);
    EXPECT_FALSE(staged.commands[0].depth_write);
    EXPECT_EQ(staged.commands[1].primitive, kPrimitiveLineStrip);
    EXPECT_EQ(staged.commands[1].first, 3);
    EXPECT_EQ(staged.commands[2].primitive, kPrimitivePoints);
    EXPECT_EQ(staged.commands[2].first, 6);
    EXPECT_EQ(staged.commands[2].count, 2);
    EXPECT_EQ(staged.commands[2].point_size, 3.0f);
    EXPECT_EQ(staged.positions.size(), 24u);
    EXPECT_EQ(staged.scalars, (std::vector<float>{0, 0, 0, 0, 0, 0, 5, 6}));
    EXPECT_EQ(staged.colors, std::vector<float>(24, 1.0f));
}

}  // namespace
}  // namespace orbel::studio::gui
