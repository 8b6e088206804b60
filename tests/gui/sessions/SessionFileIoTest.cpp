// The session readers take regular files only: a FIFO, a device or a folder where a frame,
// an image or a sync file should be is refused with its kind named, and a FIFO never holds
// a read (without a writer, opening one waits for ever).
#include "sessions/SessionFileIo.h"

#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <future>

#include <gtest/gtest.h>

#include "gui/app/ProgramLogCapture.h"
#include "gui/sessions/SessionFixtures.h"
#include "sessions/ColorizerSDK.h"
#include "sessions/OfflinePlayer.h"
#include "sessions/PlyFile.h"
#include "sessions/QpcFile.h"

namespace orbel::studio {
namespace {

using testing::ProgramLogCapture;
namespace fs = std::filesystem;

class SessionFileIo : public testing::ScratchFolder {};

// Each reader over one path: whether it refused it, and the text it gave.
struct Reader {
    const char* name;
    std::function<bool(const fs::path&, std::string&)> refuses;
};

std::string LastLine(const ProgramLogCapture& log) {
    const auto records = log.Records();
    return records.empty() ? std::string() : records.back().text;
}

const Reader kReaders[] = {
    {"QPC", [](const fs::path& path, std::string& text) {
         ProgramLogCapture log;
         const bool refused = ReadQpcFrame(path, false) == nullptr && ReadQpcPointCloud(path) == nullptr;
         text = LastLine(log);
         return refused;
     }},
    {"PLY", [](const fs::path& path, std::string& text) {
         ProgramLogCapture log;
         const bool refused = ReadPly(path) == nullptr;
         text = LastLine(log);
         return refused;
     }},
    {"JPEG", [](const fs::path& path, std::string& text) {
         ProgramLogCapture log;
         const bool refused = LoadCameraImage(path) == nullptr;
         text = LastLine(log);
         return refused;
     }},
    {"sync", [](const fs::path& path, std::string& text) {
         try {
             ReadSyncFile(path);
         } catch (const std::exception& e) {
             text = e.what();
             return true;
         }
         return false;
     }},
};

TEST_F(SessionFileIo, ReadersRefuseFifosDevicesAndFoldersWithoutWaiting) {
    struct Kind {
        const char* name;
        std::function<fs::path(const std::string&)> make;  // a path of this kind named after the reader
        const char* text;
    };
    const Kind kinds[] = {
        {"FIFO",
         [&](const std::string& name) {
             const fs::path path = root_ / (name + ".fifo");
             EXPECT_EQ(::mkfifo(path.c_str(), 0600), 0);
             return path;
         },
         "Not a regular file (a FIFO): "},
        {"folder",
         [&](const std::string& name) {
             const fs::path path = root_ / (name + ".folder");
             fs::create_directories(path);
             return path;
         },
         "Not a regular file (a folder): "},
        {"device", [](const std::string&) { return fs::path("/dev/zero"); }, "Not a regular file (a device): "},
    };
    for (const Kind& kind : kinds) {
        for (const Reader& reader : kReaders) {
            SCOPED_TRACE(std::string(reader.name) + " from a " + kind.name);
            const fs::path path = kind.make(reader.name);
            std::string text;
            auto read = std::async(std::launch::async, [&] { return reader.refuses(path, text); });
            if (read.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
                // Let the waiting open go: a writer that comes and leaves gives it the end of the file.
                ::close(::open(path.c_str(), O_WRONLY));
                read.wait();
                ADD_FAILURE() << "the read waited on the " << kind.name;
                continue;
            }
            EXPECT_TRUE(read.get());
            EXPECT_NE(text.find(kind.text + path.string()), std::string::npos) << text;
        }
    }
}

}  // namespace
}  // namespace orbel::studio
