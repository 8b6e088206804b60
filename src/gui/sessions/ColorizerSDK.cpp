#include "sessions/ColorizerSDK.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <iterator>
#include <limits>
#include <optional>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <system_error>
#include <unordered_map>
#include <unordered_set>

#include <fmt/format.h>
#include <stb_image.h>

#include <orbel/processing/Colorizer.h>

#include "app/Logging.h"
#include "sessions/ColorizationAdapters.h"
#include "sessions/OfflinePlayer.h"
#include "sessions/PlyFile.h"
#include "sessions/QpcFile.h"
#include "sessions/SessionFileIo.h"

namespace orbel::studio {

namespace fs = std::filesystem;

namespace {

constexpr int kInfo = 2;
constexpr int kWarning = 3;
constexpr int kError = 4;

void Report(const std::string& text, int level) { Log("[Colorizer] " + text, level); }

// "1 image", "2 images".
std::string Counted(size_t n, const std::string& one) { return fmt::format("{} {}{}", n, one, n == 1 ? "" : "s"); }

// At most this many files are named in one line; the rest are counted.
constexpr size_t kNamedAtMost = 10;

// The files' paths below `folder` in name order, ", "-separated, the first kNamedAtMost of
// them, then ", and N more".
std::string NameList(std::vector<fs::path> files, const fs::path& folder) {
    std::sort(files.begin(), files.end());
    std::string text;
    for (size_t i = 0; i < files.size() && i < kNamedAtMost; ++i) {
        if (i > 0) text += ", ";
        const fs::path relative = files[i].lexically_relative(folder);
        text += (relative.empty() || *relative.begin() == ".." ? files[i] : relative).string();
    }
    if (files.size() > kNamedAtMost) text += fmt::format(", and {} more", files.size() - kNamedAtMost);
    return text;
}

// What was left out of one kind of file: "3 images without a time stamp in their names, 1
// that cannot be read"; the time stamp is said to be missing from the names with `inName`.
std::string LeftOut(const std::string& kind, size_t untimed, size_t unreadable, bool inName) {
    std::string text;
    if (untimed > 0) {
        text = Counted(untimed, kind) + " without a time stamp" +
               (inName ? (untimed == 1 ? " in its name" : " in their names") : "");
    }
    if (unreadable > 0) {
        text += text.empty() ? Counted(unreadable, kind) : ", " + std::to_string(unreadable);
        text += " that cannot be read";
    }
    return text;
}

// One line of a sync file: two numbers at its start, or nothing.
std::optional<SyncPair> ParseSyncLine(std::string_view line) {
    auto isBlank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; };
    size_t at = 0;
    auto number = [&]() -> std::optional<uint64_t> {
        while (at < line.size() && isBlank(line[at])) ++at;
        uint64_t value = 0;
        const auto [end, error] = std::from_chars(line.data() + at, line.data() + line.size(), value);
        if (error != std::errc() || end == line.data() + at) return std::nullopt;
        at = static_cast<size_t>(end - line.data());
        return value;
    };
    const auto cloud = number();
    if (!cloud) return std::nullopt;
    // The numbers must be separated by blanks: "12x 3" is not a pair.
    if (at < line.size() && !isBlank(line[at])) return std::nullopt;
    const auto image = number();
    if (!image) return std::nullopt;
    return SyncPair{*cloud, *image};
}

std::vector<fs::path> ListPointCloudFiles(const fs::path& folder, FileType type) {
    return ListFilesRecursive(folder, type == FileType::Qpc ? ".qpc" : ".ply");
}

// File id to path; for a repeated id the file listed last wins; files without an id are
// left out with a log line.
std::unordered_map<uint64_t, fs::path> MapFilesById(const std::vector<fs::path>& files) {
    std::unordered_map<uint64_t, fs::path> byId;
    for (const fs::path& file : files) {
        const std::optional<uint64_t> id = ExtractFileId(file);
        if (!id) {
            Report("Skipping a file without an id in its name: " + file.string(), kWarning);
            continue;
        }
        byId[*id] = file;
    }
    return byId;
}

// Whether a decoder can take the file: its header only, so that a session's images can be
// checked without decoding them all.
bool ImageHeaderReadable(const fs::path& path) {
    int width = 0;
    int height = 0;
    int channels = 0;
    return stbi_info(path.string().c_str(), &width, &height, &channels) == 1 && width > 0 && height > 0;
}

std::string PathKey(const fs::path& path) {
    std::error_code error;
    const fs::path canonical = fs::weakly_canonical(path, error);
    return (error ? fs::absolute(path) : canonical).lexically_normal().string();
}

// Output names that never replace an input of the run or a file the run wrote before.
class OutputNames {
public:
    void Protect(const fs::path& path) { taken_.insert(PathKey(path)); }

