// The service's loop on Linux, in-process: deadlines in order, a handler that re-arms for a time
// already past, input on a watched descriptor, and the signals that stop the service and make it
// read its settings again, raised at the process as systemd sends them.
#include "service/event_loop.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

namespace conv::service {
namespace {

std::unique_ptr<EventLoop> Loop() {
    std::string error;
    auto loop = MakeEventLoop(error);
    EXPECT_TRUE(loop) << error;
    return loop;
}

TEST(EventLoop, TimersRunInDeadlineOrderAndAPastDeadlineWaitsForTheNextTurn) {
    auto loop = Loop();
    std::string order;
    const Clock::time_point now = Clock::now();
    const auto late = loop->AddTimer([&] { order += 'L'; });
    EventLoop::TimerId early = 0;
    early = loop->AddTimer([&] {
        order += 'E';
        // Re-armed in the past: runs again, but not before the late one of this turn.
        if (order.size() == 1) loop->ArmAt(early, Clock::now() - std::chrono::seconds(1));
    });
    const auto tick = loop->AddTimer([&] {
        order += 'T';
        if (order.size() == 6) loop->Quit();
    });
    loop->ArmAt(late, now - std::chrono::milliseconds(1));
    loop->ArmAt(early, now - std::chrono::milliseconds(2));
    loop->ArmEvery(tick, std::chrono::milliseconds(30));
    ASSERT_TRUE(loop->Run());
    EXPECT_EQ(order, "ELETTT");  // after the one-shots, only the period
    EXPECT_FALSE(loop->Armed(early));
    EXPECT_TRUE(loop->Armed(tick));
}

TEST(EventLoop, WatchedInputAndTheSignalsOfStopAndReload) {
    auto loop = Loop();
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    std::string seen;
    loop->WatchInput(fds[0], [&] {
        char c = 0;
        if (read(fds[0], &c, 1) == 1) seen += c;
        raise(SIGHUP);
    });
    loop->OnReload([&] {
        seen += "+reload";
        raise(SIGTERM);
    });
    loop->OnStop([&](const char* what) {
        seen += std::string("+") + what;
        loop->Quit();
    });
    ASSERT_EQ(write(fds[1], "x", 1), 1);
    ASSERT_TRUE(loop->Run());
    EXPECT_EQ(seen, "x+reload+SIGTERM");
    close(fds[0]);
    close(fds[1]);
}

}  // namespace
}  // namespace conv::service
