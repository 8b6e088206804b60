// Reading and writing "settings.bin". The scalar ranges, the cloud transform and the
// 3D scalar choice are written but deliberately not restored, and the camera view
// always starts hidden, so each run starts from a neutral view. Nothing read is changed
// without a word: every stored value outside its range, restored or not, is named in one
// warning, and a file that cannot be read or does not parse is kept aside before the
// defaults take over.
#include "app/ConfigHandler.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <optional>
#include <string>
#include <system_error>
#include <type_traits>
#include <utility>
#include <vector>

#include <fmt/format.h>
#include <utf8.h>

#include "app/AddressRules.h"
#include "app/Logging.h"
#include "platform/WholeFile.h"
#include "proto/viewer_config.pb.h"

namespace orbel::studio::gui {
namespace {

constexpr int kLevelWarning = 3;
constexpr int kLevelError = 4;

// The file stores the 2D scalar as one of its first five values; depth (and anything
// unknown) becomes signal.
ScalarType ScalarFromFile(int value) {
    switch (value) {
        case 0: return ScalarType::XAxis;
        case 1: return ScalarType::YAxis;
        case 2: return ScalarType::ZAxis;
        case 4: return ScalarType::Ambient;
        default: return ScalarType::Signal;
    }
}

ScalarTypeProto ScalarToFile(ScalarType value) {
    const auto number = static_cast<int>(value);
    if (number >= 0 && number <= 4) {
        return static_cast<ScalarTypeProto>(number);
    }
    return SCALAR_TYPE_SIGNAL;
}

template <typename T>
std::string ToText(T value) {
    if constexpr (std::is_floating_point_v<T>) {
        return std::isfinite(value) ? fmt::format("{}", value) : std::to_string(static_cast<double>(value));
    } else {
        return std::to_string(value);
    }
}

// A stored text as the warning shows it: quoted, only printable ASCII (anything else as
// \xNN), and cut after a screenful, since a damaged file may hold any text there.
std::string ToText(const std::string& value) {
    constexpr std::size_t kShown = 40;
    std::string text = "\"";
    for (std::size_t i = 0; i < value.size() && i < kShown; ++i) {
        const auto byte = static_cast<unsigned char>(value[i]);
        if (byte < 0x20 || byte >= 0x7f || byte == '"' || byte == '\\') {
            text += fmt::format("\\x{:02x}", byte);
        } else {
            text += static_cast<char>(byte);
        }
    }
    text += value.size() > kShown ? "\"..." : "\"";
    return text;
}

// Holds loaded values to the ranges the program keeps them in, and names every field it had
// to change in one warning. A value the range cannot mend (not finite, or zero or below where
// only a positive value works: a field missing from the file reads as zero) takes the
// default; any other is clamped to the nearer end. Values that loading leaves at their
// defaults anyway are named too when the file held them out of range.
class RangeCheck {
public:
    template <typename T>
    T Held(const char* field, T loaded, T low, T high, T fallback, bool positive) {
        T value = loaded;
        if constexpr (std::is_floating_point_v<T>) {
            if (!std::isfinite(value)) value = fallback;
        }
        if (positive && !(value > T{0})) value = fallback;
        value = std::clamp(value, low, high);
        Note(field, loaded, value);
        return value;
    }
    // For a value whose nearer end means something else (a port): the default when outside.
    template <typename T>
    T Within(const char* field, T loaded, T low, T high, T fallback) {
        const T value = loaded >= low && loaded <= high ? loaded : fallback;
        Note(field, loaded, value);
        return value;
    }
    float Colour(const char* field, float loaded, float fallback) {
        return Held(field, loaded, 0.0f, 1.0f, fallback, false);
    }
    // An address the sensor panel's field would refuse: the default, as the field keeps
    // the setting it had.
    std::string Address(const char* field, const std::string& loaded, const std::string& fallback) {
        const std::string value = IsValidIPv4(loaded.c_str()) ? loaded : fallback;
        Note(field, loaded, value);
        return value;
    }
    // For a value that loading does not restore (it keeps its default): named only when the
    // file held one outside its range, since that value is then dropped for a reason.
    template <typename T>
    void Unrestored(const char* field, T loaded, bool inRange, T fallback) {
        if (!inRange) Change(field, loaded, fallback);
    }
    void Report() const {
        if (changed_.empty()) return;
        std::string fields;
        for (const std::string& change : changed_) fields += (fields.empty() ? "" : ", ") + change;
        Log("Loading configuration: settings outside their ranges were changed: " + fields, kLevelWarning);
    }

private:
    template <typename T>
    void Note(const char* field, const T& loaded, const T& value) {
        if (!(value == loaded)) Change(field, loaded, value);
    }
    template <typename T>
    void Change(const char* field, const T& loaded, const T& value) {
        changed_.push_back(std::string(field) + " " + ToText(loaded) + " -> " + ToText(value));
    }