    fs::path Claim(const fs::path& folder, const std::string& stem, const std::string& extension) {
        fs::path candidate = folder / (stem + extension);
        for (int n = 1; taken_.count(PathKey(candidate)) != 0; ++n) {
            candidate = folder / (stem + "_" + std::to_string(n) + extension);
        }
        taken_.insert(PathKey(candidate));
        return candidate;
    }

private:
    std::unordered_set<std::string> taken_;
};

// One frame read for colouring: a QPC frame's lines, or a PLY file's frame.
struct LoadedFrame {
    std::unique_ptr<QpcFrameColorizable> qpc;
    std::unique_ptr<FrameData> ply;
    std::shared_ptr<FrameDataColorizable> plyAdapter;

    orbel::sdk::IColorizableData& Data() {
        return qpc ? static_cast<orbel::sdk::IColorizableData&>(*qpc) : *plyAdapter;
    }
};

// Sync mode's decoded images: each is kept while a later pair names it again, at most
// `capacity` at once; beyond that the one needed furthest ahead goes (it is decoded again
// when its pair comes).
class SyncImageCache {
public:
    SyncImageCache(const std::vector<SyncPair>& pairs, size_t capacity) : capacity_(capacity) {
        nextUse_.assign(pairs.size(), kNever);
        std::unordered_map<uint64_t, size_t> later;
        for (size_t i = pairs.size(); i-- > 0;) {
            const auto found = later.find(pairs[i].imageId);
            if (found != later.end()) nextUse_[i] = found->second;
            later[pairs[i].imageId] = i;
        }
    }

    std::shared_ptr<orbel::sdk::IImage> Find(uint64_t id) const {
        const auto found = images_.find(id);
        return found == images_.end() ? nullptr : found->second.image;
    }

    void Keep(uint64_t id, std::shared_ptr<orbel::sdk::IImage> image) { images_[id] = {std::move(image), 0}; }

    // Pair i is done: its image is kept for its next use, or let go.
    void Done(size_t i, uint64_t id) {
        const auto found = images_.find(id);
        if (found == images_.end()) return;
        if (nextUse_[i] == kNever) {
            images_.erase(found);
            return;
        }
        found->second.nextUse = nextUse_[i];
        while (images_.size() > capacity_) {
            auto furthest = std::max_element(images_.begin(), images_.end(), [](const auto& a, const auto& b) {
                return a.second.nextUse < b.second.nextUse;
            });
            images_.erase(furthest);
        }
    }

private:
    static constexpr size_t kNever = std::numeric_limits<size_t>::max();
    struct Entry {
        std::shared_ptr<orbel::sdk::IImage> image;
        size_t nextUse = 0;
    };
    size_t capacity_;
    std::vector<size_t> nextUse_;
    std::unordered_map<uint64_t, Entry> images_;
};

}  // namespace

std::vector<SyncPair> ParseSyncText(std::string_view text) {
    std::vector<SyncPair> pairs;
    bool header = true;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (header) {
            header = false;
            continue;
        }
        if (auto pair = ParseSyncLine(line)) pairs.push_back(*pair);
    }
    return pairs;
}

std::vector<SyncPair> ReadSyncFile(const fs::path& path) {
    // Two numbers a line: far more pairs than any session has frames.
    constexpr uint64_t kMaxSyncFileBytes = 256ull << 20;
    std::vector<uint8_t> bytes;
    try {
        ReadWholeFile(path, kMaxSyncFileBytes, bytes);
    } catch (const std::exception& e) {
        throw std::runtime_error(std::string("Cannot read sync file: ") + e.what());
    }
    return ParseSyncText(std::string(bytes.begin(), bytes.end()));
}

