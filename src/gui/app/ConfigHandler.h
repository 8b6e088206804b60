// ConfigHandler: reads and writes "settings.bin", the protobuf ViewerConfigProto that
// holds the viewer settings and the sensor-connection settings. Stateless; both
// operations run on the calling thread, report every failure through the program log
// (with the path and the system's reason) and never throw. Saving replaces the file in one
// step, so a failed save leaves the previous file whole; loading holds every value to its
// range (or its default) and names each one it changed in one warning, and moves a file that
// cannot be read or does not parse (a FIFO of that name included, which it never waits on)
// aside to "settings.bin.unreadable", so no later save overwrites the user's only copy.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "app/SensorConfig.h"
#include "app/ViewerConfig.h"

namespace orbel::studio::gui {

class ConfigHandler {
public:
    static constexpr const char* kUnreadableSuffix = ".unreadable";

    // A new record on success (and the six connection settings copied into *sensorConfig
    // when it holds a record), an empty pointer on any failure. When the file is there but
    // cannot be read (not a regular file, no permission) or does not parse, it is renamed
    // to its name plus kUnreadableSuffix (replacing an older one; a folder stays where it
    // is) and `notice`, when given, receives the text for the user: that the defaults are in
    // use, the sensor address they bring, and where the file went. A missing file is no such
    // case: `notice` stays untouched.
    static std::shared_ptr<ViewerConfig> Load(const std::filesystem::path& path,
                                              std::shared_ptr<SensorConfig>& sensorConfig,
                                              std::string* notice = nullptr);

    // True when the file now holds the given settings; sensorConfig may be empty. On
    // failure the log names the file and the reason, and `failure`, when given, receives
    // the reason alone (the system's words where the system refused: "No space left on
    // device", "Read-only file system", "Is a directory").
    static bool Save(const std::shared_ptr<ViewerConfig>& config,
                     const std::shared_ptr<SensorConfig>& sensorConfig,
                     const std::filesystem::path& path, std::string* failure = nullptr);

    // The bytes Save would write, without writing or logging (callers compare them to see
    // whether the settings changed); empty when Save would fail before writing.
    static std::optional<std::string> Serialize(const std::shared_ptr<ViewerConfig>& config,
                                                const std::shared_ptr<SensorConfig>& sensorConfig);
};

// In-program colour-map number to the file's enumeration (used both ways): 0 and 2..6
// are kept, everything else becomes jet.
ColormapType ToProtoColormap(int colormap);

}  // namespace orbel::studio::gui
