#include "log/operation_log.h"

#include <gtest/gtest.h>

namespace conv {
namespace {

TEST(OperationLog, DumpIsTheLengthThenLowerCaseHexWithoutLeadingZeros) {
    const uint8_t frame[] = {0x50, 0x03, 0x00, 0x0F, 0x10, 0xFF};
    EXPECT_EQ(FormatDump(frame, 6), "6  50 3 0 f 10 ff ");
    EXPECT_EQ(FormatDump(frame, 0), "0  ");
    EXPECT_EQ(FormatDump(frame, -1), "-1  ");
    // At most 181 bytes are shown, and the full length.
    const std::vector<uint8_t> big(200, 0xC5);
    std::string shown = "200  ";
    for (int i = 0; i < 181; ++i) shown += "c5 ";
    EXPECT_EQ(FormatDump(big.data(), 200), shown);
}

TEST(OperationLog, APaneStartsOverRatherThanHoldMoreThan200Lines) {
    MemoryPane left, right;
    OperationLog log(left, right);
    log.LogEnabled = 2;  // any value but 0 logs
    for (int i = 0; i < 199; ++i) log.LogModbus("x");
    EXPECT_EQ(left.LineCount(), 200);  // with the empty line a fresh pane holds
    const uint8_t b = 7;
    log.DumpModbus(&b, 1);
    EXPECT_EQ(left.Lines(), std::vector<std::string>{"1  7 "});
    log.LogVelt("b");
    log.DumpVelt(&b, 1);
    EXPECT_EQ(right.Lines(), (std::vector<std::string>{"", "b", "1  7 "}));
    log.LogEnabled = 0;
    log.LogModbus("a");
    log.LogVelt("a");
    log.DumpVelt(&b, 1);
    EXPECT_EQ(left.LineCount(), 1);
    EXPECT_EQ(right.LineCount(), 3);
}

}  // namespace
}  // namespace conv
