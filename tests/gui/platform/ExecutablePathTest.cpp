// The running program's own file, whatever the working folder.
#include <gtest/gtest.h>

#include "platform/ExecutablePath.h"

namespace {

TEST(ExecutablePath, NamesThisTestProgramAbsolutelyFromAnyWorkingFolder) {
    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(std::filesystem::temp_directory_path());
    const std::filesystem::path path = orbel::studio::platform::ExecutablePath();
    std::filesystem::current_path(before);

    EXPECT_TRUE(path.is_absolute()) << path;
    EXPECT_EQ(path.filename(), "gui_platform_tests");
    EXPECT_TRUE(std::filesystem::is_regular_file(path)) << path;
}

}  // namespace