    std::vector<std::string> changed_;
};

// A colour-map range needs finite ends, the lower not above the upper (equal ends are what a
// fit over a flat channel gives).
void CheckScalarRange(RangeCheck& check, const char* minField, const char* maxField, float min, float max,
                      const std::atomic<float>& defaultMin, const std::atomic<float>& defaultMax) {
    const bool ordered = !(std::isfinite(min) && std::isfinite(max)) || min <= max;
    check.Unrestored(minField, min, std::isfinite(min) && ordered, defaultMin.load());
    check.Unrestored(maxField, max, std::isfinite(max) && ordered, defaultMax.load());
}

// The cloud's placement: a mode the viewer panel knows (0 none, 1 offset, 2 rotation), finite
// offsets (the offset fields have no bounds), and angles within a turn either way (the panel
// and the gizmo keep them in 0..360; beyond a turn a float angle loses its degrees).
void CheckCloudTransform(const ViewerConfigProto& proto, const ViewerConfig& defaults, RangeCheck& check) {
    const int32_t mode = proto.cloud_transform_mode();
    check.Unrestored("cloud_transform_mode", mode, mode >= 0 && mode <= 2, defaults.cloud_transform_mode.load());
    const struct {
        const char* field;
        float loaded;
        const std::atomic<float>& fallback;
        bool angle;
    } values[] = {
        {"cloud_offset_x_meters", proto.cloud_offset_x_meters(), defaults.cloud_offset_x_meters, false},
        {"cloud_offset_y_meters", proto.cloud_offset_y_meters(), defaults.cloud_offset_y_meters, false},
        {"cloud_offset_z_meters", proto.cloud_offset_z_meters(), defaults.cloud_offset_z_meters, false},
        {"cloud_roll_degrees", proto.cloud_roll_degrees(), defaults.cloud_roll_degrees, true},
        {"cloud_pitch_degrees", proto.cloud_pitch_degrees(), defaults.cloud_pitch_degrees, true},
        {"cloud_yaw_degrees", proto.cloud_yaw_degrees(), defaults.cloud_yaw_degrees, true},
    };
    for (const auto& v : values) {
        const bool inRange = std::isfinite(v.loaded) && (!v.angle || std::fabs(v.loaded) <= 360.0f);
        check.Unrestored(v.field, v.loaded, inRange, v.fallback.load());
    }
}

void CopyIntoViewerConfig(const ViewerConfigProto& proto, ViewerConfig& config, RangeCheck& check) {
    const ViewerConfig defaults;
    CheckScalarRange(check, "view3d_min_scalar_value", "view3d_max_scalar_value", proto.view3d_min_scalar_value(),
                     proto.view3d_max_scalar_value(), defaults.view3d_min_scalar_value,
                     defaults.view3d_max_scalar_value);
    CheckScalarRange(check, "view2d_min_scalar_value", "view2d_max_scalar_value", proto.view2d_min_scalar_value(),
                     proto.view2d_max_scalar_value(), defaults.view2d_min_scalar_value,
                     defaults.view2d_max_scalar_value);
    config.show_grid.exchange(proto.show_grid());
    config.show_origin.exchange(proto.show_origin());
    config.point_size.exchange(check.Held("point_size", proto.point_size(), kMinPointSize, kMaxPointSize,
                                          defaults.point_size.load(), true));
    config.show_2d_view.exchange(proto.show_2d_view());
    CheckCloudTransform(proto, defaults, check);
    config.view2d_scalar_type.exchange(ScalarFromFile(proto.view2d_scalar_type()));

    config.background_color_r = check.Colour("background_color_r", proto.background_color_r(), defaults.background_color_r);
    config.background_color_g = check.Colour("background_color_g", proto.background_color_g(), defaults.background_color_g);
    config.background_color_b = check.Colour("background_color_b", proto.background_color_b(), defaults.background_color_b);
    config.point_color_r = check.Colour("point_color_r", proto.point_color_r(), defaults.point_color_r);
    config.point_color_g = check.Colour("point_color_g", proto.point_color_g(), defaults.point_color_g);
    config.point_color_b = check.Colour("point_color_b", proto.point_color_b(), defaults.point_color_b);
    config.point_color_a = check.Colour("point_color_a", proto.point_color_a(), defaults.point_color_a);
    config.view3d_colormap = ToProtoColormap(proto.view3d_colormap());
    config.view2d_colormap = ToProtoColormap(proto.view2d_colormap());

    config.show_camera.exchange(false);
    config.camera_above.exchange(proto.camera_above());
    config.camera_split_ratio = check.Held("camera_split_ratio", proto.camera_split_ratio(), kMinCameraSplitRatio,
                                           kMaxCameraSplitRatio, defaults.camera_split_ratio, true);
    config.lidar_2d_view_scale_factor =
        check.Held("lidar_2d_view_scale_factor", proto.lidar_2d_view_scale_factor(), kMinScaleFactor, kMaxScaleFactor,
                   defaults.lidar_2d_view_scale_factor, true);
}

void CopyIntoSensorConfig(const ViewerConfigProto& proto, SensorConfig& sensor, RangeCheck& check) {
    const SensorConfig defaults;
    sensor.sensor_ip = check.Address("sensor_ip", proto.sensor_ip(), defaults.sensor_ip);
    sensor.sensor_port = check.Within("sensor_port", proto.sensor_port(), 1, 65535, defaults.sensor_port);
    sensor.camera_ip = check.Address("camera_ip", proto.camera_ip(), defaults.camera_ip);
    sensor.enable_camera = proto.enable_camera();
    sensor.enable_colorizer = proto.enable_colorizer();
    sensor.qext_path = proto.qext_path();
}

// A settings file that is there but cannot be read or does not parse would be replaced by
// the defaults at the next save: it is moved beside itself first (over an older kept one), so
// the user's settings stay on disk whatever happens to "settings.bin" later. A FIFO or any
// other entry that is not a folder goes the same way. A folder of that name stays where it
// is: no save can replace it either. Logs and builds the user's notice; the defaults named
// are those the caller's record holds.
std::string KeepUnreadable(const std::filesystem::path& path, const SensorConfig& inUse) {
    std::filesystem::path kept = path;
    kept += ConfigHandler::kUnreadableSuffix;
    const std::string told = "Settings could not be read: defaults in use (sensor " + inUse.sensor_ip + ":" +
                             std::to_string(inUse.sensor_port) + ")";
    std::error_code error;
    if (std::filesystem::symlink_status(path, error).type() == std::filesystem::file_type::directory || error) {
        Log("Loading configuration: " + told, kLevelWarning);
        return told;
    }
    std::filesystem::rename(path, kept, error);
    if (error) {
        Log("Loading configuration: Failed to keep the unreadable file as " + kept.string() + ": " + error.message(),
            kLevelError);
        Log("Loading configuration: " + told, kLevelWarning);
        return told + "; the file could not be kept aside";
    }
    Log("Loading configuration: " + told + "; the file is kept as " + kept.string(), kLevelWarning);
    return told + "; the file is kept as " + kept.filename().string();
}

ViewerConfigProto ToProto(const ViewerConfig& config, const SensorConfig* sensor) {
    ViewerConfigProto proto;
    proto.set_view3d_min_scalar_value(config.view3d_min_scalar_value.load());
    proto.set_view3d_max_scalar_value(config.view3d_max_scalar_value.load());
    proto.set_view2d_min_scalar_value(config.view2d_min_scalar_value.load());
    proto.set_view2d_max_scalar_value(config.view2d_max_scalar_value.load());
    proto.set_show_grid(config.show_grid.load());
    proto.set_show_origin(config.show_origin.load());
    proto.set_point_size(config.point_size.load());
    proto.set_show_2d_view(config.show_2d_view.load());
    proto.set_view2d_scalar_type(ScalarToFile(config.view2d_scalar_type.load()));
    proto.set_background_color_r(config.background_color_r);
    proto.set_background_color_g(config.background_color_g);
    proto.set_background_color_b(config.background_color_b);
    proto.set_point_color_r(config.point_color_r);
    proto.set_point_color_g(config.point_color_g);
    proto.set_point_color_b(config.point_color_b);
    proto.set_point_color_a(config.point_color_a);
    proto.set_view3d_colormap(ToProtoColormap(config.view3d_colormap));
    proto.set_view2d_colormap(ToProtoColormap(config.view2d_colormap));
    proto.set_show_camera(config.show_camera.load());
    proto.set_camera_above(config.camera_above.load());
    proto.set_camera_split_ratio(config.camera_split_ratio);
    proto.set_lidar_2d_view_scale_factor(config.lidar_2d_view_scale_factor);
    proto.set_cloud_transform_mode(config.cloud_transform_mode.load());
    proto.set_cloud_offset_x_meters(config.cloud_offset_x_meters.load());
    proto.set_cloud_offset_y_meters(config.cloud_offset_y_meters.load());
    proto.set_cloud_offset_z_meters(config.cloud_offset_z_meters.load());
    proto.set_cloud_roll_degrees(config.cloud_roll_degrees.load());
    proto.set_cloud_pitch_degrees(config.cloud_pitch_degrees.load());
    proto.set_cloud_yaw_degrees(config.cloud_yaw_degrees.load());
    if (sensor != nullptr) {
        proto.set_sensor_ip(sensor->sensor_ip);
        proto.set_sensor_port(sensor->sensor_port);
        proto.set_camera_ip(sensor->camera_ip);
        proto.set_enable_camera(sensor->enable_camera);
        proto.set_enable_colorizer(sensor->enable_colorizer);
        proto.set_qext_path(sensor->qext_path);
    }
    return proto;
}

// proto3 string fields must hold UTF-8: a file with anything else fails to parse, and
// every setting in it would be lost at the next start.
const char* FindInvalidText(const ViewerConfigProto& proto) {
    if (!utf8::is_valid(proto.sensor_ip().begin(), proto.sensor_ip().end())) return "sensor_ip";
    if (!utf8::is_valid(proto.camera_ip().begin(), proto.camera_ip().end())) return "camera_ip";
    if (!utf8::is_valid(proto.qext_path().begin(), proto.qext_path().end())) return "qext_path";
    return nullptr;
}

// The file's bytes, or nothing: with `invalidField` naming a text that is not UTF-8, or
// null when protobuf itself failed.
std::optional<std::string> Encode(const ViewerConfig& config, const SensorConfig* sensor, const char*& invalidField) {
    const ViewerConfigProto proto = ToProto(config, sensor);
    invalidField = FindInvalidText(proto);
    std::string bytes;
    if (invalidField != nullptr || !proto.SerializeToString(&bytes)) {
        return std::nullopt;
    }
    return bytes;
}

void RemoveQuietly(const std::filesystem::path& path) {
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
}

}  // namespace

ColormapType ToProtoColormap(int colormap) {
    switch (colormap) {
        case COLORMAP_UNIFORM:
        case COLORMAP_VIRIDIS:
        case COLORMAP_MAGMA:
        case COLORMAP_CIVIDIS:
        case COLORMAP_EMBEDDED:
        case COLORMAP_GRAYSCALE:
            return static_cast<ColormapType>(colormap);
        default:
            return COLORMAP_JET;
    }
}

std::shared_ptr<ViewerConfig> ConfigHandler::Load(const std::filesystem::path& path,
                                                  std::shared_ptr<SensorConfig>& sensorConfig, std::string* notice) {
    try {
        if (!std::filesystem::exists(path)) {
            Log("Loading configuration: Configuration file does not exist: " + path.string(), kLevelWarning);
            return nullptr;
        }
        // Refused without a blocking open when it is not a regular file (a FIFO would wait
        // for a writer for ever), and kept aside like a file that does not parse.
        std::string failure;
        const std::optional<std::string> bytes = platform::ReadRegularFile(path, failure);
        ViewerConfigProto proto;
        const bool parsed = bytes && proto.ParseFromString(*bytes);
        if (!bytes) {
            Log("Loading configuration: Failed to open file for reading: " + path.string() + " (" + failure + ")",
                kLevelError);
        } else if (!parsed) {
            Log("Loading configuration: Failed to parse data from file: " + path.string(), kLevelError);
        }
        if (!parsed) {
            std::string told = KeepUnreadable(path, sensorConfig ? *sensorConfig : SensorConfig{});
            if (notice != nullptr) *notice = std::move(told);
            return nullptr;
        }

        auto config = std::make_shared<ViewerConfig>();
        RangeCheck check;
        CopyIntoViewerConfig(proto, *config, check);
        if (sensorConfig) {
            CopyIntoSensorConfig(proto, *sensorConfig, check);
        }
        check.Report();
        return config;
    } catch (const std::exception& e) {
        Log(std::string("Loading configuration: Exception occurred: ") + e.what(), kLevelError);
    } catch (...) {
        Log("Loading configuration: Exception occurred: unknown exception", kLevelError);
    }
    return nullptr;
}

bool ConfigHandler::Save(const std::shared_ptr<ViewerConfig>& config,
                         const std::shared_ptr<SensorConfig>& sensorConfig,
                         const std::filesystem::path& path, std::string* failure) {
    const auto failed = [failure](std::string reason) {
        if (failure != nullptr) *failure = std::move(reason);
        return false;
    };
    if (!config) {
        Log("ConfigHandler::Save: config is null", kLevelError);
        return failed("no settings to save");
    }
    std::filesystem::path temporary = path;
    temporary += ".tmp";
    bool temporaryCreated = false;
    try {
        const char* invalidField = nullptr;
        const std::optional<std::string> encoded = Encode(*config, sensorConfig.get(), invalidField);

        if (path.has_parent_path()) {
            std::filesystem::create_directories(path.parent_path());
        }

        if (invalidField != nullptr) {
            Log(std::string("ConfigHandler::Save: ") + invalidField + " is not valid UTF-8", kLevelWarning);
        }
        if (!encoded) {
            Log("ConfigHandler::Save: Failed to serialize to file: " + path.string(), kLevelError);
            return failed(invalidField != nullptr ? std::string(invalidField) + " is not valid UTF-8"
                                                  : std::string("the settings cannot be encoded"));
        }

        // Written beside the target and renamed over it, so the old file stays whole
        // until the new one is complete on disk. The reasons are the system's own.
        const platform::WriteOutcome written = platform::WriteWholeFile(temporary, *encoded);
        temporaryCreated = written.opened;
        if (!written.opened) {
            Log("ConfigHandler::Save: Failed to open file for writing: " + temporary.string() + " (" +
                    written.failure + ")",
                kLevelError);
            return failed(written.failure);
        }
        if (!written.Written()) {
            RemoveQuietly(temporary);
            Log("ConfigHandler::Save: Failed to serialize to file: " + temporary.string() + " (" + written.failure +
                    ")",
                kLevelError);
            return failed(written.failure);
        }

        std::error_code renameError;
        std::filesystem::rename(temporary, path, renameError);
        if (renameError) {
            RemoveQuietly(temporary);
            Log("ConfigHandler::Save: Failed to replace file: " + path.string() + " (" + renameError.message() + ")",
                kLevelError);
            return failed(renameError.message());
        }
        return true;
    } catch (const std::filesystem::filesystem_error& e) {
        if (temporaryCreated) RemoveQuietly(temporary);
        Log(std::string("Saving configuration: Exception occurred: ") + e.what(), kLevelError);
        return failed(e.code().message());
    } catch (const std::exception& e) {
        if (temporaryCreated) RemoveQuietly(temporary);
        Log(std::string("Saving configuration: Exception occurred: ") + e.what(), kLevelError);
        return failed(e.what());
    } catch (...) {
        if (temporaryCreated) RemoveQuietly(temporary);
        Log("Saving configuration: Exception occurred: unknown exception", kLevelError);
        return failed("unknown exception");
    }
}

std::optional<std::string> ConfigHandler::Serialize(const std::shared_ptr<ViewerConfig>& config,
                                                    const std::shared_ptr<SensorConfig>& sensorConfig) {
    if (!config) {
        return std::nullopt;
    }
    try {
        const char* invalidField = nullptr;
        return Encode(*config, sensorConfig.get(), invalidField);
    } catch (...) {
        return std::nullopt;  // Save reports it
    }
}

}  // namespace orbel::studio::gui
