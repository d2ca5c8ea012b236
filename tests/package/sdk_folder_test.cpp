// SIMCONNECT_SDK_DIR as someone configuring the project meets it: a folder that
// can't be used stops the configuration with what is wrong, a usable one is
// taken, and emptying it again leaves no step that copies the SDK's DLL.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/process.h"

namespace velmar::package {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const std::string kMingwToolchain = "-DCMAKE_TOOLCHAIN_FILE=" VELMAR_SOURCE_DIR "/cmake/mingw-w64.cmake";

// CMake wraps its messages: compare with every run of white space as one space.
std::string collapse_spaces(const std::string& text) {
    std::istringstream words(text);
    std::string word;
    std::string result;
    while (words >> word) {
        result += (result.empty() ? "" : " ") + word;
    }
    return result;
}

struct Configured {
    int status = -1;
    std::string output;  // standard output and error, spaces collapsed
};

Configured configure(const fs::path& build, const std::vector<std::string>& arguments) {
    std::vector<std::string> argv = {
        VELMAR_CMAKE_COMMAND,      "-S", VELMAR_SOURCE_DIR, "-B", build.string(), "-DVELMAR_BUILD_TESTS=OFF",
        "-DVELMAR_BUILD_BENCH=OFF"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    test::Process cmake(argv);
    const auto status = cmake.wait(300s);
    return {status.value_or(-1), collapse_spaces(cmake.output() + "\n" + cmake.error_output())};
}

// A stand-in for the SDK's folder holding `files` (their contents don't matter when configuring).
fs::path fake_sdk(const fs::path& folder, const std::vector<std::string>& files) {
    for (const std::string& file : files) {
        fs::create_directories((folder / file).parent_path());
        test::write_file(folder / file, "placeholder\n");
    }
    return folder;
}

const std::vector<std::string> kWholeSdk = {"include/SimConnect.h", "lib/SimConnect.lib", "lib/SimConnect.dll"};

// The build files CMake generated, with the text of every one of them.
std::string generated_build_files(const fs::path& build) {
    std::string text;
    for (const auto& entry : fs::recursive_directory_iterator(build)) {
        const std::string name = entry.path().filename().string();
        if (entry.is_regular_file() && (name == "Makefile" || name == "build.make" || name == "build.ninja")) {
            text += test::read_file(entry.path());
        }
    }
    return text;
}

TEST(SdkFolder, AFolderThatCannotBeUsedStopsTheConfigurationSayingWhy) {
    const test::ScratchDir scratch;
    const std::string headers_only = fake_sdk(scratch.path() / "headers only", {"include/SimConnect.h"}).string();
    const std::string no_dll =
        fake_sdk(scratch.path() / "no dll", {"include/SimConnect.h", "lib/SimConnect.lib"}).string();
    const std::string whole = fake_sdk(scratch.path() / "whole", kWholeSdk).string();
    const std::string absent = (scratch.path() / "absent").string();
    const std::string advice =
        "Give the SDK's \"SimConnect SDK\" folder, the one holding include/SimConnect.h and lib/SimConnect.lib and "
        "lib/SimConnect.dll (for example \"C:/MSFS SDK/SimConnect SDK\").";
    struct Row {
        const char* build;  // rows sharing a build folder detect the compiler once
        bool windows;
        std::string folder;
        std::string message;
    };
    const std::vector<Row> rows = {
        {"native", false, whole,
         "SIMCONNECT_SDK_DIR needs a Windows target: Visual Studio, clang-cl or the mingw-w64 toolchain "
         "(-DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake). Leave it empty to build with the substitute library."},
        {"mingw", true, absent, "SIMCONNECT_SDK_DIR: no such folder: " + absent},
        {"mingw", true, headers_only,
         "SIMCONNECT_SDK_DIR: " + headers_only + " lacks lib/SimConnect.lib, lib/SimConnect.dll. " + advice},
        {"mingw", true, no_dll, "SIMCONNECT_SDK_DIR: " + no_dll + " lacks lib/SimConnect.dll. " + advice},
    };
    for (const Row& row : rows) {
        std::vector<std::string> arguments = {"-DSIMCONNECT_SDK_DIR=" + row.folder};
        if (row.windows) arguments.push_back(kMingwToolchain);
        const Configured result = configure(scratch.path() / row.build, arguments);
        EXPECT_NE(result.status, 0) << row.folder;
        EXPECT_NE(result.output.find("CMake Error at cmake/simconnect_sdk.cmake"), std::string::npos) << result.output;
        EXPECT_NE(result.output.find(row.message), std::string::npos) << result.output;
        EXPECT_NE(result.output.find("Configuring incomplete, errors occurred!"), std::string::npos);
    }
}

TEST(SdkFolder, TheSdkIsTakenWithMingwAndItsDllForgottenOnceTheFolderIsEmptied) {
    const test::ScratchDir scratch;
    const std::string sdk = fake_sdk(scratch.path() / "SimConnect SDK", kWholeSdk).string();
    const fs::path build = scratch.path() / "build";

    const Configured with_sdk = configure(build, {kMingwToolchain, "-DSIMCONNECT_SDK_DIR=" + sdk});
    ASSERT_EQ(with_sdk.status, 0) << with_sdk.output;
    EXPECT_NE(with_sdk.output.find("-- SimConnect: the SDK in " + sdk), std::string::npos) << with_sdk.output;
    const std::string dll = "lib/SimConnect.dll";  // the folder's space comes escaped
    EXPECT_NE(generated_build_files(build).find(dll), std::string::npos) << "the DLL is copied beside the program";

    const Configured without = configure(build, {"-DSIMCONNECT_SDK_DIR="});
    ASSERT_EQ(without.status, 0) << without.output;
    EXPECT_NE(without.output.find("-- SimConnect: the substitute library"), std::string::npos) << without.output;
    EXPECT_EQ(generated_build_files(build).find(dll), std::string::npos) << "no step copies the DLL any more";
}

}  // namespace
}  // namespace velmar::package
