// "settings.bin": round trip, the load rules (what is restored, what falls back to the
// defaults and is named in the warning), files that do not parse kept aside, and the
// guarantees that a failed save keeps the previous file whole.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <functional>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "ProgramLogCapture.h"
#include "app/AddressRules.h"
#include "app/ConfigHandler.h"
#include "proto/viewer_config.pb.h"

namespace orbel::studio::gui {
namespace {

namespace fs = std::filesystem;
using orbel::testing::ProgramLogCapture;

class ConfigHandlerTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() /
                  ("orbel-settings-" + std::to_string(::getpid()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder_);
        fs::create_directories(folder_);
        path_ = folder_ / "settings.bin";
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }

    void WriteBytes(const std::string& bytes) const {
        std::ofstream file(path_, std::ios::binary | std::ios::trunc);
        file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    std::string ReadBytes() const {
        std::ifstream file(path_, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(file), {});
    }
    static void WriteFile(const fs::path& path, const std::string& bytes) {
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    static std::string ReadFile(const fs::path& path) {
        std::ifstream file(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(file), {});
    }
    void WriteProto(const ViewerConfigProto& proto) const { WriteBytes(proto.SerializeAsString()); }
    ViewerConfigProto ReadProto() const {
        ViewerConfigProto proto;
        EXPECT_TRUE(proto.ParseFromString(ReadBytes()));
        return proto;
    }
    // A file as the program itself writes it, with the defaults.
    ViewerConfigProto DefaultProto() const {
        EXPECT_TRUE(ConfigHandler::Save(std::make_shared<ViewerConfig>(), std::make_shared<SensorConfig>(), path_));
        return ReadProto();
    }

    ProgramLogCapture log_;
    fs::path folder_;
    fs::path path_;
    std::shared_ptr<SensorConfig> sensor_ = std::make_shared<SensorConfig>();
};

void ExpectDefaultSensor(const SensorConfig& sensor) {
    EXPECT_EQ(sensor.sensor_ip, "10.10.100.11");
    EXPECT_EQ(sensor.sensor_port, 4000);
    EXPECT_EQ(sensor.camera_ip, "10.10.100.12");
    EXPECT_TRUE(sensor.enable_camera);
    EXPECT_FALSE(sensor.enable_colorizer);
    EXPECT_EQ(sensor.qext_path, "");
}

TEST_F(ConfigHandlerTest, RestoresEverySettingItKeeps) {
    auto config = std::make_shared<ViewerConfig>();
    config->show_grid = false;
    config->show_origin = false;
    config->point_size = 7;
    config->show_2d_view = false;
    config->view2d_scalar_type = ScalarType::Ambient;
    config->background_color_r = 0.25f;
    config->background_color_g = 0.5f;
    config->background_color_b = 0.75f;
    config->point_color_r = 0.1f;
    config->point_color_g = 0.2f;
    config->point_color_b = 0.3f;
    config->point_color_a = 0.4f;
    config->view3d_colormap = COLORMAP_MAGMA;
    config->view2d_colormap = COLORMAP_GRAYSCALE;
    config->camera_above = true;
    config->camera_split_ratio = 0.35f;
    config->lidar_2d_view_scale_factor = 6.5f;
    auto sensor = std::make_shared<SensorConfig>(SensorConfig{"127.0.0.1", 4123, "127.0.0.2", false, true, "/tmp/a.qext"});
    ASSERT_TRUE(ConfigHandler::Save(config, sensor, path_));

    auto loadedSensor = std::make_shared<SensorConfig>();
    const auto loaded = ConfigHandler::Load(path_, loadedSensor);
    ASSERT_NE(loaded, nullptr);
    EXPECT_FALSE(loaded->show_grid);
    EXPECT_FALSE(loaded->show_origin);
    EXPECT_EQ(loaded->point_size, 7);
    EXPECT_FALSE(loaded->show_2d_view);
    EXPECT_EQ(loaded->view2d_scalar_type, ScalarType::Ambient);
    EXPECT_FLOAT_EQ(loaded->background_color_r, 0.25f);
    EXPECT_FLOAT_EQ(loaded->background_color_g, 0.5f);
    EXPECT_FLOAT_EQ(loaded->background_color_b, 0.75f);
    EXPECT_FLOAT_EQ(loaded->point_color_r, 0.1f);
    EXPECT_FLOAT_EQ(loaded->point_color_g, 0.2f);
    EXPECT_FLOAT_EQ(loaded->point_color_b, 0.3f);
    EXPECT_FLOAT_EQ(loaded->point_color_a, 0.4f);
    EXPECT_EQ(loaded->view3d_colormap, COLORMAP_MAGMA);
    EXPECT_EQ(loaded->view2d_colormap, COLORMAP_GRAYSCALE);
    EXPECT_TRUE(loaded->camera_above);
    EXPECT_FLOAT_EQ(loaded->camera_split_ratio, 0.35f);
    EXPECT_FLOAT_EQ(loaded->lidar_2d_view_scale_factor, 6.5f);

    EXPECT_EQ(loadedSensor->sensor_ip, "127.0.0.1");
    EXPECT_EQ(loadedSensor->sensor_port, 4123);
    EXPECT_EQ(loadedSensor->camera_ip, "127.0.0.2");
    EXPECT_FALSE(loadedSensor->enable_camera);
    EXPECT_TRUE(loadedSensor->enable_colorizer);
    EXPECT_EQ(loadedSensor->qext_path, "/tmp/a.qext");
}

TEST_F(ConfigHandlerTest, WritesRangesAndTransformButDoesNotRestoreThem) {
    auto config = std::make_shared<ViewerConfig>();
    config->view3d_min_scalar_value = -100.0f;
    config->view3d_max_scalar_value = 100.0f;
    config->view2d_min_scalar_value = 10.0f;
    config->view2d_max_scalar_value = 20.0f;
    config->cloud_transform_mode = 2;
    config->cloud_offset_x_meters = 1.0f;
    config->cloud_offset_y_meters = 2.0f;
    config->cloud_offset_z_meters = 3.0f;
    config->cloud_roll_degrees = 10.0f;
    config->cloud_pitch_degrees = 20.0f;
    config->cloud_yaw_degrees = 30.0f;
    config->view3d_scalar_type = ScalarType::Signal;
    config->show_camera = true;
    ASSERT_TRUE(ConfigHandler::Save(config, sensor_, path_));

    const ViewerConfigProto written = ReadProto();
    EXPECT_FLOAT_EQ(written.view3d_min_scalar_value(), -100.0f);
    EXPECT_FLOAT_EQ(written.view2d_max_scalar_value(), 20.0f);
    EXPECT_EQ(written.cloud_transform_mode(), 2);
    EXPECT_FLOAT_EQ(written.cloud_offset_z_meters(), 3.0f);
    EXPECT_FLOAT_EQ(written.cloud_yaw_degrees(), 30.0f);
    EXPECT_TRUE(written.show_camera());

    const auto loaded = ConfigHandler::Load(path_, sensor_);
    ASSERT_NE(loaded, nullptr);
    const ViewerConfig defaults;
    EXPECT_EQ(loaded->view3d_min_scalar_value, defaults.view3d_min_scalar_value);
    EXPECT_EQ(loaded->view3d_max_scalar_value, defaults.view3d_max_scalar_value);
    EXPECT_EQ(loaded->view2d_min_scalar_value, defaults.view2d_min_scalar_value);
    EXPECT_EQ(loaded->view2d_max_scalar_value, defaults.view2d_max_scalar_value);
    EXPECT_EQ(loaded->cloud_transform_mode, 0);
    EXPECT_EQ(loaded->cloud_offset_x_meters, 0.0f);
    EXPECT_EQ(loaded->cloud_offset_y_meters, 0.0f);
    EXPECT_EQ(loaded->cloud_offset_z_meters, 0.0f);
    EXPECT_EQ(loaded->cloud_roll_degrees, 0.0f);
    EXPECT_EQ(loaded->cloud_pitch_degrees, 0.0f);
    EXPECT_EQ(loaded->cloud_yaw_degrees, 0.0f);
    EXPECT_EQ(loaded->view3d_scalar_type, ScalarType::ZAxis);
    EXPECT_FALSE(loaded->show_camera);
}

TEST_F(ConfigHandlerTest, DepthIsStoredAsSignal) {
    auto config = std::make_shared<ViewerConfig>();
    config->view2d_scalar_type = ScalarType::Depth;
    ASSERT_TRUE(ConfigHandler::Save(config, sensor_, path_));
    EXPECT_EQ(ReadProto().view2d_scalar_type(), SCALAR_TYPE_SIGNAL);
    const auto loaded = ConfigHandler::Load(path_, sensor_);
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(loaded->view2d_scalar_type, ScalarType::Signal);
}

TEST_F(ConfigHandlerTest, MapsTheStoredScalarOnLoad) {
    const struct {
        int stored;
        ScalarType loaded;
    } cases[] = {
        {0, ScalarType::XAxis},  {1, ScalarType::YAxis},  {2, ScalarType::ZAxis}, {3, ScalarType::Signal},
        {4, ScalarType::Ambient}, {5, ScalarType::Signal}, {42, ScalarType::Signal},
    };
    for (const auto& c : cases) {
        ViewerConfigProto proto = DefaultProto();
        proto.set_view2d_scalar_type(static_cast<ScalarTypeProto>(c.stored));
        WriteProto(proto);
        const auto loaded = ConfigHandler::Load(path_, sensor_);
        ASSERT_NE(loaded, nullptr) << c.stored;
        EXPECT_EQ(loaded->view2d_scalar_type, c.loaded) << "stored " << c.stored;
    }
}

TEST_F(ConfigHandlerTest, ColormapOutsideTheKnownRangeBecomesJet) {
    const struct {
        int number;
        ColormapType mapped;
    } cases[] = {
        {0, COLORMAP_UNIFORM},  {1, COLORMAP_JET},      {2, COLORMAP_VIRIDIS},   {3, COLORMAP_MAGMA},
        {4, COLORMAP_CIVIDIS},  {5, COLORMAP_EMBEDDED}, {6, COLORMAP_GRAYSCALE}, {7, COLORMAP_JET},
        {-1, COLORMAP_JET},     {1000, COLORMAP_JET},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ToProtoColormap(c.number), c.mapped) << c.number;

        // Saved from the program...
        auto config = std::make_shared<ViewerConfig>();
        config->view3d_colormap = static_cast<ColormapType>(c.number);
        config->view2d_colormap = static_cast<ColormapType>(c.number);
        ASSERT_TRUE(ConfigHandler::Save(config, sensor_, path_));
        EXPECT_EQ(ReadProto().view3d_colormap(), c.mapped) << c.number;

        // ...and read from a file that holds the raw number.
        ViewerConfigProto proto = DefaultProto();
        proto.set_view3d_colormap(static_cast<ColormapType>(c.number));
        proto.set_view2d_colormap(static_cast<ColormapType>(c.number));
        WriteProto(proto);
        const auto loaded = ConfigHandler::Load(path_, sensor_);
        ASSERT_NE(loaded, nullptr);
        EXPECT_EQ(loaded->view3d_colormap, c.mapped) << c.number;
        EXPECT_EQ(loaded->view2d_colormap, c.mapped) << c.number;
    }
}

TEST_F(ConfigHandlerTest, MissingFileKeepsTheDefaults) {
    const auto loaded = ConfigHandler::Load(path_, sensor_);
    EXPECT_EQ(loaded, nullptr);
    ExpectDefaultSensor(*sensor_);
    EXPECT_TRUE(log_.Contains("Loading configuration: Configuration file does not exist: " + path_.string(),
                              spdlog::level::warn));
}

TEST_F(ConfigHandlerTest, GarbageFileKeepsTheDefaults) {
    WriteBytes("garbage bytes!");
    EXPECT_EQ(ConfigHandler::Load(path_, sensor_), nullptr);
    ExpectDefaultSensor(*sensor_);
    EXPECT_TRUE(log_.Contains("Loading configuration: Failed to parse data from file: " + path_.string(),
                              spdlog::level::err));
}

TEST_F(ConfigHandlerTest, UnreadablePathIsReportedNotThrown) {
    fs::create_directories(path_);  // a folder where the file should be
    EXPECT_EQ(ConfigHandler::Load(path_, sensor_), nullptr);
    ExpectDefaultSensor(*sensor_);
    EXPECT_EQ(log_.Count("Loading configuration: ", spdlog::level::err), 1u);
}

// An empty file is a message with every field zero. What the views can show with zero
// is taken as it is; a zero point size, split ratio, scale factor or port, or an empty
// address, would break the views or the connection and falls back to the default.
TEST_F(ConfigHandlerTest, EmptyFileLoadsZeroesExceptWhereZeroBreaksTheProgram) {
    WriteBytes("");
    const auto loaded = ConfigHandler::Load(path_, sensor_);
    ASSERT_NE(loaded, nullptr);
    EXPECT_FALSE(loaded->show_grid);
    EXPECT_FALSE(loaded->show_origin);
    EXPECT_FALSE(loaded->show_2d_view);
    EXPECT_EQ(loaded->background_color_r, 0.0f);
    EXPECT_EQ(loaded->background_color_b, 0.0f);
    EXPECT_EQ(loaded->point_color_g, 0.0f);
    EXPECT_EQ(loaded->point_color_a, 0.0f);
    EXPECT_EQ(loaded->view3d_colormap, COLORMAP_UNIFORM);
    EXPECT_EQ(loaded->view2d_colormap, COLORMAP_UNIFORM);
    EXPECT_EQ(loaded->view2d_scalar_type, ScalarType::XAxis);
    EXPECT_FALSE(loaded->camera_above);

    EXPECT_EQ(loaded->point_size, 2);
    EXPECT_FLOAT_EQ(loaded->camera_split_ratio, 0.6f);
    EXPECT_FLOAT_EQ(loaded->lidar_2d_view_scale_factor, 4.0f);

    EXPECT_EQ(sensor_->sensor_ip, "10.10.100.11");
    EXPECT_EQ(sensor_->sensor_port, 4000);
    EXPECT_EQ(sensor_->camera_ip, "10.10.100.12");
    EXPECT_FALSE(sensor_->enable_camera);
    EXPECT_FALSE(sensor_->enable_colorizer);
    EXPECT_EQ(sensor_->qext_path, "");
    EXPECT_TRUE(log_.Contains("Loading configuration: settings outside their ranges were changed: point_size 0 -> 2, "
                              "camera_split_ratio 0 -> 0.6, lidar_2d_view_scale_factor 0 -> 4, "
                              "sensor_ip \"\" -> \"10.10.100.11\", sensor_port 0 -> 4000, "
                              "camera_ip \"\" -> \"10.10.100.12\"",
                              spdlog::level::warn));
}

// Every stored value is held to the range the program keeps it in: clamped to the nearer
// end, or the default where no end means the same (not finite, zero or below where only a
// positive value works, a port outside 1..65535); one warning names the fields changed.
TEST_F(ConfigHandlerTest, ValuesOutsideTheirRangesAreHeldToThemWithOneWarning) {
    const ViewerConfig d;
    const struct {
        const char* what;
        void (*set)(ViewerConfigProto&);
        const char* change;  // in the warning; empty when the value is taken as it is
        std::function<bool(const ViewerConfig&, const SensorConfig&)> holds;
    } cases[] = {
        {"point size 2147483647", [](ViewerConfigProto& p) { p.set_point_size(2147483647); }, "point_size 2147483647 -> 20",
         [](const ViewerConfig& c, const SensorConfig&) { return c.point_size == 20; }},
        {"point size -3", [](ViewerConfigProto& p) { p.set_point_size(-3); }, "point_size -3 -> 2",
         [](const ViewerConfig& c, const SensorConfig&) { return c.point_size == 2; }},
        {"point size 1", [](ViewerConfigProto& p) { p.set_point_size(1); }, "",
         [](const ViewerConfig& c, const SensorConfig&) { return c.point_size == 1; }},
        {"point size 20", [](ViewerConfigProto& p) { p.set_point_size(20); }, "",
         [](const ViewerConfig& c, const SensorConfig&) { return c.point_size == 20; }},
        {"point size 21", [](ViewerConfigProto& p) { p.set_point_size(21); }, "point_size 21 -> 20",
         [](const ViewerConfig& c, const SensorConfig&) { return c.point_size == 20; }},
        {"background 0", [](ViewerConfigProto& p) { p.set_background_color_b(0.0f); }, "",
         [](const ViewerConfig& c, const SensorConfig&) { return c.background_color_b == 0.0f; }},
        {"point colour 1", [](ViewerConfigProto& p) { p.set_point_color_g(1.0f); }, "",
         [](const ViewerConfig& c, const SensorConfig&) { return c.point_color_g == 1.0f; }},
        {"point colour one step below 0", [](ViewerConfigProto& p) { p.set_point_color_b(std::nextafter(0.0f, -1.0f)); },
         "point_color_b -1e-45 -> 0", [](const ViewerConfig& c, const SensorConfig&) { return c.point_color_b == 0.0f; }},
        {"background one step above 1", [](ViewerConfigProto& p) { p.set_background_color_r(std::nextafter(1.0f, 2.0f)); },
         "background_color_r 1.0000001 -> 1",
         [](const ViewerConfig& c, const SensorConfig&) { return c.background_color_r == 1.0f; }},
        {"background NaN", [](ViewerConfigProto& p) { p.set_background_color_g(std::nanf("")); }, "background_color_g nan -> 0.1",
         [&](const ViewerConfig& c, const SensorConfig&) { return c.background_color_g == d.background_color_g; }},
        {"point colour -0.5", [](ViewerConfigProto& p) { p.set_point_color_r(-0.5f); }, "point_color_r -0.5 -> 0",
         [](const ViewerConfig& c, const SensorConfig&) { return c.point_color_r == 0.0f; }},
        {"point alpha 7", [](ViewerConfigProto& p) { p.set_point_color_a(7.0f); }, "point_color_a 7 -> 1",
         [](const ViewerConfig& c, const SensorConfig&) { return c.point_color_a == 1.0f; }},
        {"split ratio 1.5", [](ViewerConfigProto& p) { p.set_camera_split_ratio(1.5f); }, "camera_split_ratio 1.5 -> 0.8",
         [](const ViewerConfig& c, const SensorConfig&) { return c.camera_split_ratio == 0.8f; }},
        {"split ratio NaN", [](ViewerConfigProto& p) { p.set_camera_split_ratio(std::nanf("")); }, "camera_split_ratio nan -> 0.6",
         [](const ViewerConfig& c, const SensorConfig&) { return c.camera_split_ratio == 0.6f; }},
        {"split ratio 0.2", [](ViewerConfigProto& p) { p.set_camera_split_ratio(0.2f); }, "",
         [](const ViewerConfig& c, const SensorConfig&) { return c.camera_split_ratio == 0.2f; }},
        {"scale factor 1e30", [](ViewerConfigProto& p) { p.set_lidar_2d_view_scale_factor(1e30f); },
         "lidar_2d_view_scale_factor 1e+30 -> 10",
         [](const ViewerConfig& c, const SensorConfig&) { return c.lidar_2d_view_scale_factor == 10.0f; }},
        {"scale factor -1", [](ViewerConfigProto& p) { p.set_lidar_2d_view_scale_factor(-1.0f); },
         "lidar_2d_view_scale_factor -1 -> 4",
         [](const ViewerConfig& c, const SensorConfig&) { return c.lidar_2d_view_scale_factor == 4.0f; }},
        {"scale factor inf", [](ViewerConfigProto& p) { p.set_lidar_2d_view_scale_factor(INFINITY); },
         "lidar_2d_view_scale_factor inf -> 4",
         [](const ViewerConfig& c, const SensorConfig&) { return c.lidar_2d_view_scale_factor == 4.0f; }},
        {"scale factor 0.5", [](ViewerConfigProto& p) { p.set_lidar_2d_view_scale_factor(0.5f); },
         "lidar_2d_view_scale_factor 0.5 -> 1",
         [](const ViewerConfig& c, const SensorConfig&) { return c.lidar_2d_view_scale_factor == 1.0f; }},
        {"port 65536", [](ViewerConfigProto& p) { p.set_sensor_port(65536); }, "sensor_port 65536 -> 4000",
         [](const ViewerConfig&, const SensorConfig& s) { return s.sensor_port == 4000; }},
        {"port -1", [](ViewerConfigProto& p) { p.set_sensor_port(-1); }, "sensor_port -1 -> 4000",
         [](const ViewerConfig&, const SensorConfig& s) { return s.sensor_port == 4000; }},
        {"port 65535", [](ViewerConfigProto& p) { p.set_sensor_port(65535); }, "",
         [](const ViewerConfig&, const SensorConfig& s) { return s.sensor_port == 65535; }},
        {"port 1", [](ViewerConfigProto& p) { p.set_sensor_port(1); }, "",
         [](const ViewerConfig&, const SensorConfig& s) { return s.sensor_port == 1; }},
        {"port 0", [](ViewerConfigProto& p) { p.set_sensor_port(0); }, "sensor_port 0 -> 4000",
         [](const ViewerConfig&, const SensorConfig& s) { return s.sensor_port == 4000; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ViewerConfigProto proto = DefaultProto();
        c.set(proto);
        WriteProto(proto);
        auto sensor = std::make_shared<SensorConfig>();
        const std::string prefix = "Loading configuration: settings outside their ranges were changed: ";
        const size_t before = log_.Count(prefix, spdlog::level::warn);
        const auto loaded = ConfigHandler::Load(path_, sensor);
        ASSERT_NE(loaded, nullptr);
        EXPECT_TRUE(c.holds(*loaded, *sensor));
        if (*c.change == '\0') {
            EXPECT_EQ(log_.Count(prefix, spdlog::level::warn), before);
        } else {
            EXPECT_TRUE(log_.Contains(prefix + c.change, spdlog::level::warn)) << log_.Records().back().text;
        }
    }
    // What is loaded is what the next run finds: saved and loaded again, nothing changes.
    ViewerConfigProto proto = DefaultProto();
    proto.set_point_size(2147483647);
    proto.set_lidar_2d_view_scale_factor(1e30f);
    WriteProto(proto);
    const auto loaded = ConfigHandler::Load(path_, sensor_);
    ASSERT_TRUE(ConfigHandler::Save(loaded, sensor_, path_));
    const size_t before = log_.Count("outside their ranges", spdlog::level::warn);
    const auto again = ConfigHandler::Load(path_, sensor_);
    EXPECT_EQ(again->point_size, 20);
    EXPECT_EQ(again->lidar_2d_view_scale_factor, 10.0f);
    EXPECT_EQ(log_.Count("outside their ranges", spdlog::level::warn), before);
}

// Values that loading leaves at their defaults anyway (the scalar ranges, the cloud's
// placement) and the two addresses: each one stored outside its range is named in the one
// warning; the record holds the default, and a stored value in range is passed over in
// silence as before.
TEST_F(ConfigHandlerTest, EveryDroppedOrReplacedValueIsNamedInTheWarning) {
    const struct {
        const char* what;
        void (*set)(ViewerConfigProto&);
        const char* change;  // in the warning; empty when nothing is to be said
    } cases[] = {
        {"3D range upside down",
         [](ViewerConfigProto& p) { p.set_view3d_min_scalar_value(5000.0f); p.set_view3d_max_scalar_value(100.0f); },
         "view3d_min_scalar_value 5000 -> -4000, view3d_max_scalar_value 100 -> 4000"},
        {"3D upper end NaN", [](ViewerConfigProto& p) { p.set_view3d_max_scalar_value(std::nanf("")); },
         "view3d_max_scalar_value nan -> 4000"},
        {"2D lower end NaN", [](ViewerConfigProto& p) { p.set_view2d_min_scalar_value(std::nanf("")); },
         "view2d_min_scalar_value nan -> 0"},
        {"2D lower end just above the upper",
         [](ViewerConfigProto& p) { p.set_view2d_min_scalar_value(299.5f); p.set_view2d_max_scalar_value(299.0f); },
         "view2d_min_scalar_value 299.5 -> 0, view2d_max_scalar_value 299 -> 300"},
        {"2D range of one value (a fit over a flat channel)",
         [](ViewerConfigProto& p) { p.set_view2d_min_scalar_value(12.0f); p.set_view2d_max_scalar_value(12.0f); }, ""},
        {"offset NaN", [](ViewerConfigProto& p) { p.set_cloud_offset_y_meters(std::nanf("")); },
         "cloud_offset_y_meters nan -> 0"},
        {"offset -inf", [](ViewerConfigProto& p) { p.set_cloud_offset_x_meters(-INFINITY); },
         "cloud_offset_x_meters -inf -> 0"},
        {"offset far but finite", [](ViewerConfigProto& p) { p.set_cloud_offset_z_meters(-2500.0f); }, ""},
        {"roll 1e38", [](ViewerConfigProto& p) { p.set_cloud_roll_degrees(1e38f); }, "cloud_roll_degrees 1e+38 -> 0"},
        {"pitch beyond a turn", [](ViewerConfigProto& p) { p.set_cloud_pitch_degrees(-361.0f); },
         "cloud_pitch_degrees -361 -> 0"},
        {"roll of exactly a turn", [](ViewerConfigProto& p) { p.set_cloud_roll_degrees(360.0f); }, ""},
        {"roll one step past a turn",
         [](ViewerConfigProto& p) { p.set_cloud_roll_degrees(std::nextafter(360.0f, 400.0f)); },
         "cloud_roll_degrees 360.00003 -> 0"},
        {"yaw within a turn", [](ViewerConfigProto& p) { p.set_cloud_yaw_degrees(359.5f); }, ""},
        {"yaw beyond a turn", [](ViewerConfigProto& p) { p.set_cloud_yaw_degrees(400.0f); },
         "cloud_yaw_degrees 400 -> 0"},
        {"transform mode 99", [](ViewerConfigProto& p) { p.set_cloud_transform_mode(99); },
         "cloud_transform_mode 99 -> 0"},
        {"transform mode -1", [](ViewerConfigProto& p) { p.set_cloud_transform_mode(-1); },
         "cloud_transform_mode -1 -> 0"},
        {"transform mode rotation", [](ViewerConfigProto& p) { p.set_cloud_transform_mode(2); }, ""},
        {"camera 999.1.1.1", [](ViewerConfigProto& p) { p.set_camera_ip("999.1.1.1"); },
         "camera_ip \"999.1.1.1\" -> \"10.10.100.12\""},
        {"sensor with a leading zero", [](ViewerConfigProto& p) { p.set_sensor_ip("127.0.0.01"); },
         "sensor_ip \"127.0.0.01\" -> \"10.10.100.11\""},
        {"camera text with a line break, cut in the warning",
         [](ViewerConfigProto& p) { p.set_camera_ip("a\nb" + std::string(60, 'c')); },
         "camera_ip \"a\\x0ab" "ccccccccccccccccccccccccccccccccccccc\"... -> \"10.10.100.12\""},
        {"camera text of exactly the length shown, whole",
         [](ViewerConfigProto& p) { p.set_camera_ip(std::string(40, 'c')); },
         "camera_ip \"cccccccccccccccccccccccccccccccccccccccc\" -> \"10.10.100.12\""},
        {"camera text with a DEL byte", [](ViewerConfigProto& p) { p.set_camera_ip("1.2.3.4\x7f"); },
         "camera_ip \"1.2.3.4\\x7f\" -> \"10.10.100.12\""},
        {"loopback addresses", [](ViewerConfigProto& p) { p.set_sensor_ip("127.0.0.1"); p.set_camera_ip("127.0.0.2"); },
         ""},
        {"several at once, in the file's order",
         [](ViewerConfigProto& p) {
             p.set_camera_ip("");
             p.set_cloud_yaw_degrees(std::nanf(""));
             p.set_point_size(0);
             p.set_view3d_min_scalar_value(INFINITY);
         },
         "view3d_min_scalar_value inf -> -4000, point_size 0 -> 2, cloud_yaw_degrees nan -> 0, "
         "camera_ip \"\" -> \"10.10.100.12\""},
    };
    const std::string prefix = "Loading configuration: settings outside their ranges were changed: ";
    const ViewerConfig d;
    const SensorConfig s;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ViewerConfigProto proto = DefaultProto();
        c.set(proto);
        WriteProto(proto);
        auto sensor = std::make_shared<SensorConfig>();
        const size_t before = log_.Count(prefix, spdlog::level::warn);
        const auto loaded = ConfigHandler::Load(path_, sensor);
        ASSERT_NE(loaded, nullptr);
        EXPECT_EQ(loaded->view3d_min_scalar_value, d.view3d_min_scalar_value);
        EXPECT_EQ(loaded->view3d_max_scalar_value, d.view3d_max_scalar_value);
        EXPECT_EQ(loaded->view2d_min_scalar_value, d.view2d_min_scalar_value);
        EXPECT_EQ(loaded->view2d_max_scalar_value, d.view2d_max_scalar_value);
        EXPECT_EQ(loaded->cloud_transform_mode, 0);
        EXPECT_EQ(loaded->cloud_offset_x_meters, 0.0f);
        EXPECT_EQ(loaded->cloud_offset_y_meters, 0.0f);
        EXPECT_EQ(loaded->cloud_offset_z_meters, 0.0f);
        EXPECT_EQ(loaded->cloud_roll_degrees, 0.0f);
        EXPECT_EQ(loaded->cloud_pitch_degrees, 0.0f);
        EXPECT_EQ(loaded->cloud_yaw_degrees, 0.0f);
        // An address named in the warning is replaced by the default; any other is kept.
        EXPECT_EQ(sensor->sensor_ip, std::strstr(c.change, "sensor_ip") ? s.sensor_ip : proto.sensor_ip());
        EXPECT_EQ(sensor->camera_ip, std::strstr(c.change, "camera_ip") ? s.camera_ip : proto.camera_ip());
        if (*c.change == '\0') {
            EXPECT_EQ(log_.Count(prefix, spdlog::level::warn), before);
        } else {
            EXPECT_EQ(log_.Count(prefix, spdlog::level::warn), before + 1);
            const auto records = log_.Records();
            EXPECT_TRUE(log_.Contains(prefix + c.change, spdlog::level::warn))
                << (records.empty() ? std::string("nothing logged") : records.back().text);
        }
    }
}

// Every value a loaded record holds is one the program can work with; used where the file's
// content is not known in advance.
void ExpectUsable(const ViewerConfig& c, const SensorConfig& s) {
    const ViewerConfig d;
    EXPECT_GE(c.point_size, kMinPointSize);
    EXPECT_LE(c.point_size, kMaxPointSize);
    for (const float colour : {c.background_color_r, c.background_color_g, c.background_color_b, c.point_color_r,
                               c.point_color_g, c.point_color_b, c.point_color_a}) {
        EXPECT_TRUE(colour >= 0.0f && colour <= 1.0f) << colour;
    }
    EXPECT_TRUE(c.camera_split_ratio >= kMinCameraSplitRatio && c.camera_split_ratio <= kMaxCameraSplitRatio);
    EXPECT_TRUE(c.lidar_2d_view_scale_factor >= kMinScaleFactor && c.lidar_2d_view_scale_factor <= kMaxScaleFactor);
    EXPECT_TRUE(c.view3d_colormap >= 0 && c.view3d_colormap <= 6);
    EXPECT_TRUE(c.view2d_colormap >= 0 && c.view2d_colormap <= 6);
    EXPECT_LE(static_cast<int>(c.view2d_scalar_type.load()), 4);
    EXPECT_EQ(c.view3d_min_scalar_value, d.view3d_min_scalar_value);
    EXPECT_EQ(c.view2d_max_scalar_value, d.view2d_max_scalar_value);
    EXPECT_EQ(c.cloud_transform_mode, 0);
    EXPECT_EQ(c.cloud_roll_degrees, 0.0f);
    EXPECT_FALSE(c.show_camera);
    EXPECT_TRUE(IsValidIPv4(s.sensor_ip.c_str())) << s.sensor_ip;
    EXPECT_TRUE(IsValidIPv4(s.camera_ip.c_str())) << s.camera_ip;
    EXPECT_TRUE(IsValidPort(s.sensor_port)) << s.sensor_port;
}

// A file that does not parse is moved aside before anything could write over it, replacing
// an older kept one; the log and the notice say that the defaults are in use and where the
// file went. A missing file is a first start: nothing is kept and nothing is told.
TEST_F(ConfigHandlerTest, FileThatDoesNotParseIsKeptAsideAndTold) {
    const fs::path kept = folder_ / "settings.bin.unreadable";
    const std::string valid = DefaultProto().SerializeAsString();
    std::string badText = DefaultProto().SerializeAsString();
    badText.replace(badText.find("10.10.100.12"), 4, "\xff\xfe\xfd\xfc");  // a text field that is not UTF-8
    const std::string told =
        "Settings could not be read: defaults in use (sensor 10.10.100.11:4000); the file is kept as "
        "settings.bin.unreadable";
    const struct {
        const char* what;
        std::optional<std::string> bytes;  // none: no file at all
        bool unreadable;
    } cases[] = {
        {"no file", std::nullopt, false},
        {"text", std::string("garbage bytes!"), true},
        {"a valid file cut inside the camera address", valid.substr(0, valid.find("10.10.100.12") + 5), true},
        {"a text that is not UTF-8", badText, true},
        {"a valid file", valid, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove(path_);
        WriteFile(kept, "an older unreadable file");
        if (c.bytes) WriteBytes(*c.bytes);
        auto sensor = std::make_shared<SensorConfig>();
        std::string notice = "untouched";
        const size_t warnings = log_.Count("Settings could not be read", spdlog::level::warn);

        const auto loaded = ConfigHandler::Load(path_, sensor, &notice);
        ExpectDefaultSensor(*sensor);
        if (c.unreadable) {
            EXPECT_EQ(loaded, nullptr);
            EXPECT_FALSE(fs::exists(path_));
            EXPECT_EQ(ReadFile(kept), *c.bytes);
            EXPECT_EQ(notice, told);
            EXPECT_TRUE(log_.Contains("Loading configuration: Settings could not be read: defaults in use (sensor "
                                      "10.10.100.11:4000); the file is kept as " + kept.string(),
                                      spdlog::level::warn));
            EXPECT_EQ(log_.Count("Settings could not be read", spdlog::level::warn), warnings + 1);
        } else {
            EXPECT_EQ(loaded != nullptr, c.bytes.has_value());
            EXPECT_EQ(fs::exists(path_), c.bytes.has_value());
            EXPECT_EQ(ReadFile(kept), "an older unreadable file");
            EXPECT_EQ(notice, "untouched");
            EXPECT_EQ(log_.Count("Settings could not be read", spdlog::level::warn), warnings);
        }
    }

    // The defaults named are those the caller's record brings.
    WriteBytes("garbage bytes!");
    auto own = std::make_shared<SensorConfig>(SensorConfig{"127.0.0.1", 4321, "127.0.0.2", false, false, ""});
    std::string notice;
    EXPECT_EQ(ConfigHandler::Load(path_, own, &notice), nullptr);
    EXPECT_EQ(notice, "Settings could not be read: defaults in use (sensor 127.0.0.1:4321); the file is kept as "
                      "settings.bin.unreadable");
    EXPECT_EQ(own->sensor_ip, "127.0.0.1");
}

// Where the file cannot be moved aside (a folder holds the kept name), the notice says so,
// and the file stays where it was; a folder in the file's place is not moved at all.
TEST_F(ConfigHandlerTest, FileThatCannotBeKeptAsideIsToldSo) {
    fs::create_directories(folder_ / "settings.bin.unreadable" / "inside");
    WriteBytes("garbage bytes!");
    std::string notice;
    EXPECT_EQ(ConfigHandler::Load(path_, sensor_, &notice), nullptr);
    EXPECT_EQ(notice, "Settings could not be read: defaults in use (sensor 10.10.100.11:4000); the file could not "
                      "be kept aside");
    EXPECT_EQ(ReadBytes(), "garbage bytes!");
    EXPECT_EQ(log_.Count("Loading configuration: Failed to keep the unreadable file as " +
                             (folder_ / "settings.bin.unreadable").string() + ": ",
                         spdlog::level::err),
              1u);
    ExpectDefaultSensor(*sensor_);

    fs::remove_all(folder_);
    fs::create_directories(path_ / "inside");
    notice.clear();
    EXPECT_EQ(ConfigHandler::Load(path_, sensor_, &notice), nullptr);
    EXPECT_EQ(notice, "Settings could not be read: defaults in use (sensor 10.10.100.11:4000)");
    EXPECT_TRUE(fs::is_directory(path_ / "inside"));
    EXPECT_FALSE(fs::exists(folder_ / "settings.bin.unreadable"));
}

// Random bytes, and random fields of the schema with random values: whatever parses gives
// a record the program can use and keeps nothing aside; whatever does not parse is kept
// aside byte for byte.
TEST_F(ConfigHandlerTest, RandomFilesGiveUsableSettingsOrAreKeptAside) {
    std::mt19937 random(20261210);
    auto byte = [&] { return static_cast<char>(random() & 0xff); };
    const fs::path kept = folder_ / "settings.bin.unreadable";
    int parsed = 0;
    int unreadable = 0;
    for (int round = 0; round < 400; ++round) {
        std::string bytes;
        if (round % 2 == 0) {
            bytes.resize(random() % 200);
            for (char& b : bytes) b = byte();
        } else {
            // Tags of the schema's fields with a random wire type (0 varint, 1 fixed64,
            // 2 length-delimited, 5 fixed32) and random content of the right size.
            for (int field = 0, count = static_cast<int>(random() % 12); field < count; ++field) {
                const uint32_t number = 1 + random() % 35;
                const uint32_t types[] = {0, 1, 2, 5};
                const uint32_t type = types[random() % 4];
                uint32_t tag = number << 3 | type;
                while (tag >= 0x80) bytes += static_cast<char>(0x80 | (tag & 0x7f)), tag >>= 7;
                bytes += static_cast<char>(tag);
                const size_t size = type == 0 ? 1 : type == 1 ? 8 : type == 5 ? 4 : random() % 20;
                if (type == 2) bytes += static_cast<char>(size);
                for (size_t i = 0; i < size; ++i) bytes += type == 0 ? static_cast<char>(random() & 0x7f) : byte();
            }
        }
        SCOPED_TRACE("round " + std::to_string(round));
        fs::remove(kept);
        WriteBytes(bytes);
        auto sensor = std::make_shared<SensorConfig>();
        std::string notice;
        const auto loaded = ConfigHandler::Load(path_, sensor, &notice);
        if (loaded) {
            ++parsed;
            ExpectUsable(*loaded, *sensor);
            EXPECT_FALSE(fs::exists(kept));
            EXPECT_EQ(notice, "");
        } else {
            ++unreadable;
            EXPECT_EQ(ReadFile(kept), bytes);
            EXPECT_FALSE(fs::exists(path_));
            EXPECT_NE(notice, "");
            ExpectDefaultSensor(*sensor);
        }
    }
    // Both outcomes were met, so both were checked.
    EXPECT_GT(parsed, 20);
    EXPECT_GT(unreadable, 20);
}

// "settings.bin" as the program has written it up to now (the schema's encoding of a user's
// session: a fitted 3D range, a 2D range of one value, the cloud rotated, the camera view
// shown at exit): everything it restores comes back as stored, and nothing is warned about.
TEST_F(ConfigHandlerTest, FileOfAnEarlierVersionLoadsUnchanged) {
    static constexpr unsigned char kEarlierFile[] = {
    0x0d, 0x00, 0x50, 0x9c, 0xc4, 0x15, 0x00, 0xb0, 0x33, 0x45, 0x1d, 0x00, 0x00, 0x40, 0x41, 0x25,
    0x00, 0x00, 0x40, 0x41, 0x30, 0x01, 0x38, 0x04, 0x40, 0x01, 0x48, 0x04, 0x55, 0xcd, 0xcc, 0x4c,
    0x3d, 0x5d, 0xcd, 0xcc, 0xcc, 0x3d, 0x65, 0xcd, 0xcc, 0x4c, 0x3e, 0x6d, 0x00, 0x00, 0x80, 0x3f,
    0x75, 0x00, 0x00, 0x00, 0x3f, 0x7d, 0x00, 0x00, 0x80, 0x3e, 0x85, 0x01, 0x00, 0x00, 0x80, 0x3f,
    0x88, 0x01, 0x03, 0x90, 0x01, 0x06, 0x98, 0x01, 0x01, 0xa0, 0x01, 0x01, 0xad, 0x01, 0x66, 0x66,
    0xe6, 0x3e, 0xb5, 0x01, 0x00, 0x00, 0xb0, 0x40, 0xb8, 0x01, 0x02, 0xc5, 0x01, 0x00, 0x00, 0x00,
    0x3f, 0xcd, 0x01, 0x00, 0x00, 0xa0, 0xbf, 0xd5, 0x01, 0x9a, 0x99, 0x99, 0x3e, 0xdd, 0x01, 0x00,
    0xc0, 0xb3, 0x43, 0xe5, 0x01, 0xcd, 0xcc, 0x4c, 0x3e, 0xed, 0x01, 0x00, 0x00, 0xb4, 0x42, 0xf2,
    0x01, 0x09, 0x31, 0x32, 0x37, 0x2e, 0x30, 0x2e, 0x30, 0x2e, 0x35, 0xf8, 0x01, 0x84, 0x20, 0x82,
    0x02, 0x09, 0x31, 0x32, 0x37, 0x2e, 0x30, 0x2e, 0x30, 0x2e, 0x36, 0x88, 0x02, 0x01, 0x90, 0x02,
    0x01, 0x9a, 0x02, 0x17, 0x2f, 0x68, 0x6f, 0x6d, 0x65, 0x2f, 0x6f, 0x70, 0x65, 0x72, 0x61, 0x74,
    0x6f, 0x72, 0x2f, 0x72, 0x69, 0x67, 0x2e, 0x71, 0x65, 0x78, 0x74,
    };
    WriteBytes(std::string(reinterpret_cast<const char*>(kEarlierFile), sizeof kEarlierFile));
    std::string notice;
    const auto loaded = ConfigHandler::Load(path_, sensor_, &notice);
    ASSERT_NE(loaded, nullptr);
    EXPECT_FALSE(loaded->show_grid);
    EXPECT_TRUE(loaded->show_origin);
    EXPECT_EQ(loaded->point_size, 4);
    EXPECT_TRUE(loaded->show_2d_view);
    EXPECT_EQ(loaded->view2d_scalar_type, ScalarType::Ambient);
    EXPECT_FLOAT_EQ(loaded->background_color_r, 0.05f);
    EXPECT_FLOAT_EQ(loaded->background_color_g, 0.1f);
    EXPECT_FLOAT_EQ(loaded->background_color_b, 0.2f);
    EXPECT_FLOAT_EQ(loaded->point_color_r, 1.0f);
    EXPECT_FLOAT_EQ(loaded->point_color_g, 0.5f);
    EXPECT_FLOAT_EQ(loaded->point_color_b, 0.25f);
    EXPECT_FLOAT_EQ(loaded->point_color_a, 1.0f);
    EXPECT_EQ(loaded->view3d_colormap, COLORMAP_MAGMA);
    EXPECT_EQ(loaded->view2d_colormap, COLORMAP_GRAYSCALE);
    EXPECT_FALSE(loaded->show_camera);
    EXPECT_TRUE(loaded->camera_above);
    EXPECT_FLOAT_EQ(loaded->camera_split_ratio, 0.45f);
    EXPECT_FLOAT_EQ(loaded->lidar_2d_view_scale_factor, 5.5f);
    const ViewerConfig d;
    EXPECT_EQ(loaded->view3d_min_scalar_value, d.view3d_min_scalar_value);
    EXPECT_EQ(loaded->view2d_max_scalar_value, d.view2d_max_scalar_value);
    EXPECT_EQ(loaded->cloud_transform_mode, 0);
    EXPECT_EQ(loaded->cloud_roll_degrees, 0.0f);
    EXPECT_EQ(sensor_->sensor_ip, "127.0.0.5");
    EXPECT_EQ(sensor_->sensor_port, 4100);
    EXPECT_EQ(sensor_->camera_ip, "127.0.0.6");
    EXPECT_TRUE(sensor_->enable_camera);
    EXPECT_TRUE(sensor_->enable_colorizer);
    EXPECT_EQ(sensor_->qext_path, "/home/operator/rig.qext");

    EXPECT_EQ(notice, "");
    EXPECT_EQ(log_.Count("Loading configuration", spdlog::level::warn), 0u);
    EXPECT_EQ(log_.Count("Loading configuration", spdlog::level::err), 0u);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder_), fs::directory_iterator()), 1);
}

TEST_F(ConfigHandlerTest, SaveWithoutSensorConfigLeavesTheConnectionFieldsEmpty) {
    ASSERT_TRUE(ConfigHandler::Save(std::make_shared<ViewerConfig>(), nullptr, path_));
    const ViewerConfigProto written = ReadProto();
    EXPECT_EQ(written.sensor_ip(), "");
    EXPECT_EQ(written.sensor_port(), 0);
    EXPECT_FALSE(written.enable_camera());

    std::shared_ptr<SensorConfig> none;
    EXPECT_NE(ConfigHandler::Load(path_, none), nullptr);
    EXPECT_EQ(none, nullptr);
}

TEST_F(ConfigHandlerTest, SaveCreatesMissingFolders) {
    const fs::path nested = folder_ / "a" / "b" / "settings.bin";
    ASSERT_TRUE(ConfigHandler::Save(std::make_shared<ViewerConfig>(), sensor_, nested));
    EXPECT_NE(ConfigHandler::Load(nested, sensor_), nullptr);
}

TEST_F(ConfigHandlerTest, SaveWithoutConfigFails) {
    EXPECT_FALSE(ConfigHandler::Save(nullptr, sensor_, path_));
    EXPECT_FALSE(fs::exists(path_));
    EXPECT_TRUE(log_.Contains("ConfigHandler::Save: config is null", spdlog::level::err));
}

// Keeps writes of this process below `bytes` while alive; a write beyond fails with
// EFBIG instead of raising SIGXFSZ.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &previous_);
        rlimit limited = previous_;
        limited.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &previous_);
        std::signal(SIGXFSZ, previousHandler_);
    }

