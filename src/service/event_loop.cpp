#include "service/event_loop.h"

#include <algorithm>

namespace conv::service {

EventLoop::TimerId EventLoop::AddTimer(Handler onDue) {
    timers_.push_back({std::move(onDue)});
    return timers_.size() - 1;
}

void EventLoop::ArmAt(TimerId id, Clock::time_point due) {
    timers_[id].armed = true;
    timers_[id].due = due;
    timers_[id].period = {};
}

void EventLoop::ArmEvery(TimerId id, Clock::duration period) {
    timers_[id].armed = true;
    timers_[id].due = Clock::now() + period;
    timers_[id].period = period;
}

void EventLoop::Disarm(TimerId id) {
    timers_[id].armed = false;
}

bool EventLoop::Armed(TimerId id) const {
    return timers_[id].armed;
}

std::optional<Clock::time_point> EventLoop::NextDue() const {
    std::optional<Clock::time_point> next;
    for (const Timer& t : timers_) {
        if (t.armed && (!next || t.due < *next)) next = t.due;
    }
    return next;
}

void EventLoop::RunDueTimers(Clock::time_point now) {
    // Those due at the start of this turn, earliest first; a handler that arms a timer for a
    // time already past has it run at the next turn, so no handler can hold the loop here.
    std::vector<std::pair<Clock::time_point, TimerId>> due;
    for (TimerId id = 0; id < timers_.size(); ++id) {
        if (timers_[id].armed && timers_[id].due <= now) due.emplace_back(timers_[id].due, id);
    }
    std::sort(due.begin(), due.end());
    for (const auto& [when, id] : due) {
        Timer& t = timers_[id];
        if (quit_ || !t.armed || t.due != when) continue;  // disarmed or re-armed meanwhile
        if (t.period == Clock::duration::zero()) {
            t.armed = false;
        } else {
            while (t.due <= now) t.due += t.period;
        }
        t.onDue();
    }
}

}  // namespace conv::service
