// orbel-sensor-emulator: the sensor emulator as a program, for demo runs and manual
// tests. Listens on 127.0.0.1 only, prints "listening on 127.0.0.1:<port>" once ready,
// logs connections and commands to stderr and runs until SIGINT or SIGTERM.
// Exit codes: 0 after a signal (or --help, --version), 1 when the emulator cannot start, 2 for
// a usage error.
#include <csignal>
#include <iostream>
#include <optional>
#include <stdexcept>

#include <orbel/emulator/CommandLine.h>
#include <orbel/emulator/SensorEmulator.h>

int main(int argc, char** argv) {
    orbel::emulator::CommandLine request;
    try {
        request = orbel::emulator::ParseCommandLine(argc - 1, argv + 1);
    } catch (const orbel::emulator::UsageError& error) {
        std::cerr << "orbel-sensor-emulator: " << error.what() << "\n" << orbel::emulator::UsageText();
        return 2;
    }
    std::optional<orbel::emulator::EmulatorOptions>& options = request.options;
    if (!options) {
        std::cout << request.text;
        return 0;
    }
    options->log = [](const std::string& line) { std::cerr << "[emulator] " << line << std::endl; };

    // Blocked before the I/O thread starts, so that only sigwait below sees them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    try {
        orbel::emulator::SensorEmulator emulator(*options);
        std::cout << "listening on 127.0.0.1:" << emulator.Port() << std::endl;
        int received = 0;
        sigwait(&stopSignals, &received);
        std::cerr << "[emulator] stopping on signal " << received << std::endl;
        emulator.Stop();
    } catch (const std::invalid_argument& error) {
        std::cerr << "orbel-sensor-emulator: " << error.what() << "\n";
        return 2;
    } catch (const std::exception& error) {
        std::cerr << "orbel-sensor-emulator: cannot start: " << error.what() << "\n";
        return 1;
    }
    return 0;
}
