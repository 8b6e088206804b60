// The offline player's listing, image loading and its one worker thread. The worker takes
// requests in order under the player's mutex and loads with the mutex released, so control
// calls never wait for the disk.
#include "sessions/OfflinePlayer.h"

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <optional>
#include <stdexcept>
#include <system_error>
#include <tuple>

#include <fmt/format.h>
#include <stb_image.h>

#include "app/Logging.h"
#include "sessions/PlyFile.h"
#include "sessions/QpcFile.h"
#include "sessions/SessionFileIo.h"

namespace orbel::studio {
namespace {

namespace fs = std::filesystem;

// Leading decimal digits, as the C library's string-to-number conversions take them.
std::optional<uint64_t> LeadingNumber(std::string_view text) {
    uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end == text.data()) {
        return std::nullopt;
    }
    return value;
}

// Nothing of that name, not even a dangling link: removed or renamed since it was listed.
bool Gone(const fs::path& path) {
    std::error_code error;
    return fs::symlink_status(path, error).type() == fs::file_type::not_found;
}

std::string LowerCaseExtension(const fs::path& path) {
    const std::string name = path.filename().string();
    const size_t dot = name.rfind('.');
    std::string extension = dot == std::string::npos ? std::string() : name.substr(dot + 1);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    return extension;
}

}  // namespace

std::pair<uint64_t, uint64_t> ParseImageIds(const fs::path& path) {
    const std::string stem = path.stem().string();
    const size_t first = stem.find('_');
    const size_t second = first == std::string::npos ? std::string::npos : stem.find('_', first + 1);
    if (second == std::string::npos) {
        return {0, 0};
    }
    const auto frame = LeadingNumber(std::string_view(stem).substr(first + 1, second - first - 1));
    if (!frame) {
        return {0, 0};
    }
    const auto timestamp = LeadingNumber(std::string_view(stem).substr(second + 1));
    return {*frame, timestamp.value_or(0)};
}

std::shared_ptr<CameraData> ReadCameraImage(const fs::path& path) {
    RegularFileSize(path);  // a FIFO or a device would hold the decoder's read for ever
    const std::string extension = LowerCaseExtension(path);
    if (extension != "jpg" && extension != "jpeg") {
        throw std::runtime_error("Not a JPEG file name: " + path.string());
    }
    int width = 0;
    int height = 0;
    int channels = 0;
    stbi_uc* pixels = stbi_load(path.string().c_str(), &width, &height, &channels, 0);
    if (pixels == nullptr) {
        const char* reason = stbi_failure_reason();
        throw std::runtime_error(std::string("Cannot decode the image (") + (reason ? reason : "unknown reason") + ")");
    }
    auto image = std::make_shared<CameraData>();
    image->width = static_cast<uint32_t>(width);
    image->height = static_cast<uint32_t>(height);
    image->channels = static_cast<uint32_t>(channels);
    image->bitsPerChannel = 8;
    const size_t size = static_cast<size_t>(width) * static_cast<size_t>(height) * static_cast<size_t>(channels);
    image->pixels.assign(pixels, pixels + size);
    stbi_image_free(pixels);
    image->byteSize = size;
    image->format = channels == 1 ? 1 : channels == 3 ? 2 : channels == 4 ? 3 : 0;
    image->sourceName = path.string();
    const auto [frame, timestamp] = ParseImageIds(path);
    image->imageFrameNumber = static_cast<uint32_t>(frame);
    image->frameNumber = static_cast<int32_t>(frame);
    image->deviceTimestamp_us = timestamp;
    return image;
}

std::shared_ptr<CameraData> LoadCameraImage(const fs::path& path) {
    std::error_code error;
    if (!fs::exists(path, error)) {
        return nullptr;
    }
    try {
        RegularFileSize(path);
    } catch (const std::exception& e) {
        Log(std::string("[Replay] ") + e.what(), log_level::kError);
        return nullptr;
    }
    try {
        return ReadCameraImage(path);
    } catch (const std::exception&) {
        return nullptr;
    }
}

