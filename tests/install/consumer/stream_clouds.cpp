// Connects to a sensor (the emulator on loopback in the install checks), streams until two
// frames have come whole (every one of the 56 lines, each with all its points and fields)
// and stops. Prints what it received; exits 0 when it got whole frames, 1 otherwise.
//
//   stream_clouds <port> [points per line, default 192]
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <set>
#include <string>

#include <orbel/sdk/Orbel.h>

namespace {

constexpr std::size_t kLinesPerFrame = 56;
constexpr std::size_t kWholeFramesWanted = 2;

struct Received {
    std::mutex mutex;
    std::condition_variable changed;
    std::map<unsigned, std::set<unsigned>> linesByFrame;
    std::size_t clouds = 0;
    std::size_t wholeFrames = 0;
    std::string fault;
};

// A line is whole when every field holds one value per point.
bool IsWhole(orbel::sdk::IPointCloud& cloud, std::size_t points) {
    return cloud.GetPointCount() == points && cloud.GetX().size() == points && cloud.GetY().size() == points &&
           cloud.GetZ().size() == points && cloud.GetDistance().size() == points &&
           cloud.GetReflectivity().size() == points && cloud.GetAmbient().size() == points &&
           cloud.GetConfidence().size() == points && cloud.GetMetadata().lineIndex < kLinesPerFrame;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: stream_clouds <port> [points per line]\n");
        return 2;
    }
    const int port = std::atoi(argv[1]);
    const std::size_t points = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 192;

    Received received;
    orbel::sdk::SensorFactory factory;
    factory.SetErrorCallback([&](const orbel::sdk::Exception& error) {
        std::lock_guard lock(received.mutex);
        received.fault = error.what();
        received.changed.notify_all();
    });
    factory.SetPointCloudCallback([&](std::unique_ptr<orbel::sdk::IPointCloud> cloud) {
        std::lock_guard lock(received.mutex);
        ++received.clouds;
        if (!IsWhole(*cloud, points)) {
            received.fault = "a line of " + std::to_string(cloud->GetPointCount()) + " points is not whole";
        } else {
            const auto& metadata = cloud->GetMetadata();
            auto& lines = received.linesByFrame[metadata.frameNumber];
            lines.insert(metadata.lineIndex);
            if (lines.size() == kLinesPerFrame) ++received.wholeFrames;
        }
        received.changed.notify_all();
    });

    try {
        auto sensor = factory.Build("127.0.0.1", port);
        std::printf("connected to sensor %s\n", sensor->GetSerialNumber().ToString().c_str());
        sensor->Start(std::chrono::seconds(5));
        {
            std::unique_lock lock(received.mutex);
            received.changed.wait_for(lock, std::chrono::seconds(30), [&] {
                return received.wholeFrames >= kWholeFramesWanted || !received.fault.empty();
            });
        }
        sensor->Stop(std::chrono::seconds(5));
    } catch (const orbel::sdk::Exception& error) {
        std::fprintf(stderr, "stream_clouds: %s\n", error.what());
        return 1;
    }

    std::lock_guard lock(received.mutex);
    std::printf("received %zu clouds, %zu whole frames of %zu lines x %zu points\n", received.clouds,
                received.wholeFrames, kLinesPerFrame, points);
    if (!received.fault.empty()) {
        std::fprintf(stderr, "stream_clouds: %s\n", received.fault.c_str());
        return 1;
    }
    return received.wholeFrames >= kWholeFramesWanted ? 0 : 1;
}