size_t ScaleProgress(size_t done, size_t total, size_t low, size_t high) {
    if (total == 0) return high;
    return low + done * (high - low) / total;
}

std::string DescribeColorization(const ColorizeSummary& summary) {
    std::string text = Counted(summary.framesColoured, "frame") + " coloured";
    if (summary.framesWithoutImage > 0) {
        text += fmt::format(", {} without a matching image", summary.framesWithoutImage);
    }
    if (summary.framesSkipped > 0) text += ", " + Counted(summary.framesSkipped, "frame") + " skipped";
    if (summary.imagesSkipped > 0) text += ", " + Counted(summary.imagesSkipped, "image") + " skipped";
    if (summary.pairsSkipped > 0) text += ", " + Counted(summary.pairsSkipped, "sync pair") + " skipped";
    return text;
}

// One colorization run: its inputs, what it has written, and the helpers both modes share.
class ColorizerSDK::Run {
public:
    Run(ColorizerSDK& owner, Progress progress)
        : owner_(owner), summary_(owner.summary_), progress_(std::move(progress)) {
        summary_ = {};
    }

    ColorizeOutcome Execute(const fs::path& pointCloudFolder, const fs::path& imageFolder, const fs::path& qextPath,
                            const fs::path& syncFilePath, const fs::path& outputFolder) {
        std::error_code error;
        if (!fs::is_directory(pointCloudFolder, error)) return Fail("Point cloud folder not found");
        type_ = FileTypeFromExtension(MostCommonExtension(pointCloudFolder));
        if (type_ != FileType::Qpc && type_ != FileType::Ply) return Fail("Unsupported point cloud format");
        if (!fs::is_directory(imageFolder, error)) return Fail("Image folder not found");

        orbel::processing::AlignmentInformation alignment;
        try {
            alignment.ReadFromQext(qextPath.string());
        } catch (const std::exception& e) {
            return Fail(std::string("Invalid QEXT file: ") + e.what());
        }
        EnsureDirectory(outputFolder);
        output_ = outputFolder;
        Report("Writing to " + outputFolder.string(), kInfo);

        cloudFolder_ = pointCloudFolder;
        imageFolder_ = imageFolder;
        cloudFiles_ = ListPointCloudFiles(pointCloudFolder, type_);
        imageFiles_ = ListImageFilesRecursive(imageFolder);
        for (const auto& file : cloudFiles_) names_.Protect(file);
        for (const auto& file : imageFiles_) names_.Protect(file);
        names_.Protect(qextPath);

        // A path that names nothing selects time stamps; one that names a FIFO, a device or a
        // folder is refused by the reader with its reason.
        if (!syncFilePath.empty() && fs::exists(syncFilePath, error)) {
            names_.Protect(syncFilePath);
            return UsingSyncFile(alignment, syncFilePath);
        }
        return UsingTimestamps(alignment);
    }

    // Ends the run with its reason, logged and kept in the summary.
    ColorizeOutcome Fail(const std::string& text) {
        Report(text, kError);
        summary_.failure = text;
        return ColorizeOutcome::Failed;
    }

private:
    bool StopRequested() {
        if (!owner_.IsStopRequested()) return false;
        Report("Stop requested", kInfo);
        return true;
    }

    void Progress(size_t percent) {
        if (progress_) progress_(percent, 100);
    }

    // The frame of one file, or none with a warning.
    std::optional<LoadedFrame> LoadFrame(const fs::path& path) {
        LoadedFrame frame;
        if (type_ == FileType::Qpc) {
            try {
                frame.qpc = QpcFrameColorizable::Read(path);
            } catch (const std::exception& e) {
                Report("Invalid QPC: " + path.string() + " (" + e.what() + ")", kWarning);
                return std::nullopt;
            }
        } else {
            frame.ply = ReadPly(path);
            if (!frame.ply) {
                Report("Invalid PLY: " + path.string(), kWarning);
                return std::nullopt;
            }
            frame.plyAdapter = std::make_shared<FrameDataColorizable>(*frame.ply);
        }
        return frame;
    }

