// OfflinePlayer: replays one folder of recorded frame files. It lists the files of one type
// in a defined order (frames by the frame number in their names, images by their time
// stamps), loads one at a time (QPC or PLY into a FrameData, JPEG into a CameraData) and
// publishes it through the ObjectDispatcher exactly as the live stream does, so the views
// and the camera panel show it unchanged: a frame carries its frame number, 56 lines and
// the points of a line (for a PLY file of whole lines, its point count / 56). Play shows one file every 0.05 s up to and
// including the last file.
//
// Contract: the control calls (Show, Play, Pause, Stop, Prev, Next, Seek) and the getters
// may come from any thread and never block on a load, except Pause and Stop, which wait for
// a play load in progress so that nothing from the play is published after they return.
// Loads and publishing run on the player's one worker thread, in the order the calls came;
// subscribers' Consume runs there. Steps that come faster than files load are merged: the
// newest index is shown. A file that cannot be read is passed over and logged the first time
// this player meets it only, so a session played again and again says it once; files gone
// since the listing are told as one line per run of them, and a folder gone as a whole
// (removed or renamed) in one line that stops the play.
// The destructor ends the worker, after a load in progress.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/FileHelpers.h"
#include "app/FrameData.h"
#include "app/ObjectDispatcher.h"
#include "sessions/PlyFile.h"

namespace orbel::studio {

// The frame counter and time stamp in an image file's name: the decimal numbers after the
// first "_" and after the next "_" of the name without its extension. Both 0 unless the
// name has two "_"; a part that is not a number leaves it and the ones after it at 0.
std::pair<uint64_t, uint64_t> ParseImageIds(const std::filesystem::path& path);

// One ".jpg"/".jpeg" image decoded as it is stored (1, 3 or 4 channels, 8 bits), its ids
// from its name. Throws std::runtime_error with the reason when the file is missing, not a
// regular file, of another kind or cannot be decoded; logs nothing.
std::shared_ptr<CameraData> ReadCameraImage(const std::filesystem::path& path);

// ReadCameraImage, or none; only a path that names something other than a regular file
// (a FIFO, a device, a folder) is told in the log.
std::shared_ptr<CameraData> LoadCameraImage(const std::filesystem::path& path);

// The files of one type under the folder, in replay order: QPC and PLY frames named
// <name>_<number> by that number, then every other one by name (the log says how many had no
// number), ties by path; JPEG images (".jpg" and ".jpeg") by time stamp, then frame counter,
// ties by path. Entries that cannot be examined are left out as ListFilesRecursive says.
// Throws as ListFilesRecursive.
std::vector<std::filesystem::path> ListReplayFiles(const std::filesystem::path& folder, FileType type);

class OfflinePlayer {
public:
    static constexpr std::chrono::milliseconds kFramePeriod{50};  // 20 frames per second

    // Lists the folder's files of the type (Qpc, Ply and Jpg are played), creating the
    // folder when it is missing; a folder that cannot be made or read gives no files and
    // the log line "Path does not exist: <folder>". Then reads the files in order until one
    // can be read (see UnreadableReason), on the calling thread.
    OfflinePlayer(std::shared_ptr<ObjectDispatcher> dispatcher, const std::filesystem::path& folder, FileType type);
    ~OfflinePlayer();
    OfflinePlayer(const OfflinePlayer&) = delete;
    OfflinePlayer& operator=(const OfflinePlayer&) = delete;

    // Loads and publishes the current file once.
    void Show();
    // Plays from the current file; from file 0 when at the last file. Ignored while playing.
    void Play();
    void Pause();
    // Pause, then back to file 0 (nothing shown).
    void Stop();
    // Pause, one file back or on (clamped), and show it.
    void Prev();
    void Next();
    // Clamps to the files and shows that file; while playing, play goes on from there.
    void Seek(int64_t index);

    int64_t GetIndex() const;
    // The index of the last file that could not be read, until a later load succeeds; -1 when
    // the last load succeeded (the views still show the frame before it).
    int64_t FailedIndex() const { return failedIndex_.load(); }
    int FileCount() const { return static_cast<int>(files_.size()); }
    // True once after each time a load found the folder gone (removed or renamed) and
    // stopped the play: the replay panel's cue to say so. While the folder stays gone the
    // player says nothing more; a load that succeeds again (the folder back) rearms it.
    bool TakeFolderGone() { return folderGoneNews_.exchange(false); }
    // Empty when a file could be read at construction (or there are none); otherwise why
    // the session cannot be played: "none of the N frames could be read (<first file>:
    // <reason>)", "images" for a folder of images.
    const std::string& UnreadableReason() const { return unreadable_; }
    bool IsPlaying() const;
    const std::vector<std::filesystem::path>& Files() const { return files_; }

    // Called on the worker thread with "Embedded" when the first frame loaded carries one
    // colour per point.
    void SetColourModeCallback(std::function<void(std::string)> callback);

private:
    // One file as read: a frame (with its PLY body counts) or an image.
    struct Loaded {
        std::shared_ptr<FrameData> frame;
        std::shared_ptr<CameraData> image;
        PlyShortBody plyBody;
    };

    Loaded ReadFile(const std::filesystem::path& path) const;
    void FindReadableFile();
    // Logs the text unless something was logged about that file already.
    void TellOnce(size_t index, const std::string& text, int level);
    // Says why the file failed to load, once: the folder gone, a run of files gone, or the
    // file's own reason.
    void TellLoadFailure(size_t index, const std::string& reason);
    void TellGoneRun(size_t index);
    void WorkerLoop();
    void LoadFrame(int64_t index);
    void PauseLocked(std::unique_lock<std::mutex>& lock);
    int64_t Clamp(int64_t index) const;

    std::shared_ptr<ObjectDispatcher> dispatcher_;
    std::vector<std::filesystem::path> files_;
    std::filesystem::path folder_;
    FileType type_;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    int64_t index_ = 0;
    bool playing_ = false;
    bool showPending_ = false;
    bool loadCurrentNext_ = false;  // the next play tick shows index_ itself, not the one after
    bool playLoading_ = false;
    bool quit_ = false;
    std::chrono::steady_clock::time_point nextTick_;
    std::function<void(std::string)> colourModeCallback_;

    std::string unreadable_;  // set by the constructor only

    // Written by the constructor, then by the worker thread only.
    bool firstFrameInspected_ = false;
    std::vector<bool> told_;  // per file: something was logged about it
    std::atomic<int64_t> failedIndex_{-1};
    bool folderGone_ = false;  // told; until a load succeeds again
    std::atomic<bool> folderGoneNews_{false};
    std::thread worker_;
};

}  // namespace orbel::studio
