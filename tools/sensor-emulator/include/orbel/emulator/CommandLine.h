// The orbel-sensor-emulator program's command line, read apart from the program so that
// what each argument asks for can be checked without starting it: the emulator's options,
// or a text to print and leave (--help, --version). A usage error throws UsageError with
// the words the program prints before its usage text.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include <orbel/emulator/SensorEmulator.h>

namespace orbel::emulator {

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Either options to run with, or the text to print instead (then no options).
struct CommandLine {
    std::optional<EmulatorOptions> options;
    std::string text;
};

// The arguments after the program's name. The port defaults to 4000, the sensor's own.
CommandLine ParseCommandLine(int argc, const char* const* argv);

// The --help text, also printed after a usage error.
std::string_view UsageText();

}  // namespace orbel::emulator