private:
    rlimit previous_{};
    void (*previousHandler_)(int) = nullptr;
};

TEST_F(ConfigHandlerTest, FailedWriteLeavesThePreviousFileWhole) {
    auto sensor = std::make_shared<SensorConfig>(SensorConfig{"127.0.0.1", 4001, "127.0.0.2", true, true,
                                                              std::string(200, 'q')});
    ASSERT_TRUE(ConfigHandler::Save(std::make_shared<ViewerConfig>(), sensor, path_));
    const std::string before = ReadBytes();
    ASSERT_GT(before.size(), 100u);

    auto changed = std::make_shared<ViewerConfig>();
    changed->point_size = 9;
    std::string failure;
    {
        FileSizeLimit limit(16);
        EXPECT_FALSE(ConfigHandler::Save(changed, sensor, path_, &failure));
    }
    EXPECT_EQ(ReadBytes(), before);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder_), fs::directory_iterator()), 1);
    EXPECT_EQ(failure, "File too large");
    EXPECT_TRUE(log_.Contains("ConfigHandler::Save: Failed to serialize to file: " + path_.string() +
                                  ".tmp (File too large)",
                              spdlog::level::err));
    const auto loaded = ConfigHandler::Load(path_, sensor_);
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(loaded->point_size, 2);
}