    // A decoded image in the colorizer's terms (three channels), or none with a warning.
    std::shared_ptr<orbel::sdk::IImage> LoadImage(const fs::path& path, const std::string& warning) {
        std::shared_ptr<CameraData> image;
        try {
            image = ToThreeChannels(owner_.loader_ ? owner_.loader_(path) : LoadCameraImage(path));
        } catch (const std::exception&) {
            image = nullptr;
        }
        if (!image) {
            Report(warning + path.string(), kWarning);
            return nullptr;
        }
        return std::make_shared<ImageAdapter>(std::move(image));
    }

    // Writes a coloured frame; a failed write throws with the writer's reason.
    void Write(LoadedFrame& frame, const std::string& stem) {
        if (frame.qpc) {
            WriteQpcLines(names_.Claim(output_, stem, ".qpc"), frame.qpc->Lines());
        } else {
            WritePly(names_.Claim(output_, stem, ".ply"), *frame.ply);
        }
        ++summary_.framesColoured;
    }

    ColorizeOutcome UsingSyncFile(const orbel::processing::AlignmentInformation& alignment, const fs::path& syncFile) {
        auto algorithm = orbel::processing::ColorizerFactory::CreateColorizerAlgorithm();
        algorithm->Initialize(alignment);
        const auto clouds = MapFilesById(cloudFiles_);
        if (imageFiles_.empty()) return Fail("No JPG/JPEG images found");
        const auto images = MapFilesById(imageFiles_);
        const std::vector<SyncPair> pairs = ReadSyncFile(syncFile);

        SyncImageCache cache(pairs, kSyncImageCache);
        const size_t n = pairs.size();
        for (size_t i = 0; i < n; ++i) {
            if (StopRequested()) return ColorizeOutcome::Stopped;
            Progress((i + 1) * 100 / n);
            const SyncPair& pair = pairs[i];
            struct Done {
                SyncImageCache& cache;
                size_t i;
                uint64_t id;
                ~Done() { cache.Done(i, id); }
            } done{cache, i, pair.imageId};

            const auto cloud = clouds.find(pair.pointCloudId);
            if (cloud == clouds.end()) {
                Report("Missing point cloud id " + std::to_string(pair.pointCloudId), kWarning);
                ++summary_.pairsSkipped;
                continue;
            }
            const auto imageFile = images.find(pair.imageId);
            if (imageFile == images.end()) {
                Report("Missing image id " + std::to_string(pair.imageId), kWarning);
                ++summary_.pairsSkipped;
                continue;
            }
            std::shared_ptr<orbel::sdk::IImage> image = cache.Find(pair.imageId);
            if (!image) {
                image = LoadImage(imageFile->second, "Invalid image: ");
                if (!image) {
                    ++summary_.pairsSkipped;
                    continue;
                }
                cache.Keep(pair.imageId, image);
            }
            std::optional<LoadedFrame> frame = LoadFrame(cloud->second);
            if (!frame) {
                ++summary_.pairsSkipped;
                continue;
            }
            algorithm->Colorize(frame->Data(), *image);
            Write(*frame, cloud->second.stem().string());
        }
        if (summary_.framesColoured == 0) {
            return Fail(n == 0 ? "No valid sync pairs found: the sync file lists none"
                               : fmt::format("No valid sync pairs found: {} listed, none could be used", n));
        }
        Report("Sync colorization completed: " + DescribeColorization(summary_), kInfo);
        return ColorizeOutcome::Completed;
    }

    struct TimedImage {
        uint64_t time_us;
        fs::path path;
    };
    struct TimedFrame {
        uint64_t time_us;
        size_t file;
    };

