#include "Global.h"
#include "FileSystem.h"

#include "TestSupport.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <filesystem>

namespace {

TEST(RoutinesTest, TwoDigitsAndIncludeBackslash)
{
    EXPECT_EQ(TwoDigits(0), "00");
    EXPECT_EQ(TwoDigits(7), "07");
    EXPECT_EQ(TwoDigits(9), "09");
    EXPECT_EQ(TwoDigits(10), "10");
    EXPECT_EQ(TwoDigits(12), "12");
    EXPECT_EQ(TwoDigits(100), "100");
    EXPECT_EQ(TwoDigits(-3), "-3");
    // Minutes go on past an hour: 3725 s is 62 minutes 5 seconds.
    const std::pair<int64_t, const char*> times[] = {{0, "00:00"}, {59, "00:59"}, {60, "01:00"}, {65, "01:05"},
                                                     {3599, "59:59"}, {3600, "60:00"}, {3725, "62:05"},
                                                     {6000, "100:00"}};
    for (const auto& [seconds, text] : times)
        EXPECT_EQ(TimeText(seconds), text) << seconds;
    EXPECT_EQ(IncludeBackslash(""), "");
    EXPECT_EQ(IncludeBackslash("/music"), "/music/");
    EXPECT_EQ(IncludeBackslash("/music/"), "/music/");
}

TEST(RoutinesTest, WaitMillisecondsWaitsWithoutSpinning)
{
    const auto wallStart = std::chrono::steady_clock::now();
    const std::clock_t cpuStart = std::clock();
    WaitMilliseconds(60);
    const auto waited = std::chrono::steady_clock::now() - wallStart;
    const double cpuMs = 1000.0 * static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
    EXPECT_GE(waited, std::chrono::milliseconds(60));
    EXPECT_LT(cpuMs, 30.0);  // a busy wait would burn all 60 ms

    const auto t0 = std::chrono::steady_clock::now();
    WaitMilliseconds(0);
    WaitMilliseconds(-5);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(20));
}

using FileRoutinesTest = TempDirTest;

TEST_F(FileRoutinesTest, GetFileSize64GivesTheWholeSize)
{
    EXPECT_EQ(GetFileSize64(Path("none")), -1);
    WriteFile("small", "12345");
    EXPECT_EQ(GetFileSize64(Path("small")), 5);
    // A sparse file past 4 GiB: the 32-bit size would be 4096.
    const int64_t big = (int64_t{1} << 32) + 4096;
    const int fd = open(Path("big").c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, big), 0);
    close(fd);
    EXPECT_EQ(GetFileSize64(Path("big")), big);
    EXPECT_EQ(GetFileSize64(m_dir), 0);
}

TEST_F(FileRoutinesTest, IsFileLockedSeesMissingReadOnlyAndLockedFiles)
{
    EXPECT_FALSE(IsFileLocked(Path("none")));
    WriteFile("free.wav", "x");
    EXPECT_FALSE(IsFileLocked(Path("free.wav")));

    WriteFile("ro.wav", "x");
    chmod(Path("ro.wav").c_str(), 0444);
    EXPECT_TRUE(IsFileLocked(Path("ro.wav")));

    EXPECT_TRUE(IsFileLocked(m_dir));

    // A writer of this program holds the lock: another open (here or in another run) sees it.
    WriteFile("busy.wav", "x");
    const int writer = open(Path("busy.wav").c_str(), O_RDWR);
    ASSERT_TRUE(TryLockForWriting(writer));
    EXPECT_TRUE(IsFileLocked(Path("busy.wav")));
    const pid_t child = fork();
    if (child == 0)
        _exit(IsFileLocked(Path("busy.wav")) ? 0 : 1);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "another process does not see the lock";
    close(writer);
    EXPECT_FALSE(IsFileLocked(Path("busy.wav")));
}

}  // namespace