std::vector<fs::path> ListReplayFiles(const fs::path& folder, FileType type) {
    if (type == FileType::Jpg) {
        std::vector<fs::path> images = ListImageFilesRecursive(folder);
        std::vector<std::tuple<uint64_t, uint64_t, fs::path>> keyed;
        keyed.reserve(images.size());
        for (auto& image : images) {
            const auto [frame, timestamp] = ParseImageIds(image);
            keyed.emplace_back(timestamp, frame, std::move(image));
        }
        std::sort(keyed.begin(), keyed.end());
        images.clear();
        for (auto& entry : keyed) {
            images.push_back(std::move(std::get<2>(entry)));
        }
        return images;
    }

    std::vector<fs::path> listed = ListFilesRecursive(folder, fmt::format(".{}", FileTypeToExtension(type)));
    // Numbered files first (false sorts before true), in number order; the rest by name.
    std::vector<std::tuple<bool, uint64_t, std::string, fs::path>> keyed;
    keyed.reserve(listed.size());
    size_t unnumbered = 0;
    for (auto& file : listed) {
        const std::optional<uint64_t> id = FrameNumberInName(file);
        unnumbered += id ? 0 : 1;
        keyed.emplace_back(!id, id.value_or(0), file.filename().string(), std::move(file));
    }
    std::sort(keyed.begin(), keyed.end());
    if (unnumbered > 0) {
        Log(fmt::format("{} of {} files have no frame number in their names (<name>_<number>); they play after "
                        "the numbered ones, by name",
                        unnumbered, keyed.size()),
            log_level::kInfo);
    }
    listed.clear();
    for (auto& entry : keyed) {
        listed.push_back(std::move(std::get<3>(entry)));
    }
    return listed;
}

OfflinePlayer::OfflinePlayer(std::shared_ptr<ObjectDispatcher> dispatcher, const fs::path& folder, FileType type)
    : dispatcher_(std::move(dispatcher)), folder_(folder), type_(type) {
    if (!folder_.empty()) {
        try {
            EnsureDirectory(folder_);
            Log("Current extension is " + FileTypeToExtension(type_), log_level::kDebug);
            files_ = ListReplayFiles(folder_, type_);
        } catch (const std::exception& e) {
            Log("Path does not exist: " + folder_.string(), log_level::kError);
            Log(std::string("[Replay] ") + e.what(), log_level::kError);
            files_.clear();
        }
    }
    told_.assign(files_.size(), false);
    FindReadableFile();
    worker_ = std::thread([this] { WorkerLoop(); });
}

OfflinePlayer::Loaded OfflinePlayer::ReadFile(const fs::path& path) const {
    Loaded loaded;
    switch (type_) {
        case FileType::Qpc: loaded.frame = LoadQpcFrame(path, false); break;
        case FileType::Ply: loaded.frame = LoadPly(path, &loaded.plyBody); break;
        case FileType::Jpg: loaded.image = ReadCameraImage(path); break;
        default: throw std::runtime_error("Unsupported format: " + FileTypeToExtension(type_));
    }
    return loaded;
}

// Whether the session can show anything is known before it is played: the files are read
// in order until one reads. For a sound session that is the first file alone, read once more
// when it is shown (a frame read now would count as made before the views' clear that the
// load sends, and be dropped); a session of which nothing reads costs one read of each file,
// once, where playing it would repeat them every step. Failures met here are not logged:
// they are told when the replay reaches them, or as the one reason the session is refused.
void OfflinePlayer::FindReadableFile() {
    std::string firstFailure;
    for (const fs::path& file : files_) {
        try {
            ReadFile(file);
            return;
        } catch (const std::exception& e) {
            if (firstFailure.empty()) {
                firstFailure = file.filename().string() + ": " + e.what();
            }
        }
    }
    if (!files_.empty()) {
        unreadable_ = fmt::format("none of the {} {} could be read ({})", files_.size(),
                                  type_ == FileType::Jpg ? "images" : "frames", firstFailure);
    }
}

void OfflinePlayer::TellOnce(size_t index, const std::string& text, int level) {
    if (!told_[index]) {
        told_[index] = true;
        Log(text, level);
    }
}

