// stream_clouds: connects to an Orbel sensor, starts it and prints one line per frame until
// Ctrl+C (or until --frames N frames have been printed), then stops it. The sensor's errors
// and alerts are printed as they arrive.
//
//   stream_clouds <address> <port> [--frames N]
//
// Exits 0 after a clean stop, 1 with the SDK's message when the sensor cannot be reached,
// cannot be started or stopped, or the link to it is lost; 2 for a wrong command line.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include <orbel/sdk/Orbel.h>

namespace {

using namespace std::chrono_literals;
namespace sdk = orbel::sdk;

volatile std::sig_atomic_t interrupted = 0;
void OnSignal(int) { interrupted = 1; }

const char* AlertName(sdk::Alert alert) {
    switch (alert) {
        case sdk::Alert::Temperature: return "temperature";
        case sdk::Alert::Power: return "power";
        case sdk::Alert::Voltage: return "voltage";
        case sdk::Alert::EyeSafety: return "eye safety";
        case sdk::Alert::Humidity: return "humidity";
        case sdk::Alert::SystemShutdown: return "system shutdown";
    }
    return "unknown";
}

// The lines of the frame being received. Every line of a frame carries its frame number, so
// a frame is complete when the first line of the next one arrives.
struct Frame {
    uint32_t number = 0;
    size_t lines = 0;
    size_t points = 0;
    uint64_t firstTimestamp_us = 0;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 && !(argc == 5 && std::string(argv[3]) == "--frames")) {
        std::fprintf(stderr, "usage: stream_clouds <address> <port> [--frames N]\n");
        return 2;
    }
    const std::string address = argv[1];
    const int port = std::atoi(argv[2]);
    const long frameLimit = argc == 5 ? std::atol(argv[4]) : 0;  // 0: until Ctrl+C
    if (port <= 0 || port > 65535 || frameLimit < 0) {
        std::fprintf(stderr, "stream_clouds: a port is 1 to 65535 and a frame limit 0 or more\n");
        return 2;
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);

    // The SDK logs to the console (on standard output) unless a log folder is set first.
    // Keep its warnings and errors; its INFO records would crowd the frame lines.
    sdk::SetLogSeverity(sdk::Severity::WARNING);

    // Everything the callbacks touch is declared before the factory and the sensor, so it
    // outlives the SDK threads that call them.
    Frame frame;  // point-cloud thread only
    std::atomic<long> framesPrinted{0};
    std::atomic<bool> linkLost{false};

    sdk::SensorFactory factory;
    // On the SDK's point-cloud thread, one call per scan line; the cloud is ours to keep.
    factory.SetPointCloudCallback([&](std::unique_ptr<sdk::IPointCloud> cloud) {
        const sdk::PointCloudMetadata& metadata = cloud->GetMetadata();
        // Lines keep coming while the sensor is asked to stop: a limit reached prints no more.
        if (frameLimit > 0 && framesPrinted >= frameLimit) return;
        if (frame.lines > 0 && metadata.frameNumber != frame.number) {
            std::printf("frame %u: %zu lines, %zu points, first time stamp %llu us\n", frame.number, frame.lines,
                        frame.points, static_cast<unsigned long long>(frame.firstTimestamp_us));
            ++framesPrinted;
            frame = Frame{};
        }
        if (frame.lines == 0) {
            frame.number = metadata.frameNumber;
            frame.firstTimestamp_us = cloud->GetTimestamp();
        }
        ++frame.lines;
        frame.points += cloud->GetPointCount();
    });
    // On the link's I/O thread (or its send thread). Codes 1 and 28 mean the link is gone:
    // the SDK does not reconnect, a new sensor has to be built.
    factory.SetErrorCallback([&](const sdk::Exception& error) {
        std::printf("error %u: %s\n", static_cast<unsigned>(error.GetType()), error.what());
        if (error.GetType() == sdk::SensorError::NOT_CONNECTED || error.GetType() == sdk::SensorError::TCP_ERROR) {
            linkLost = true;
        }
    });
    factory.SetAlertCallback([](sdk::Alert alert, std::optional<bool> active) {
        std::printf("alert: %s%s\n", AlertName(alert), !active ? "" : *active ? " (raised)" : " (cleared)");
    });

    std::shared_ptr<sdk::ISensor> sensor;
    try {
        sensor = factory.Build(address, port);
        std::printf("connected to sensor %s at %s:%d\n", sensor->GetSerialNumber().ToString().c_str(),
                    address.c_str(), port);
        sensor->Start(5000ms);
    } catch (const sdk::Exception& error) {
        std::fprintf(stderr, "stream_clouds: no stream from %s:%d: %s (error %u)\n", address.c_str(), port,
                     error.what(), static_cast<unsigned>(error.GetType()));
        return 1;
    }

    while (!interrupted && !linkLost && (frameLimit == 0 || framesPrinted < frameLimit)) {
        std::this_thread::sleep_for(50ms);
    }
    if (linkLost) {
        std::fprintf(stderr, "stream_clouds: the link to the sensor was lost\n");
        return 1;
    }
    try {
        sensor->Stop(5000ms);
    } catch (const sdk::Exception& error) {
        std::fprintf(stderr, "stream_clouds: the sensor did not stop: %s\n", error.what());
        return 1;
    }
    std::printf("stopped after %ld frames\n", framesPrinted.load());
    return 0;
}
