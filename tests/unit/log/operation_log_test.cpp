#include "log/operation_log.h"

#include <gtest/gtest.h>

namespace conv {
namespace {

TEST(Dump, LengthThenLowerCaseHexWithoutLeadingZeros) {
    const uint8_t frame[] = {0x50, 0x03, 0x00, 0x0A};
    EXPECT_EQ(FormatDump(frame, 4), "4  50 3 0 a ");
    const uint8_t zero = 0;
    EXPECT_EQ(FormatDump(&zero, 1), "1  0 ");
    EXPECT_EQ(FormatDump(frame, 0), "0  ");
    EXPECT_EQ(FormatDump(frame, -1), "-1  ");
}

TEST(Dump, ShowsAtMost181BytesButTheFullLength) {
    uint8_t big[200];
    for (int i = 0; i < 200; ++i) big[i] = 0xC5;
    const std::string line = FormatDump(big, 200);
    EXPECT_EQ(line.rfind("200  ", 0), 0u);
    EXPECT_EQ(line.size(), 5u + 181u * 3u);
}

TEST(PaneRule, ClearedBeforeTheLineThatWouldMake201) {
    MemoryPane left, right;
    OperationLog log(left, right);
    log.LogEnabled = 1;
    for (int i = 0; i < 198; ++i) log.LogModbus("x");
    EXPECT_EQ(left.LineCount(), 199);  // the initial empty line and 198
    log.LogModbus("two hundredth");
    EXPECT_EQ(left.LineCount(), 200);
    log.LogModbus("fresh");
    ASSERT_EQ(left.LineCount(), 1);
    EXPECT_EQ(left.Lines()[0], "fresh");
    EXPECT_EQ(right.LineCount(), 1);  // the other pane is untouched
}

TEST(PaneRule, FlagOffChangesNoPane) {
    MemoryPane left, right;
    OperationLog log(left, right);
    log.LogEnabled = 0;
    const uint8_t b = 7;
    log.LogModbus("a");
    log.LogVelt("b");
    log.DumpModbus(&b, 1);
    log.DumpVelt(&b, 1);
    EXPECT_EQ(left.LineCount(), 1);
    EXPECT_EQ(right.LineCount(), 1);
    log.LogEnabled = 2;  // any value but 0 logs
    log.DumpVelt(&b, 1);
    EXPECT_EQ(right.Lines().back(), "1  7 ");
}

}  // namespace
}  // namespace conv
