#include "platform/filesystem.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/process.h"

namespace velmar::platform {
namespace {

namespace fs = std::filesystem;

TEST(JoinPath, AppendsOneSeparatorAndNormalisesNothing) {
    struct Row {
        const char* folder;
        const char* name;
        const char* expected;
    };
    const Row rows[] = {
        {"/data/Velmar", "current_flight_data.json", "/data/Velmar/current_flight_data.json"},
        {"", "python_commands.txt", "/python_commands.txt"},
        {"dir/", "f.txt", "dir//f.txt"},
        {"relative", "f.txt", "relative/f.txt"},
        {"C:\\Temp\\", "f.txt", "C:\\Temp\\/f.txt"},
        {"with space", "a b", "with space/a b"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(join_path(row.folder, row.name), row.expected) << row.folder << " + " << row.name;
    }
}

TEST(CreateDirectory, CreatesExactlyOneLevel) {
    test::ScratchDir scratch;
    const fs::path folder = scratch.path() / "Velmar";

    EXPECT_TRUE(create_directory(folder.string()));
    EXPECT_TRUE(fs::is_directory(folder));

    // An existing folder is reported, and left as it is.
    test::write_file(folder / "keep.txt", "kept");
    EXPECT_FALSE(create_directory(folder.string()));
    EXPECT_EQ(test::read_file(folder / "keep.txt"), "kept");

    const fs::path nested = scratch.path() / "missing" / "child";
    EXPECT_FALSE(create_directory(nested.string()));
    EXPECT_FALSE(fs::exists(scratch.path() / "missing"));

    EXPECT_FALSE(create_directory(""));
}

}  // namespace
}  // namespace velmar::platform