void OfflinePlayer::TellLoadFailure(size_t index, const std::string& reason) {
    std::error_code error;
    if (!fs::is_directory(folder_, error)) {
        // Every file went with it: one line, and no play through the rest of them failing.
        if (!folderGone_) {
            folderGone_ = true;
            Log("Session folder gone: " + folder_.string() +
                    " was removed or renamed after it was loaded; replay stopped",
                log_level::kError);
            folderGoneNews_.store(true);
        }
        {
            std::lock_guard lock(mutex_);
            playing_ = false;
        }
        changed_.notify_all();
        return;
    }
    if (Gone(files_[index])) {
        TellGoneRun(index);
        return;
    }
    TellOnce(index, "Failed to load frame: " + files_[index].string() + " (" + reason + ")", log_level::kError);
}

// Files removed from a session are mostly removed together: the neighbours of a file gone
// are looked at once, and the whole run of them is told in one line.
void OfflinePlayer::TellGoneRun(size_t index) {
    if (told_[index]) {
        return;
    }
    size_t first = index;
    size_t last = index;
    while (first > 0 && !told_[first - 1] && Gone(files_[first - 1])) --first;
    while (last + 1 < files_.size() && !told_[last + 1] && Gone(files_[last + 1])) ++last;
    std::fill(told_.begin() + static_cast<std::ptrdiff_t>(first), told_.begin() + static_cast<std::ptrdiff_t>(last) + 1,
              true);
    const char* why = "removed or renamed after the session was loaded";
    if (first == last) {
        Log(fmt::format("Failed to load frame: {} (gone: {})", files_[index].string(), why), log_level::kError);
        return;
    }
    Log(fmt::format("Failed to load {} {} to {} of {}: {} to {} are gone ({})",
                    type_ == FileType::Jpg ? "images" : "frames", first + 1, last + 1, files_.size(),
                    files_[first].string(), files_[last].filename().string(), why),
        log_level::kError);
}

OfflinePlayer::~OfflinePlayer() {
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
        playing_ = false;
    }
    changed_.notify_all();
    worker_.join();
}

void OfflinePlayer::Show() {
    {
        std::lock_guard lock(mutex_);
        if (index_ >= static_cast<int64_t>(files_.size())) {
            Log("Current file index out of range", log_level::kError);
            return;
        }
        showPending_ = true;
    }
    changed_.notify_all();
}

void OfflinePlayer::Play() {
    {
        std::lock_guard lock(mutex_);
        if (playing_ || files_.empty()) {
            return;
        }
        if (index_ + 1 >= static_cast<int64_t>(files_.size())) {
            index_ = 0;
        }
        playing_ = true;
        loadCurrentNext_ = true;
        nextTick_ = std::chrono::steady_clock::now();
    }
    changed_.notify_all();
}

void OfflinePlayer::Pause() {
    std::unique_lock lock(mutex_);
    PauseLocked(lock);
}

void OfflinePlayer::PauseLocked(std::unique_lock<std::mutex>& lock) {
    playing_ = false;
    changed_.notify_all();
    // A subscriber that pauses from inside a published frame runs on the worker itself.
    if (std::this_thread::get_id() != worker_.get_id()) {
        changed_.wait(lock, [this] { return !playLoading_; });
    }
}

void OfflinePlayer::Stop() {
    std::unique_lock lock(mutex_);
    PauseLocked(lock);
    index_ = 0;
    showPending_ = false;
}

void OfflinePlayer::Prev() {
    std::unique_lock lock(mutex_);
    PauseLocked(lock);
    index_ = Clamp(index_ - 1);
    if (!files_.empty()) showPending_ = true;
    changed_.notify_all();
}

void OfflinePlayer::Next() {
    std::unique_lock lock(mutex_);
    PauseLocked(lock);
    index_ = Clamp(index_ + 1);
    if (!files_.empty()) showPending_ = true;
    changed_.notify_all();
}

