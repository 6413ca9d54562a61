// The harness's process and parsing plumbing, on plain Linux programs. A
// harness that misreads an exit code or loses output would make every Wine
// test lie, so these are checked without Wine in the way.

#include <gtest/gtest.h>

#include <string>

#include "tests/e2e/WineHarness.h"

namespace quorvel::e2e {
namespace {

TEST(RunCaptured, KeepsStdoutAndStderrApartWithTheEnvironmentAndTheExitCode) {
    const auto r =
        runCaptured({"/bin/sh", "-c", "printf 'a\\r\\n%s' \"$QV_PROBE\"; echo err >&2; exit 7"},
                    {{"QV_PROBE", "x y"}}, milliseconds(10000));
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 7);
    EXPECT_EQ(r.out, "a\r\nx y");
    EXPECT_EQ(r.err, "err\n");
    // More than a pipe buffer holds.
    const auto big = runCaptured({"/bin/sh", "-c", "head -c 300000 /dev/zero | tr '\\0' x"}, {},
                                 milliseconds(10000));
    EXPECT_EQ(big.out, std::string(300000, 'x'));
}

TEST(RunCaptured, KillsAProgramThatOverrunsItsTime) {
    const auto start = Clock::now();
    const auto r = runCaptured({"/bin/sleep", "30"}, {}, milliseconds(300));
    EXPECT_TRUE(r.timedOut);
    EXPECT_EQ(r.exitCode, -9);
    EXPECT_LT(Clock::now() - start, milliseconds(10000));
}

TEST(RunCaptured, ReturnsWhenTheProgramEndsEvenIfAHelperKeepsThePipeOpen) {
    // The background sleep inherits stdout, as a freshly started wineserver
    // would; the call must still end with the shell.
    const auto start = Clock::now();
    const auto r = runCaptured({"/bin/sh", "-c", "sleep 5 & echo done"}, {}, milliseconds(4000));
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "done\n");
    EXPECT_LT(Clock::now() - start, milliseconds(3000));
}

TEST(WaitUntil, ReturnsAsSoonAsTheConditionHoldsOrAtTheDeadlineAfterALastCheck) {
    int calls = 0;
    EXPECT_TRUE(waitUntil([&] { return ++calls == 3; }, milliseconds(5000), milliseconds(1)));
    EXPECT_EQ(calls, 3);
    calls = 0;
    const auto start = Clock::now();
    EXPECT_FALSE(waitUntil([&] { return ++calls < 0; }, milliseconds(100), milliseconds(10)));
    EXPECT_GE(Clock::now() - start, milliseconds(100));
    EXPECT_GE(calls, 2);
}

TEST(ParseKeyValues, ReadsDriverLinesAndSkipsRecordLines) {
    const auto values = parseKeyValues(
        "count=2\r\nwindow hwnd=0x1 pid=3 visible=1\nlast_text=Logger:\\r\\n - [5] a=b\n");
    EXPECT_EQ(values.size(), 2u);
    EXPECT_EQ(values.at("count"), "2");
    EXPECT_EQ(values.at("last_text"), "Logger:\\r\\n - [5] a=b");
    EXPECT_EQ(values.count("window hwnd"), 0u);
}

}  // namespace
}  // namespace quorvel::e2e
