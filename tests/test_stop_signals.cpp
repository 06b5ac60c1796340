// Ctrl-C, SIGTERM and SIGHUP for the command-line programs: the first asks, a second (or the
// grace time running out) ends the program at once, whatever it is stuck in.
#include <gtest/gtest.h>

#include <csignal>
#include <thread>

#include <unistd.h>

#include "program/StopSignals.h"

using namespace zelvox;

namespace {

// A program stuck in a wait that never looks at the stop flag.
[[noreturn]] void Stuck() {
    for (;;) ::pause();
}

} // namespace

TEST(StopSignals, TheFirstSignalAsksASecondOrTheGraceTimeEndsItAtOnce) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // The first only asks: the program sees which signal and goes on.
    EXPECT_EXIT(
        {
            InstallStopSignals(60'000);
            std::raise(SIGHUP);
            if (StopSignal() != SIGHUP) std::_Exit(1);
            std::_Exit(7);
        },
        ::testing::ExitedWithCode(7), "");
    // A second ends a stuck program with the first's status.
    EXPECT_EXIT(
        {
            InstallStopSignals(60'000);
            std::raise(SIGTERM);
            std::raise(SIGINT);
            Stuck();
        },
        ::testing::ExitedWithCode(143), "stopped at once");
    // One signal and a program that does not end: the grace time ends it.
    EXPECT_EXIT(
        {
            InstallStopSignals(200);
            std::raise(SIGINT);
            Stuck();
        },
        ::testing::ExitedWithCode(130), "stopped at once");
}