// A text that is not UTF-8 would be written, but the file would then fail to parse and
// every setting in it would be lost at the next start.
TEST_F(ConfigHandlerTest, TextThatIsNotUtf8IsNotSavedOverAGoodFile) {
    ASSERT_TRUE(ConfigHandler::Save(std::make_shared<ViewerConfig>(), sensor_, path_));
    const std::string before = ReadBytes();

    auto broken = std::make_shared<SensorConfig>();
    broken->qext_path = std::string("/tmp/calib\xff\xfe.qext");
    EXPECT_FALSE(ConfigHandler::Save(std::make_shared<ViewerConfig>(), broken, path_));
    EXPECT_EQ(ReadBytes(), before);
    EXPECT_EQ(log_.Count("qext_path is not valid UTF-8", spdlog::level::warn), 1u);
    EXPECT_NE(ConfigHandler::Load(path_, sensor_), nullptr);
}

// A save the system refuses: the log names the file and gives the system's reason, the
// caller gets the reason, and nothing is left behind (the previous file, or the folder in its
// place, stays as it was; no temporary file).
TEST_F(ConfigHandlerTest, FailedSaveGivesTheFileAndTheSystemsReason) {
    const fs::path temporary = path_.string() + ".tmp";
    const fs::path blocked = folder_ / "a file" / "settings.bin";
    const struct {
        const char* what;
        std::function<void()> fault;
        bool rootIgnoresIt;  // root writes whatever the permission bits say
        fs::path target;
        fs::path named;  // the file the log line names
        const char* reason;
    } cases[] = {
        {"a folder in the file's place", [&] { fs::create_directories(path_ / "inside"); }, false, path_, path_,
         "Is a directory"},
        {"a folder without write permission",
         [&] {
             WriteBytes("previous");
             fs::permissions(folder_, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                             fs::perm_options::remove);
         },
         true, path_, temporary, "Permission denied"},
        {"a file where the folder should be", [&] { WriteFile(folder_ / "a file", "a file"); }, false, blocked,
         blocked.parent_path(), "Not a directory"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.rootIgnoresIt && ::geteuid() == 0) continue;  // run as another user to see it
        fs::remove_all(folder_);
        fs::create_directories(folder_);
        c.fault();
        const auto entries = [&] {
            std::vector<std::string> names;
            for (const auto& entry : fs::directory_iterator(folder_)) names.push_back(entry.path().filename().string());
            return names;
        };
        const auto contents = [&] { return fs::is_regular_file(path_) ? ReadBytes() : std::string("(no file)"); };
        const std::vector<std::string> before = entries();
        const std::string previous = contents();
        std::string failure;
        EXPECT_FALSE(ConfigHandler::Save(std::make_shared<ViewerConfig>(), sensor_, c.target, &failure));
        fs::permissions(folder_, fs::perms::owner_all, fs::perm_options::add);
        EXPECT_EQ(failure, c.reason);
        const auto records = log_.Records();
        EXPECT_TRUE(std::any_of(records.begin(), records.end(), [&](const ProgramLogCapture::Record& record) {
            return record.level == spdlog::level::err && record.text.find(c.named.string()) != std::string::npos &&
                   record.text.find(c.reason) != std::string::npos;
        })) << (records.empty() ? std::string("nothing logged") : records.back().text);
        EXPECT_EQ(entries(), before);
        EXPECT_FALSE(fs::exists(temporary));
        EXPECT_EQ(contents(), previous);
    }
    EXPECT_TRUE(fs::exists(folder_));
}