    // The images' time stamps from their names, each file checked to be readable; those that
    // cannot be read or have no time stamp are left out. False when a stop was requested.
    bool IndexImages(std::vector<TimedImage>& images) {
        std::vector<fs::path> untimed;
        size_t unreadable = 0;
        const size_t m = imageFiles_.size();
        for (size_t k = 1; k <= m; ++k) {
            if (StopRequested()) return false;
            const fs::path& path = imageFiles_[k - 1];
            if (!ImageHeaderReadable(path)) {
                Report("Invalid or unsupported image: " + path.string(), kWarning);
                ++unreadable;
                continue;
            }
            const uint64_t time = ParseImageIds(path).second;
            if (time == 0) {
                untimed.push_back(path);
                continue;
            }
            images.push_back({time, path});
            Progress(ScaleProgress(k, m, 0, 33));
        }
        if (!untimed.empty()) {
            Report(fmt::format("Skipped {} (in {}): {}", LeftOut("image", untimed.size(), 0, true),
                               imageFolder_.string(), NameList(untimed, imageFolder_)),
                   kWarning);
        }
        summary_.imagesSkipped = untimed.size() + unreadable;
        noImageReason_ = LeftOut("image", untimed.size(), unreadable, true);
        return true;
    }

    // The frames' time stamps, each file read once and let go; those that cannot be read or
    // have no time stamp are left out. False when a stop was requested.
    bool IndexFrames(std::vector<TimedFrame>& frames) {
        std::vector<fs::path> untimed;
        size_t unreadable = 0;
        const size_t c = cloudFiles_.size();
        for (size_t i = 0; i < c; ++i) {
            if (StopRequested()) return false;
            Progress((i + 1) * 33 / c + 33);
            std::optional<LoadedFrame> frame = LoadFrame(cloudFiles_[i]);
            if (!frame) {
                ++unreadable;
                continue;
            }
            // The time stamp that the matching uses.
            const uint64_t time = frame->Data().GetTimestamp();
            if (time == 0) {
                untimed.push_back(cloudFiles_[i]);
                continue;
            }
            frames.push_back({time, i});
        }
        if (!untimed.empty()) {
            Report(fmt::format("Skipped {} (in {}): {}", LeftOut("frame", untimed.size(), 0, false),
                               cloudFolder_.string(), NameList(untimed, cloudFolder_)),
                   kWarning);
        }
        summary_.framesSkipped = untimed.size() + unreadable;
        noFrameReason_ =
            c == 0 ? "the folder holds no frame files" : LeftOut("frame", untimed.size(), unreadable, false);
        return true;
    }

