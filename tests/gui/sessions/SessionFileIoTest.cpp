// The session readers take regular files only: a FIFO, a device or a folder where a frame,
// an image or a sync file should be is refused with its kind named, and a FIFO never holds
// a read (without a writer, opening one waits for ever). The writers' temporary names: within
// the name limit, never listed, never shared; a write that fails says why.
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

// Two files of 255-byte names that differ only at their end, written at once: neither
// temporary name is longer than a name may be, they differ, the listings see no frame while
// they are written, and each final file holds what was written to it.
TEST_F(SessionFileIo, TemporaryNamesFitTheLimitAreNeverListedAndNeverShared) {
    const std::string common(250, 'a');
    const fs::path first = root_ / (common + "1.ply");
    const fs::path second = root_ / (common + "2.ply");
    ASSERT_EQ(first.filename().string().size(), 255u);
    {
        AtomicFile a(first);
        AtomicFile b(second);
        for (const AtomicFile* file : {&a, &b}) {
            EXPECT_LE(file->TemporaryPath().filename().string().size(), AtomicFile::kMaxNameBytes);
            EXPECT_EQ(file->TemporaryPath().parent_path(), root_);
        }
        EXPECT_NE(a.TemporaryPath(), b.TemporaryPath());
        EXPECT_TRUE(a.Write(std::string("first")));
        EXPECT_TRUE(b.Write(std::string("second")));
        EXPECT_TRUE(ListFilesRecursive(root_, ".ply").empty());
        EXPECT_EQ(MostCommonExtension(root_), "");
        a.Commit();
        b.Commit();
    }
    EXPECT_EQ(testing::ReadBytes(first), (std::vector<uint8_t>{'f', 'i', 'r', 's', 't'}));
    EXPECT_EQ(testing::ReadBytes(second), (std::vector<uint8_t>{'s', 'e', 'c', 'o', 'n', 'd'}));
    EXPECT_EQ(std::distance(fs::directory_iterator(root_), fs::directory_iterator()), 2);
}

// A file that cannot be created or put in place says why, in the system's words.
TEST_F(SessionFileIo, FailedWritesGiveTheSystemsReason) {
    testing::WriteText(root_ / "file", "x");
    const struct {
        const char* name;
        fs::path path;
        bool opens;
        std::string text;
        const char* reason;
    } cases[] = {
        {"a missing folder", root_ / "none" / "frame.ply", false, "Cannot open output file: ",
         "No such file or directory"},
        {"a file in the folder's place", root_ / "file" / "frame.ply", false, "Cannot open output file: ",
         "Not a directory"},
        {"a name longer than the limit", root_ / (std::string(252, 'a') + ".ply"), true, "Write error: ",
         "File name too long"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string text;
        try {
            AtomicFile file(c.path);
            EXPECT_TRUE(c.opens);
            file.Write(std::string("x"));
            file.Commit();
        } catch (const OutputFileError& e) {
            text = e.what();
        }
        EXPECT_EQ(text, c.text + c.path.string() + " (" + c.reason + ")");
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(root_), fs::directory_iterator()), 1) << "a temporary file stayed";
}

}  // namespace
}  // namespace orbel::studio