// A FIFO in the file's place would hold a plain open until something writes to it, and the
// program would never show its window: it is refused unopened, and kept aside like any file
// that cannot be read. A file the user may not read goes the same way.
TEST_F(ConfigHandlerTest, EntriesThatCannotBeReadAreRefusedAndKeptAside) {
    const fs::path kept = folder_ / "settings.bin.unreadable";
    const struct {
        const char* what;
        std::function<void()> make;
        bool rootIgnoresIt;
        const char* reason;
    } cases[] = {
        {"a FIFO", [&] { ASSERT_EQ(::mkfifo(path_.c_str(), 0600), 0) << std::strerror(errno); }, false,
         "a FIFO, not a regular file"},
        {"a file without read permission",
         [&] {
             WriteBytes(DefaultProto().SerializeAsString());
             fs::permissions(path_, fs::perms::none);
         },
         true, "Permission denied"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.rootIgnoresIt && ::geteuid() == 0) continue;  // run as another user to see it
        fs::remove_all(folder_);
        fs::create_directories(folder_);
        c.make();
        const fs::file_type type = fs::symlink_status(path_).type();
        auto sensor = std::make_shared<SensorConfig>();
        std::string notice;
        EXPECT_EQ(ConfigHandler::Load(path_, sensor, &notice), nullptr);
        ExpectDefaultSensor(*sensor);
        EXPECT_EQ(notice, "Settings could not be read: defaults in use (sensor 10.10.100.11:4000); the file is kept "
                          "as settings.bin.unreadable");
        EXPECT_TRUE(log_.Contains("Loading configuration: Failed to open file for reading: " + path_.string() + " (" +
                                      c.reason + ")",
                                  spdlog::level::err));
        EXPECT_FALSE(fs::exists(fs::symlink_status(path_)));
        EXPECT_EQ(fs::symlink_status(kept).type(), type);
    }
}

}  // namespace
}  // namespace orbel::studio::gui
