// "settings.bin" as a user's disk may hold it, read by the program's settings loader.
// Checked: loading never throws and, when it gives settings, every value the views
// divide by or size with is usable (positive, finite split and scale, a port in range,
// addresses the sensor panel accepts, a colour map the views know, the camera view
// hidden); the settings save again, and loading what was saved gives the same settings
// (the loader's fallbacks are stable). When it gives none, the file was kept aside.
//
// Input: the file's bytes.
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <system_error>

#include <google/protobuf/stubs/logging.h>

#include "app/AddressRules.h"
#include "app/ConfigHandler.h"
#include "common/FuzzCheck.h"
#include "common/FuzzSupport.h"

namespace {

namespace fs = std::filesystem;
using orbel::studio::SensorConfig;
using orbel::studio::gui::ConfigHandler;
using orbel::studio::gui::ViewerConfig;

bool KnownColormap(int value) { return value >= 0 && value <= 6; }

void CheckUsable(const ViewerConfig& config, const SensorConfig& sensor) {
    ORBEL_FUZZ_CHECK(config.point_size.load() > 0, "a point size above zero");
    ORBEL_FUZZ_CHECK(std::isfinite(config.camera_split_ratio) && config.camera_split_ratio > 0.0f &&
                         config.camera_split_ratio <= 1.0f,
                     "a split ratio in (0, 1]");
    ORBEL_FUZZ_CHECK(std::isfinite(config.lidar_2d_view_scale_factor) && config.lidar_2d_view_scale_factor > 0.0f,
                     "a positive, finite 2D scale");
    ORBEL_FUZZ_CHECK(KnownColormap(config.view3d_colormap) && KnownColormap(config.view2d_colormap),
                     "colour maps the views know");
    const auto scalar = static_cast<int>(config.view2d_scalar_type.load());
    ORBEL_FUZZ_CHECK(scalar >= 0 && scalar <= 4, "a 2D scalar the view can show");
    ORBEL_FUZZ_CHECK(!config.show_camera.load(), "the camera view starts hidden");
    ORBEL_FUZZ_CHECK(sensor.sensor_port >= 1 && sensor.sensor_port <= 65535, "a port in range");
    ORBEL_FUZZ_CHECK(orbel::studio::gui::IsValidIPv4(sensor.sensor_ip.c_str()) &&
                         orbel::studio::gui::IsValidIPv4(sensor.camera_ip.c_str()),
                     "addresses the sensor panel accepts");
}

bool Same(float a, float b) { return std::bit_cast<uint32_t>(a) == std::bit_cast<uint32_t>(b); }

bool SameSettings(const ViewerConfig& a, const SensorConfig& s, const ViewerConfig& b, const SensorConfig& t) {
    return a.show_grid.load() == b.show_grid.load() && a.show_origin.load() == b.show_origin.load() &&
           a.point_size.load() == b.point_size.load() && a.show_2d_view.load() == b.show_2d_view.load() &&
           a.view2d_scalar_type.load() == b.view2d_scalar_type.load() &&
           Same(a.background_color_r, b.background_color_r) && Same(a.background_color_g, b.background_color_g) &&
           Same(a.background_color_b, b.background_color_b) && Same(a.point_color_r, b.point_color_r) &&
           Same(a.point_color_g, b.point_color_g) && Same(a.point_color_b, b.point_color_b) &&
           Same(a.point_color_a, b.point_color_a) && a.view3d_colormap == b.view3d_colormap &&
           a.view2d_colormap == b.view2d_colormap && a.camera_above.load() == b.camera_above.load() &&
           Same(a.camera_split_ratio, b.camera_split_ratio) &&
           Same(a.lidar_2d_view_scale_factor, b.lidar_2d_view_scale_factor) && s.sensor_ip == t.sensor_ip &&
           s.sensor_port == t.sensor_port && s.camera_ip == t.camera_ip && s.enable_camera == t.enable_camera &&
           s.enable_colorizer == t.enable_colorizer && s.qext_path == t.qext_path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The protobuf library's own complaints about a file (invalid UTF-8 in a text field)
    // would otherwise fill stderr on every such input.
    static const bool quiet = (google::protobuf::SetLogHandler(nullptr), true);
    (void)quiet;
    const fs::path& folder = orbel::fuzzing::ProcessTempDir();
    const fs::path file = folder / "settings.bin";
    const fs::path saved = folder / "saved" / "settings.bin";
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }

    auto sensor = std::make_shared<SensorConfig>();
    fs::path kept = file;
    kept += ConfigHandler::kUnreadableSuffix;
    std::error_code ignored;
    fs::remove(kept, ignored);
    const std::shared_ptr<ViewerConfig> config = ConfigHandler::Load(file, sensor);
    if (!config) {
        ORBEL_FUZZ_CHECK(fs::exists(kept) && !fs::exists(file), "a file that does not load is kept aside");
        return 0;
    }
    ORBEL_FUZZ_CHECK(!fs::exists(kept), "a file that loads stays where it is");
    CheckUsable(*config, *sensor);

    fs::remove(saved, ignored);
    ORBEL_FUZZ_CHECK(ConfigHandler::Save(config, sensor, saved), "loaded settings save again");
    auto sensorAgain = std::make_shared<SensorConfig>();
    const std::shared_ptr<ViewerConfig> again = ConfigHandler::Load(saved, sensorAgain);
    ORBEL_FUZZ_CHECK(again != nullptr, "saved settings load again");
    ORBEL_FUZZ_CHECK(SameSettings(*config, *sensor, *again, *sensorAgain), "saved settings load to the same values");
    return 0;
}