    ColorizeOutcome UsingTimestamps(const orbel::processing::AlignmentInformation& alignment) {
        if (imageFiles_.empty()) return Fail("No JPG/JPEG images found");
        std::vector<TimedImage> images;
        if (!IndexImages(images)) return ColorizeOutcome::Stopped;
        if (images.empty()) return Fail("No valid images found: " + noImageReason_);
        std::vector<TimedFrame> frames;
        if (!IndexFrames(frames)) return ColorizeOutcome::Stopped;
        if (frames.empty()) return Fail("No valid point clouds found: " + noFrameReason_);
        // Both in time order, so that the images a frame can match are decoded around it.
        std::stable_sort(images.begin(), images.end(),
                         [](const TimedImage& a, const TimedImage& b) { return a.time_us < b.time_us; });
        std::stable_sort(frames.begin(), frames.end(),
                         [](const TimedFrame& a, const TimedFrame& b) { return a.time_us < b.time_us; });

        auto colorizer = orbel::processing::ColorizerFactory::CreateColorizer(
            {kMaxTimeDifference_us, kWaitMargin_us, kColorizerQueue});
        colorizer->InitializeAndStart(alignment);
        // Frames handed to the colorizer and not yet reported. Each report writes the frame
        // (coloured) or counts it (not coloured) and lets it go.
        std::unordered_map<const orbel::sdk::IColorizableData*, std::shared_ptr<LoadedFrame>> pending;
        size_t uncoloured = 0;
        std::optional<std::string> writeFailure;
        colorizer->SetCallback([&](std::shared_ptr<orbel::sdk::IColorizableData> data, bool coloured) {
            const auto found = pending.find(data.get());
            if (found == pending.end()) return;
            const std::shared_ptr<LoadedFrame> frame = std::move(found->second);
            pending.erase(found);
            if (!coloured) {
                ++uncoloured;
                return;
            }
            if (writeFailure) return;
            const uint32_t number =
                frame->qpc ? frame->qpc->FrameNumber() : static_cast<uint32_t>(frame->ply->frameNumber);
            try {
                Write(*frame, fmt::format("frame_{:08}", number));
            } catch (const std::exception& e) {
                writeFailure = e.what();
            }
        });

        const size_t total = frames.size();
        size_t nextImage = 0;
        bool anyConsidered = false;
        uint64_t lastConsidered = 0;
        uint64_t newestPushed = 0;
        bool anyPushed = false;
        for (size_t j = 0; j < total; ++j) {
            if (StopRequested()) return ColorizeOutcome::Stopped;
            const uint64_t t = frames[j].time_us;
            // Every image within the tolerance of t, and the first one after, so that the
            // colorizer decides at once as it would with every image queued; older images
            // cannot serve this frame or any later one and are not decoded.
            while (nextImage < images.size() && (!anyConsidered || lastConsidered <= t + kMaxTimeDifference_us)) {
                const TimedImage& next = images[nextImage++];
                anyConsidered = true;
                lastConsidered = next.time_us;
                if (next.time_us + kMaxTimeDifference_us < t) continue;
                if (auto image = LoadImage(next.path, "Invalid or unsupported image: ")) {
                    colorizer->PushImage(std::move(image));
                    newestPushed = next.time_us;
                    anyPushed = true;
                } else {
                    ++summary_.imagesSkipped;
                }
            }
            const bool lastImagesIn = nextImage == images.size();
            // Past the last image by more than the tolerance: this frame and every later one
            // can never be coloured; they are in neither count.
            if (lastImagesIn && (!anyPushed || t > newestPushed + kMaxTimeDifference_us)) break;

            std::optional<LoadedFrame> frame = LoadFrame(cloudFiles_[frames[j].file]);
            if (frame) {
                auto kept = std::make_shared<LoadedFrame>(std::move(*frame));
                std::shared_ptr<orbel::sdk::IColorizableData> data(kept, &kept->Data());
                pending[data.get()] = kept;
                colorizer->PushPointCloud(std::move(data));
                // No later image will come: nothing is gained by holding frames back.
                if (lastImagesIn) colorizer->Flush();
            } else {
                ++summary_.framesSkipped;
            }
            if (writeFailure) return Fail(*writeFailure);
            Progress(ScaleProgress(j + 1, total, 66, 100));
        }
        colorizer->Flush();
        if (writeFailure) return Fail(*writeFailure);
        summary_.framesWithoutImage = uncoloured;
        if (summary_.framesColoured == 0) return Fail("No matching image/point cloud timestamps found");
        if (uncoloured > 0) {
            Report(std::to_string(uncoloured) + "/" + std::to_string(uncoloured + summary_.framesColoured) +
                       " point clouds could not be colorized due to missing image matches or timestamp "
                       "inconsistencies",
                   kWarning);
        }
        Progress(100);
        Report("Timestamp colorization completed: " + DescribeColorization(summary_), kInfo);
        return ColorizeOutcome::Completed;
    }

    // Clouds and images that wait in the time-stamp colorizer at once: images of a frame's
    // tolerance window (about ten at 20 images/s) and the odd frame between them.
    static constexpr uint64_t kColorizerQueue = 64;

    ColorizerSDK& owner_;
    ColorizeSummary& summary_;
    std::function<void(size_t, size_t)> progress_;
    FileType type_ = FileType::Unknown;
    fs::path output_;
    fs::path cloudFolder_;
    fs::path imageFolder_;
    std::vector<fs::path> cloudFiles_;
    std::vector<fs::path> imageFiles_;
    std::string noImageReason_;  // why no image could be used, once the images are indexed
    std::string noFrameReason_;  // the same for the frames
    OutputNames names_;
};

ColorizerSDK::ColorizerSDK(ImageLoader loader) : loader_(std::move(loader)) {}

ColorizeOutcome ColorizerSDK::Colorize(const fs::path& pointCloudFolder, const fs::path& imageFolder,
                                       const fs::path& qextPath, const fs::path& syncFilePath,
                                       const fs::path& outputFolder, Progress progress) {
    Run run(*this, std::move(progress));
    try {
        return run.Execute(pointCloudFolder, imageFolder, qextPath, syncFilePath, outputFolder);
    } catch (const std::exception& e) {
        return run.Fail(e.what());
    }
}

}  // namespace orbel::studio
