// save_frames: streams N frames from an Orbel sensor and writes each as a binary PLY file,
// frame_<frame number>.ply in the given folder: per point x, y, z (millimetres) and
// intensity (the reflectivity), and red, green, blue when the sensor sends colours.
//
//   save_frames <address> <port> <frames> <folder>
//
// The SDK's point-cloud thread only collects the lines; the files are written on the main
// thread, so the callback returns at once and no line waits behind a disk.
#include <bit>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include <orbel/sdk/Orbel.h>

namespace {

using namespace std::chrono_literals;
namespace sdk = orbel::sdk;

static_assert(std::endian::native == std::endian::little, "the PLY body is written in the machine's byte order");

// One frame: its scan lines as the SDK handed them over.
using Frame = std::vector<std::unique_ptr<sdk::IPointCloud>>;

// Frames handed from the point-cloud thread to the main thread.
struct FrameQueue {
    std::mutex mutex;
    std::condition_variable ready;
    std::deque<Frame> frames;
    std::string error;  // set by the error callback
};

template <typename T>
void Put(std::ofstream& out, T value) {
    out.write(reinterpret_cast<const char*>(&value), sizeof value);
}

// Writes the frame's points through the clouds' accessors; returns the number of points.
size_t WritePly(const std::filesystem::path& path, Frame& frame) {
    size_t points = 0;
    bool coloured = true;
    for (auto& line : frame) {
        points += line->GetPointCount();
        coloured = coloured && line->GetColors().size() == line->GetPointCount();
    }
    std::ofstream out(path, std::ios::binary);
    out << "ply\nformat binary_little_endian 1.0\n"
        << "comment frameNumber " << frame.front()->GetMetadata().frameNumber << "\n"
        << "element vertex " << points << "\n"
        << "property float x\nproperty float y\nproperty float z\nproperty float intensity\n";
    if (coloured) out << "property uchar red\nproperty uchar green\nproperty uchar blue\n";
    out << "end_header\n";
    for (auto& line : frame) {
        const std::vector<float>& x = line->GetX();
        const std::vector<float>& y = line->GetY();
        const std::vector<float>& z = line->GetZ();
        const std::vector<float>& reflectivity = line->GetReflectivity();
        for (size_t i = 0; i < line->GetPointCount(); ++i) {
            Put(out, x[i]);
            Put(out, y[i]);
            Put(out, z[i]);
            Put(out, reflectivity[i]);
            if (coloured) {
                const sdk::RGB colour = line->GetColors()[i];
                Put(out, colour.r);
                Put(out, colour.g);
                Put(out, colour.b);
            }
        }
    }
    if (!out.flush()) throw std::runtime_error("cannot write " + path.string());
    return points;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: save_frames <address> <port> <frames> <folder>\n");
        return 2;
    }
    const std::string address = argv[1];
    const int port = std::atoi(argv[2]);
    const long wanted = std::atol(argv[3]);
    const std::filesystem::path folder = argv[4];
    if (port <= 0 || port > 65535 || wanted <= 0) {
        std::fprintf(stderr, "save_frames: a port is 1 to 65535 and the frame count 1 or more\n");
        return 2;
    }
    std::error_code created;
    std::filesystem::create_directories(folder, created);
    if (created) {
        std::fprintf(stderr, "save_frames: cannot create %s: %s\n", folder.c_str(), created.message().c_str());
        return 1;
    }
    sdk::SetLogSeverity(sdk::Severity::WARNING);

    FrameQueue queue;
    Frame current;  // point-cloud thread only

    sdk::SensorFactory factory;
    factory.SetPointCloudCallback([&](std::unique_ptr<sdk::IPointCloud> cloud) {
        if (!current.empty() && cloud->GetMetadata().frameNumber != current.front()->GetMetadata().frameNumber) {
            std::lock_guard lock(queue.mutex);
            queue.frames.push_back(std::move(current));
            current.clear();
            queue.ready.notify_one();
        }
        current.push_back(std::move(cloud));
    });
    factory.SetErrorCallback([&](const sdk::Exception& error) {
        std::lock_guard lock(queue.mutex);
        queue.error = error.what();
        queue.ready.notify_one();
    });

    try {
        std::shared_ptr<sdk::ISensor> sensor = factory.Build(address, port);
        sensor->Start(5000ms);
        for (long written = 0; written < wanted; ++written) {
            Frame frame;
            {
                std::unique_lock lock(queue.mutex);
                if (!queue.ready.wait_for(lock, 10s, [&] { return !queue.frames.empty() || !queue.error.empty(); })) {
                    std::fprintf(stderr, "save_frames: no frame within 10 s\n");
                    return 1;
                }
                if (!queue.error.empty()) {
                    std::fprintf(stderr, "save_frames: %s\n", queue.error.c_str());
                    return 1;
                }
                frame = std::move(queue.frames.front());
                queue.frames.pop_front();
            }
            const auto path = folder / ("frame_" + std::to_string(frame.front()->GetMetadata().frameNumber) + ".ply");
            const size_t points = WritePly(path, frame);
            std::printf("wrote %s: %zu lines, %zu points\n", path.c_str(), frame.size(), points);
        }
        sensor->Stop(5000ms);
    } catch (const sdk::Exception& error) {
        std::fprintf(stderr, "save_frames: %s (error %u)\n", error.what(), static_cast<unsigned>(error.GetType()));
        return 1;
    } catch (const std::exception& error) {  // the clouds' accessors and the file
        std::fprintf(stderr, "save_frames: %s\n", error.what());
        return 1;
    }
    return 0;
}
