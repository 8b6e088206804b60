// colorize_live: streams an Orbel sensor and the colour camera beside it, colours every scan
// line from the camera image nearest to it in time, with the lidar-to-camera alignment of a
// QEXT file, and prints for each frame how many of its lines were coloured; at the end, how
// many clouds were coloured in all. Runs until Ctrl+C or until --frames N frames are printed.
//
//   colorize_live <sensor address> <port> <camera address> <qext file> [--frames N]
//
// The colorizer pairs the clouds' time stamps with the images' device time stamps: the sensor
// and the camera have to keep one clock (PTP), or no line finds its image.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>
#include <thread>

#include <orbel/processing/Colorizer.h>
#include <orbel/sdk/Orbel.h>

namespace {

using namespace std::chrono_literals;
namespace sdk = orbel::sdk;
namespace processing = orbel::processing;

volatile std::sig_atomic_t interrupted = 0;
void OnSignal(int) { interrupted = 1; }

// The lines of the frame the colorizer is reporting; a frame ends with the first line of the next.
struct Frame {
    uint32_t number = 0;
    size_t lines = 0;
    size_t coloured = 0;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5 && !(argc == 7 && std::string(argv[5]) == "--frames")) {
        std::fprintf(stderr,
                     "usage: colorize_live <sensor address> <port> <camera address> <qext file> [--frames N]\n");
        return 2;
    }
    const std::string sensorAddress = argv[1];
    const int port = std::atoi(argv[2]);
    const std::string cameraAddress = argv[3];
    const std::string qextPath = argv[4];
    const long frameLimit = argc == 7 ? std::atol(argv[6]) : 0;  // 0: until Ctrl+C
    if (port <= 0 || port > 65535 || frameLimit < 0) {
        std::fprintf(stderr, "colorize_live: a port is 1 to 65535 and a frame limit 0 or more\n");
        return 2;
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    sdk::SetLogSeverity(sdk::Severity::WARNING);

    // A match within 250 ms, held back until an image 25 ms later than the cloud has come
    // (a nearer one might still arrive); at most 560 clouds (10 frames) and 560 images wait.
    const std::unique_ptr<processing::IColorizer> colorizer =
        processing::ColorizerFactory::CreateColorizer({250'000, 25'000, 560});
    try {
        colorizer->InitializeFromQext(qextPath);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "colorize_live: %s: %s\n", qextPath.c_str(), error.what());
        return 1;
    }

    Frame frame;  // the colorizer's callback only
    std::atomic<long> framesPrinted{0};
    std::atomic<uint64_t> clouds{0}, colouredClouds{0}, images{0};
    std::atomic<bool> linkLost{false};

    // Runs on whichever SDK thread pushed the element that decided the match, under the
    // colorizer's lock: it must not call the colorizer.
    colorizer->SetCallback([&](std::shared_ptr<sdk::IColorizableData> data, bool coloured) {
        // Every cloud pushed below is one of the SDK's point clouds.
        const auto& cloud = static_cast<const sdk::IPointCloud&>(*data);
        const uint32_t number = cloud.GetMetadata().frameNumber;
        if (frame.lines > 0 && number != frame.number) {
            std::printf("frame %u: %zu of %zu lines coloured\n", frame.number, frame.coloured, frame.lines);
            ++framesPrinted;
            frame = Frame{};
        }
        frame.number = number;
        ++frame.lines;
        frame.coloured += coloured;
        ++clouds;
        colouredClouds += coloured;
    });

    sdk::SensorFactory factory;
    // An image callback makes Build attach the camera; the colorizer works on RGB8.
    factory.SetCameraIPAddress(cameraAddress);
    factory.SetImageOutputFormat(sdk::PixelFormat::RGB8);
    factory.SetImageCallback([&](std::unique_ptr<sdk::IImage> image) {  // the camera's delivery thread
        ++images;
        try {
            colorizer->PushImage(std::move(image));
        } catch (const std::exception& error) {
            std::printf("image not used: %s\n", error.what());
        }
    });
    factory.SetPointCloudCallback([&](std::unique_ptr<sdk::IPointCloud> cloud) {  // the point-cloud thread
        try {
            colorizer->PushPointCloud(std::move(cloud));
        } catch (const std::exception& error) {
            std::printf("cloud not coloured: %s\n", error.what());
        }
    });
    factory.SetErrorCallback([&](const sdk::Exception& error) {  // a thread of the link or of the camera
        std::printf("error %u: %s\n", static_cast<unsigned>(error.GetType()), error.what());
        if (error.GetType() == sdk::SensorError::NOT_CONNECTED || error.GetType() == sdk::SensorError::TCP_ERROR) {
            linkLost = true;
        }
    });

    try {
        const std::shared_ptr<sdk::ISensor> sensor = factory.Build(sensorAddress, port);
        const std::shared_ptr<sdk::ICamera> camera = sensor->GetCamera();
        std::printf("connected to sensor %s and camera %s\n", sensor->GetSerialNumber().ToString().c_str(),
                    camera->GetSerialNumber().c_str());
        // The camera first, so that the first lines find images to match.
        camera->Start(5000ms);
        sensor->Start(5000ms);
        while (!interrupted && !linkLost && (frameLimit == 0 || framesPrinted < frameLimit)) {
            std::this_thread::sleep_for(50ms);
        }
        if (linkLost) {
            std::fprintf(stderr, "colorize_live: the link to the sensor was lost\n");
            return 1;
        }
        sensor->Stop(5000ms);
        camera->Stop(5000ms);
    } catch (const sdk::Exception& error) {
        std::fprintf(stderr, "colorize_live: %s (error %u)\n", error.what(), static_cast<unsigned>(error.GetType()));
        return 1;
    }
    std::printf("coloured %llu of %llu clouds, from %llu images\n",
                static_cast<unsigned long long>(colouredClouds.load()), static_cast<unsigned long long>(clouds.load()),
                static_cast<unsigned long long>(images.load()));
    return 0;
}
