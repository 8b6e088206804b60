// "settings.bin": round trip, the load rules (what is restored, what falls back to the
// defaults) and the guarantees that a failed save keeps the previous file whole.
#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <filesystem>
#include <functional>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <system_error>

#include <sys/resource.h>
#include <unistd.h>

#include "ProgramLogCapture.h"
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
// is taken as it is; a zero point size, split ratio, scale factor or port would break
// the views or the connection and falls back to the default.
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

    EXPECT_EQ(sensor_->sensor_ip, "");
    EXPECT_EQ(sensor_->sensor_port, 4000);
    EXPECT_EQ(sensor_->camera_ip, "");
    EXPECT_FALSE(sensor_->enable_camera);
    EXPECT_FALSE(sensor_->enable_colorizer);
    EXPECT_EQ(sensor_->qext_path, "");
    EXPECT_TRUE(log_.Contains("Loading configuration: settings outside their ranges were changed: point_size 0 -> 2, "
                              "camera_split_ratio 0 -> 0.6, lidar_2d_view_scale_factor 0 -> 4, sensor_port 0 -> 4000",
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
    {
        FileSizeLimit limit(16);
        EXPECT_FALSE(ConfigHandler::Save(changed, sensor, path_));
    }
    EXPECT_EQ(ReadBytes(), before);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder_), fs::directory_iterator()), 1);
    EXPECT_TRUE(log_.Contains("ConfigHandler::Save: Failed to serialize to file: " + path_.string(),
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

TEST_F(ConfigHandlerTest, SaveOverAFolderFailsAndLeavesNoTemporaryFile) {
    fs::create_directories(path_ / "inside");
    EXPECT_FALSE(ConfigHandler::Save(std::make_shared<ViewerConfig>(), sensor_, path_));
    EXPECT_TRUE(fs::is_directory(path_));
    EXPECT_EQ(std::distance(fs::directory_iterator(folder_), fs::directory_iterator()), 1);
}

}  // namespace
}  // namespace orbel::studio::gui
