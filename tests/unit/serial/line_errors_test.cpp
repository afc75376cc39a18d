// The line-error decision of both backends, on the inputs each platform gives: the Linux driver's
// error counters before and after a read, and the Windows error flags of one ClearCommError call.
#include "serial/line_errors.h"

#include <gtest/gtest.h>

namespace conv {
namespace {

TEST(LineErrors, CountersThatMovedSinceTheLastReadMakeItALineError) {
    constexpr LineErrorCounters kBefore{
        .frame = 3, .overrun = 1, .parity = 7, .brk = 0, .bufOverrun = 2};
    const auto counted = [&](uint32_t LineErrorCounters::*field, uint32_t more = 1) {
        LineErrorCounters c = kBefore;
        c.*field += more;
        return c;
    };
    LineErrorCounters parityAndFrame = counted(&LineErrorCounters::parity, 4);
    parityAndFrame.frame += 1;
    // clang-format off
    const struct { const char* what; LineErrorCounters now; int count, result; } rows[] = {
        {"nothing counted", kBefore, 5, 5},
        {"parity alone", counted(&LineErrorCounters::parity, 4), 5, 5},
        {"framing with nothing waiting", counted(&LineErrorCounters::frame), 0, -1},
        {"break", counted(&LineErrorCounters::brk), 5, -1},
        {"receive buffer overrun", counted(&LineErrorCounters::bufOverrun), 5, -1},
        {"parity together with framing", parityAndFrame, 5, -1},
        {"a counter that wrapped", counted(&LineErrorCounters::overrun, 0xFFFFFFFF), 5, -1}};
    // clang-format on
    for (const auto& r : rows) {
        EXPECT_EQ(ReadResultFromCounters(kBefore, r.now, r.count), r.result) << r.what;
    }
}

TEST(LineErrors, AnyErrorFlagButParityAloneMakesItALineError) {
    // clang-format off
    const struct { uint32_t flags; int count, result; } rows[] = {
        {0, 5, 5}, {kCommErrorRxParity, 0, 0}, {kCommErrorRxOver, 5, -1}, {kCommErrorOverrun, 5, -1},
        {kCommErrorFrame, 0, -1}, {kCommErrorBreak, 5, -1},
        {kCommErrorRxParity | kCommErrorFrame, 5, -1},
        {0x0100, 5, -1}};  // a flag outside the receive errors counts as well
    // clang-format on
    for (const auto& r : rows) {
        EXPECT_EQ(ReadResultFromErrorFlags(r.flags, r.count), r.result)
            << r.flags << ", " << r.count;
    }
}

}  // namespace
}  // namespace conv
