// The service's loop on Linux, in-process: deadlines already past run in their order, a handler
// that re-arms for a time past runs again only at the next turn, a period keeps going, input on a
// watched descriptor is seen, and the signals systemd sends reach the stop and reload handlers.
#include "service/event_loop.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

namespace conv::service {
namespace {

TEST(EventLoop, TimersInputAndSignals) {
    std::string error;
    const std::unique_ptr<EventLoop> loop = MakeEventLoop(error);
    ASSERT_TRUE(loop) << error;
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    std::string seen;
    const auto late = loop->AddTimer([&] { seen += 'L'; });
    EventLoop::TimerId early = 0;
    early = loop->AddTimer([&] {
        seen += 'E';
        if (seen == "E") loop->ArmAt(early, Clock::now() - std::chrono::seconds(1));
    });
    EventLoop::TimerId tick = 0;
    tick = loop->AddTimer([&] {
        if ((seen += 'T') != "ELETT") return;
        loop->Disarm(tick);  // the period has shown itself; the rest goes without it
        ASSERT_EQ(write(fds[1], "x", 1), 1);
    });
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
    const auto giveUp = loop->AddTimer([&] { loop->Quit(); });  // a loop gone wrong ends too
    loop->ArmAt(giveUp, Clock::now() + std::chrono::seconds(10));
    loop->ArmAt(late, Clock::now() - std::chrono::milliseconds(1));
    loop->ArmAt(early, Clock::now() - std::chrono::milliseconds(2));
    loop->ArmEvery(tick, std::chrono::milliseconds(30));
    ASSERT_TRUE(loop->Run());
    EXPECT_EQ(seen, "ELETTx+reload+SIGTERM");
    EXPECT_FALSE(loop->Armed(early));
    close(fds[0]);
    close(fds[1]);
}

}  // namespace
}  // namespace conv::service
