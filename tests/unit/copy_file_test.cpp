#include "hub/copy_file.h"
#include "hub/platform.h"
#include "log_capture.h"
#include "temporary_directory.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <string>
#if __has_include(<sys/resource.h>)
#include <sys/resource.h>
#define HAS_FILE_SIZE_LIMIT 1
#endif

namespace {

// Descriptors this process holds open; 0 where /proc does not list them. Under Wine a Windows
// program would see Wine's own descriptors there, which come and go as Wine pleases.
size_t open_descriptors() {
    if (platform_separator == '\\') return 0;
    std::error_code error;
    std::filesystem::directory_iterator entries("/proc/self/fd", error);
    if (error) return 0;
    size_t count = 0;
    for (const auto &entry : entries) {
        (void)entry;
        ++count;
    }
    return count;
}

std::string binary_content(size_t size) {
    std::string content;
    for (size_t i = 0; i < size; ++i)
        content.push_back(char((i * 7 + i / 256) & 0xFF));
    return content;
}

class CopyFileSizes : public testing::TestWithParam<size_t> {};

TEST_P(CopyFileSizes, CopiesEveryByte) {
    TemporaryDirectory directory;
    LogCapture log;
    std::string content = binary_content(GetParam());
    directory.write("source.bin", content);
    directory.write("target.bin", std::string(9000, 'z'));
    EXPECT_EQ(copy_file("target.bin", "source.bin"), 0);
    EXPECT_EQ(directory.read("target.bin"), content);
    EXPECT_EQ(log.texts(),
              std::vector<std::string>{"Copy file: src=source.bin -> dest=target.bin [OK]"});
}

INSTANTIATE_TEST_SUITE_P(Sizes, CopyFileSizes, testing::Values(0, 1, 4095, 4096, 4097, 20000));

TEST(CopyFile, AMissingSourceLeavesTheDestinationAlone) {
    TemporaryDirectory directory;
    LogCapture log;
    directory.write("target.bin", "keep me");
    EXPECT_EQ(copy_file("target.bin", "missing.bin"), COPY_FILE_EOPEN);
    EXPECT_EQ(directory.read("target.bin"), "keep me");
    EXPECT_EQ(log.texts(),
              std::vector<std::string>{"Copy file: src=missing.bin -> dest=target.bin [Error]"});
}

TEST(CopyFile, ADestinationThatCannotBeOpenedFails) {
    TemporaryDirectory directory;
    LogCapture log;
    directory.write("source.bin", "data");
    std::filesystem::create_directory("busy");
    size_t descriptors = open_descriptors();
    EXPECT_EQ(copy_file("busy", "source.bin"), COPY_FILE_EOPEN);
    EXPECT_TRUE(log.contains("Copy file: src=source.bin -> dest=busy [Error]"));
    // The source is closed again: no descriptor is left open (Linux), and Windows lets an
    // unopened file be deleted.
    EXPECT_EQ(open_descriptors(), descriptors);
    EXPECT_TRUE(std::filesystem::remove("source.bin"));
}

TEST(CopyFile, AWriteThatFailsIsAWriteError) {
#ifndef HAS_FILE_SIZE_LIMIT
    GTEST_SKIP() << "needs a limit on the size of files written";
#else
    TemporaryDirectory directory;
    LogCapture log;
    directory.write("source.bin", binary_content(20000));
    // Files may grow to 100 bytes only; past that a write fails with EFBIG.
    rlimit old_limit;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old_limit), 0);
    void (*old_handler)(int) = signal(SIGXFSZ, SIG_IGN);
    rlimit small = {100, old_limit.rlim_max};
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    int result = copy_file("target.bin", "source.bin");
    setrlimit(RLIMIT_FSIZE, &old_limit);
    signal(SIGXFSZ, old_handler);
    EXPECT_EQ(result, COPY_FILE_EIO);
    EXPECT_TRUE(log.contains("Copy file: src=source.bin -> dest=target.bin [Error]"));
#endif
}

TEST(CopyFile, TrailingBlanksOfTheNamesAreIgnoredButLogged) {
    TemporaryDirectory directory;
    LogCapture log;
    directory.write("updater.exe", "program");
    EXPECT_EQ(copy_file("ravcpy.exe ", "updater.exe "), 0);
    EXPECT_EQ(directory.read("ravcpy.exe"), "program");
    EXPECT_TRUE(log.contains("Copy file: src=updater.exe  -> dest=ravcpy.exe  [OK]"));
    EXPECT_EQ(copy_file("second.exe  ", "updater.exe  "), 0); // every trailing blank goes
    EXPECT_EQ(directory.read("second.exe"), "program");
}

TEST(CopyFile, TheCopyKeepsThePermissionBits) {
    namespace fs = std::filesystem;
    TemporaryDirectory directory;
    LogCapture log;
    directory.write("program", "#!/bin/sh\n");
    fs::permissions("program", fs::perms::owner_all | fs::perms::group_read);
    ASSERT_EQ(copy_file("copy", "program"), 0);
    EXPECT_EQ(fs::status("copy").permissions() & fs::perms::owner_exec,
              fs::status("program").permissions() & fs::perms::owner_exec);
}

} // namespace
