#include "orbel/emulator/CommandLine.h"

#include <cstdint>
#include <exception>

namespace orbel::emulator {
namespace {

constexpr const char* kUsage =
    "Usage: orbel-sensor-emulator [options]\n"
    "A stand-in for the Orbel lidar on loopback: answers the sensor's commands and\n"
    "streams point-cloud lines of a room with a moving box while started.\n"
    "\n"
    "Options (--name value or --name=value):\n"
    "  --bind ADDRESS   address to listen on; only 127.0.0.1 is accepted (default 127.0.0.1)\n"
    "  --port N         TCP port, 0 for an ephemeral one (default 4000)\n"
    "  --points N       points per line, 1 to 16384 (default 192)\n"
    "  --rate FPS       frames of 56 lines per second (default 20)\n"
    "  --type T         point type 0x60, 0x66 or 0x6F (default 0x6F)\n"
    "  --serial S       serial number in the status answer, hex (0x...) or decimal\n"
    "                   (default 0x03023112)\n"
    "  --timestamp-offset US\n"
    "                   shifts the main time stamp from the wall clock by US\n"
    "                   microseconds (may be negative; -37000000 matches a camera that\n"
    "                   counts UTC where the SDK expects TAI) (default 0)\n"
    "  --help           these options\n"
    "  --version        the emulator's version\n"
    "\n"
    "Prints \"listening on 127.0.0.1:<port>\" when ready; logs to stderr; stops on\n"
    "SIGINT or SIGTERM.\n";

constexpr const char* kVersion = "orbel-sensor-emulator " ORBEL_EMULATOR_VERSION "\n";

uint64_t ParseUnsigned(std::string_view name, const std::string& text, uint64_t max) {
    size_t used = 0;
    uint64_t value = 0;
    try {
        value = std::stoull(text, &used, 0);  // base 0: 0x... is hex
    } catch (const std::exception&) {
        used = 0;
    }
    if (text.empty() || text[0] == '-' || used != text.size() || value > max) {
        throw UsageError("invalid value for --" + std::string(name) + ": \"" + text + "\"");
    }
    return value;
}

int64_t ParseSigned(std::string_view name, const std::string& text) {
    size_t used = 0;
    int64_t value = 0;
    try {
        value = std::stoll(text, &used, 10);
    } catch (const std::exception&) {
        used = 0;
    }
    if (text.empty() || used != text.size()) {
        throw UsageError("invalid value for --" + std::string(name) + ": \"" + text + "\"");
    }
    return value;
}

double ParseRate(const std::string& text) {
    size_t used = 0;
    double value = 0;
    try {
        value = std::stod(text, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used != text.size() || !(value > 0)) throw UsageError("invalid value for --rate: \"" + text + "\"");
    return value;
}

}  // namespace

std::string_view UsageText() { return kUsage; }

CommandLine ParseCommandLine(int argc, const char* const* argv) {
    EmulatorOptions options;
    options.port = 4000;
    for (int i = 0; i < argc; ++i) {
        std::string argument = argv[i];
        if (argument == "--help" || argument == "-h") return {std::nullopt, kUsage};
        if (argument == "--version") return {std::nullopt, kVersion};
        if (argument.rfind("--", 0) != 0) throw UsageError("unexpected argument \"" + argument + "\"");
        std::string name = argument.substr(2);
        std::string value;
        if (const size_t equals = name.find('='); equals != std::string::npos) {
            value = name.substr(equals + 1);
            name.resize(equals);
        } else {
            if (i + 1 >= argc) throw UsageError("--" + name + " needs a value");
            value = argv[++i];
        }
        if (name == "bind") {
            options.bindAddress = value;
        } else if (name == "port") {
            options.port = static_cast<uint16_t>(ParseUnsigned(name, value, 65535));
        } else if (name == "points") {
            options.pointsPerLine = static_cast<uint32_t>(ParseUnsigned(name, value, 16384));
        } else if (name == "rate") {
            options.framesPerSecond = ParseRate(value);
        } else if (name == "type") {
            const uint64_t type = ParseUnsigned(name, value, 0xFF);
            if (!IsPointType(static_cast<uint8_t>(type))) throw UsageError("--type must be 0x60, 0x66 or 0x6F");
            options.pointType = static_cast<PointType>(type);
        } else if (name == "serial") {
            options.serialNumber = static_cast<uint32_t>(ParseUnsigned(name, value, UINT32_MAX));
        } else if (name == "timestamp-offset") {
            options.timestampOffset_us = ParseSigned(name, value);
        } else {
            throw UsageError("unknown option --" + name);
        }
    }
    if (options.bindAddress != "127.0.0.1") {
        throw UsageError("--bind accepts 127.0.0.1 only: the emulator never listens beyond loopback");
    }
    return {options, {}};
}

}  // namespace orbel::emulator
