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

TEST(SharedFiles, AnotherHandleReadsAndRewritesWhileOpen) {
    test::ScratchDir scratch;
    const std::string path = (scratch.path() / "current_flight_data.json").string();

    std::ofstream writer = open_shared_output(path, std::ios::trunc);
    ASSERT_TRUE(writer.is_open());
    writer << "{\"a\":1}\n" << std::flush;

    std::ifstream reader = open_shared_input(path);
    ASSERT_TRUE(reader.is_open());
    std::string line;
    ASSERT_TRUE(std::getline(reader, line));
    EXPECT_EQ(line, "{\"a\":1}");

    // The server empties the command file while the bridge may hold it.
    std::ofstream second = open_shared_output(path, std::ios::trunc);
    EXPECT_TRUE(second.is_open());
    second.close();
    writer.close();
    EXPECT_EQ(test::read_file(path), "");
}

TEST(SharedFiles, AppendModeKeepsEarlierLines) {
    test::ScratchDir scratch;
    const std::string path = (scratch.path() / "flight_data.json").string();
    {
        std::ofstream first = open_shared_output(path, std::ios::app);
        first << "one\n";
    }
    {
        std::ofstream second = open_shared_output(path, std::ios::app);
        second << "two\n";
    }
    EXPECT_EQ(test::read_file(path), "one\ntwo\n");
}

TEST(SharedFiles, MissingFileOrFolderFailsToOpen) {
    test::ScratchDir scratch;
    EXPECT_FALSE(open_shared_input((scratch.path() / "absent.txt").string()).is_open());
    EXPECT_FALSE(open_shared_output((scratch.path() / "no" / "file.txt").string(), std::ios::trunc).is_open());
}

}  // namespace
}  // namespace velmar::platform
