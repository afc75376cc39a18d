// The line-error decision of both backends, on the inputs each platform gives: the Linux driver's
// error counters before and after a read, and the Windows error flags of one ClearCommError call.
#include "serial/line_errors.h"

#include <gtest/gtest.h>

namespace conv {
namespace {

constexpr LineErrorCounters kBefore{
    .frame = 3, .overrun = 1, .parity = 7, .brk = 0, .bufOverrun = 2};

LineErrorCounters Counted(uint32_t LineErrorCounters::*field, uint32_t more = 1) {
    LineErrorCounters c = kBefore;
    c.*field += more;
    return c;
}

struct CounterCase {
    const char* what;
    LineErrorCounters before;
    LineErrorCounters now;
    int count;
    int result;
};

TEST(LineErrors, CountersThatMovedSinceTheLastReadMakeItALineError) {
    LineErrorCounters parityAndFrame = Counted(&LineErrorCounters::parity);
    parityAndFrame.frame += 1;
    LineErrorCounters nearTheTop = kBefore;
    nearTheTop.overrun = 0xFFFFFFFF;
    const CounterCase cases[] = {
        {"nothing counted", kBefore, kBefore, 5, 5},
        {"nothing counted, nothing waiting", kBefore, kBefore, 0, 0},
        {"parity alone", kBefore, Counted(&LineErrorCounters::parity, 4), 5, 5},
        {"framing", kBefore, Counted(&LineErrorCounters::frame), 5, -1},
        {"overrun", kBefore, Counted(&LineErrorCounters::overrun), 5, -1},
        {"break", kBefore, Counted(&LineErrorCounters::brk), 5, -1},
        {"receive buffer overrun", kBefore, Counted(&LineErrorCounters::bufOverrun), 5, -1},
        {"framing with nothing waiting", kBefore, Counted(&LineErrorCounters::frame), 0, -1},
        {"parity together with framing", kBefore, parityAndFrame, 5, -1},
        {"a counter that wrapped", nearTheTop, kBefore, 5, -1},
    };
    for (const CounterCase& c : cases) {
        EXPECT_EQ(ReadResultFromCounters(c.before, c.now, c.count), c.result) << c.what;
    }
}

struct FlagCase {
    uint32_t flags;
    int count;
    int result;
};

TEST(LineErrors, AnyErrorFlagButParityAloneMakesItALineError) {
    const FlagCase cases[] = {
        {0, 5, 5},
        {0, 0, 0},
        {kCommErrorRxParity, 5, 5},
        {kCommErrorRxParity, 0, 0},
        {kCommErrorRxOver, 5, -1},
        {kCommErrorOverrun, 5, -1},
        {kCommErrorFrame, 5, -1},
        {kCommErrorBreak, 5, -1},
        {kCommErrorFrame, 0, -1},
        {kCommErrorRxParity | kCommErrorFrame, 5, -1},
        {kCommErrorRxParity | kCommErrorOverrun, 5, -1},
        {0x0100, 5, -1},  // a flag outside the receive errors counts as well
    };
    for (const FlagCase& c : cases) {
        EXPECT_EQ(ReadResultFromErrorFlags(c.flags, c.count), c.result)
            << "flags " << c.flags << ", " << c.count << " bytes";
    }
}

}  // namespace
}  // namespace conv