void OfflinePlayer::Seek(int64_t index) {
    {
        std::lock_guard lock(mutex_);
        index_ = Clamp(index);
        if (files_.empty()) {
            Log("Current file index out of range", log_level::kError);
            return;
        }
        if (playing_) {
            loadCurrentNext_ = true;
        } else {
            showPending_ = true;
        }
    }
    changed_.notify_all();
}

int64_t OfflinePlayer::GetIndex() const {
    std::lock_guard lock(mutex_);
    return index_;
}

bool OfflinePlayer::IsPlaying() const {
    std::lock_guard lock(mutex_);
    return playing_;
}

void OfflinePlayer::SetColourModeCallback(std::function<void(std::string)> callback) {
    std::lock_guard lock(mutex_);
    colourModeCallback_ = std::move(callback);
}

int64_t OfflinePlayer::Clamp(int64_t index) const {
    const auto last = static_cast<int64_t>(files_.size()) - 1;
    return std::clamp<int64_t>(index, 0, std::max<int64_t>(last, 0));
}

void OfflinePlayer::WorkerLoop() {
    std::unique_lock lock(mutex_);
    while (!quit_) {
        if (showPending_) {
            showPending_ = false;
            const int64_t index = index_;
            lock.unlock();
            LoadFrame(index);
            lock.lock();
            continue;
        }
        if (playing_) {
            const auto now = std::chrono::steady_clock::now();
            if (now < nextTick_) {
                changed_.wait_until(lock, nextTick_, [this] { return quit_ || showPending_ || !playing_; });
                continue;
            }
            if (!loadCurrentNext_) {
                if (index_ + 1 >= static_cast<int64_t>(files_.size())) {
                    playing_ = false;
                    changed_.notify_all();
                    continue;
                }
                ++index_;
            }
            loadCurrentNext_ = false;
            nextTick_ = now + kFramePeriod;
            const int64_t index = index_;
            playLoading_ = true;
            lock.unlock();
            LoadFrame(index);
            lock.lock();
            playLoading_ = false;
            changed_.notify_all();
            continue;
        }
        changed_.wait(lock, [this] { return quit_ || showPending_ || playing_; });
    }
}

void OfflinePlayer::LoadFrame(int64_t index) {
    if (index < 0 || index >= static_cast<int64_t>(files_.size())) {
        Log("Current file index out of range", log_level::kError);
        return;
    }
    const auto at = static_cast<size_t>(index);
    const fs::path& path = files_[at];
    Loaded loaded;
    try {
        loaded = ReadFile(path);
    } catch (const std::exception& e) {
        failedIndex_.store(index);
        TellLoadFailure(at, e.what());
        return;
    }
    failedIndex_.store(-1);
    folderGone_ = false;
    if (loaded.plyBody.read < loaded.plyBody.declared) {
        TellOnce(at, PlyCutShortWarning(loaded.plyBody, path), log_level::kWarning);
    }
    try {
        std::shared_ptr<FrameData> frame = std::move(loaded.frame);
        std::shared_ptr<CameraData> image = std::move(loaded.image);
        if (image) {
            dispatcher_->Publish(std::move(image));
            return;
        }
        if (frame->height == 0 && !frame->xyz.empty() && frame->xyz.size() % (3 * FrameData::kLines) == 0) {
            // A PLY file keeps no lines: a frame of whole lines is told as a live one is.
            frame->height = FrameData::kLines;
            frame->width = static_cast<uint32_t>(frame->xyz.size() / (3 * FrameData::kLines));
        }
        if (!firstFrameInspected_) {
            firstFrameInspected_ = true;
            if (!frame->rgb.empty() && frame->rgb.size() == frame->xyz.size()) {
                Log("Embedded RGB colors detected in the first frame. Defaulting to Embedded color mode.", log_level::kInfo);
                std::function<void(std::string)> callback;
                {
                    std::lock_guard lock(mutex_);
                    callback = colourModeCallback_;
                }
                if (callback) {
                    callback("Embedded");
                }
            }
        }
        dispatcher_->Publish(std::move(frame));
    } catch (const std::exception& e) {
        Log(std::string("[Replay] ") + e.what() + ": " + path.string(), log_level::kError);
        failedIndex_.store(index);
    }
}

}  // namespace orbel::studio
