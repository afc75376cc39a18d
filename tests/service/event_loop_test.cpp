// The service's loop on Linux, in-process: deadlines already past run in their order, and a
// handler that re-arms for a time past runs again only at the next turn (no handler holds the
// loop). The signals systemd sends, periods and watched input are the service's own tests' to
// see, in tick and fast mode.
#include "service/event_loop.h"

#include <gtest/gtest.h>

namespace conv::service {
namespace {

TEST(EventLoop, PastDeadlinesInTurn) {
    std::string error;
    const std::unique_ptr<EventLoop> loop = MakeEventLoop(error);
    ASSERT_TRUE(loop) << error;
    std::string seen;
    const auto late = loop->AddTimer([&] { seen += 'L'; });
    EventLoop::TimerId early = 0;
    early = loop->AddTimer([&] {
        seen += 'E';
        if (seen == "E") loop->ArmAt(early, Clock::now() - std::chrono::seconds(1));
        if (seen == "ELE") loop->Quit();
    });
    const auto giveUp = loop->AddTimer([&] { loop->Quit(); });  // a loop gone wrong ends too
    loop->ArmAt(giveUp, Clock::now() + std::chrono::seconds(10));
    loop->ArmAt(late, Clock::now() - std::chrono::milliseconds(1));
    loop->ArmAt(early, Clock::now() - std::chrono::milliseconds(2));
    ASSERT_TRUE(loop->Run());
    EXPECT_EQ(seen, "ELE");
}

}  // namespace
}  // namespace conv::service
