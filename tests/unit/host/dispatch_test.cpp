#include <gtest/gtest.h>

#include <ranges>

#include "host_bench.h"

namespace conv {
namespace {

using test::Bytes;
using test::Hex;
using test::Main;
using Lines = std::vector<std::string>;

class Dispatch : public test::HostBench {};

TEST_F(Dispatch, SilenceAndLineErrors) {
    port.QueueSilence();
    EXPECT_TRUE(Tick().empty());
    port.QueueLineError({0xD4});
    EXPECT_TRUE(Tick().empty());
    EXPECT_EQ(NewLines(), Lines{"Ошибка связи"});
    EXPECT_EQ(link.RxCount, -1);
}

TEST_F(Dispatch, TwoBytesInOneTickAreRejectedOnceAndNeitherRuns) {
    port.QueueRead({0xC5, 0xA3});
    const std::vector<Bytes> writes = Tick();
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0], Hex("C0"));
    EXPECT_EQ(NewLines(), Lines{"1  c0 "});  // the request bytes are not dumped
    EXPECT_EQ(link.SelectedChannel, 0);
    EXPECT_EQ(link.SelectedGroup, 0);
}

TEST_F(Dispatch, EveryRequestIsAnsweredInitialisingUntilTheFirstCycle) {
    table.FirstCycleDone = 0;
    for (uint8_t request : {0x07, 0xC3, 0xD4, 0x25, 0x00}) {
        EXPECT_EQ(Ask(request), Hex("FE"));
    }
    EXPECT_EQ(link.SelectedChannel, 0);
    NewLines();
    Ask(0x07);
    EXPECT_EQ(NewLines(), (Lines{"1  7 ", "Идет инициализация", "1  fe "}));

    // Two bytes in one tick are refused as such, initialising or not.
    port.QueueRead({0xC5, 0x07});
    const std::vector<Bytes> writes = Tick();
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0], Hex("C0"));
    EXPECT_EQ(NewLines(), Lines{"1  c0 "});
}

TEST_F(Dispatch, MeaninglessBytesAreRejectedAndUnservedSubCommandsRefused) {
    for (uint8_t request : {0x00, 0x01, 0x12, 0x15, 0x7F, 0x70, 0x9F, 0xE0, 0xF5, 0xFF}) {
        EXPECT_EQ(Ask(request), Hex("C0")) << int{request};
    }
    for (uint8_t request : {0xD0, 0xD1, 0xD9, 0xDA}) {
        EXPECT_EQ(Ask(request), Hex("0C")) << int{request};
    }
    NewLines();
    Ask(0xD9);
    EXPECT_EQ(NewLines(), (Lines{"1  d9 ", "1  c "}));
}

TEST_F(Dispatch, IdentificationAndLinkTests) {
    EXPECT_EQ(Ask(0x07), Hex("00 0A 06 3C 30"));
    EXPECT_EQ(NewLines(), (Lines{"1  7 ", "5  0 a 6 3c 30 "}));
    EXPECT_EQ(AskAll({0x10, 0x14}), Hex("00 55 00 E0"));
    table.GaugeLinkOk = 0;
    EXPECT_EQ(AskAll({0x10, 0x14}), Hex("04 04"));
}

TEST_F(Dispatch, SelectionCommandsStoreAndConfirm) {
    EXPECT_EQ(Ask(0xA5), Hex("00"));
    EXPECT_EQ(link.SelectedGroup, 5);
    EXPECT_EQ(NewLines(), (Lines{"1  a5 ", "Группа установлена", "1  0 "}));
    EXPECT_EQ(Ask(0xCF), Hex("00"));
    EXPECT_EQ(link.SelectedChannel, 15);
    EXPECT_EQ(NewLines(), (Lines{"1  cf ", "Канал установлена", "1  0 "}));
    // Selecting an address that no tank has still succeeds; the data command then finds none.
    EXPECT_EQ(AskAll({0xC0, 0xD4}), Hex("00 FF"));
}

TEST_F(Dispatch, OneFourCommandsSelectTheirChannelForLaterBlockCommands) {
    Tank(2).OnChannel(5).Value(Main::Level, 1.0f);
    Tank(1).OnChannel(7).Kind(1);
    for (uint8_t request : {0x25, 0x37, 0x4A, 0x5B, 0x6C, 0x8D, 0xBE}) {
        Ask(request);
        EXPECT_EQ(link.SelectedChannel, request & 0x0F) << int{request};
    }
    EXPECT_EQ(AskAll({0x25, 0xD4}).size(), 5u + 56u);
    EXPECT_EQ(AskAll({0x27, 0xD4}), Hex("FF FF"));  // 1.4 refuses the type, so does 0xD4
}

TEST_F(Dispatch, LookupServesTheLowestNumberedConfiguredTank) {
    Tank(9).OnChannel(3).Value(Main::Level, 99.0f);
    Tank(4).OnChannel(3).Value(Main::Level, 44.0f);
    table.Tank(2).ChannelAddress = 3;  // not configured
    EXPECT_EQ(Ask(0x23), Hex("00 2C 00 00 2C"));
}

// Per-tank 2.x commands and whether their "no such tank" answer is dumped.
constexpr std::pair<uint8_t, bool> kTankCommands[] = {
    {0xD2, false}, {0xD3, true}, {0xD4, true},  {0xD5, false}, {0xD6, false}, {0xD7, true},
    {0xD8, true},  {0xDB, true}, {0xDC, false}, {0xDE, true},  {0xDF, true},
};

std::string RequestDump(uint8_t request) {
    return FormatDump(&request, 1);
}

TEST_F(Dispatch, NoTankAnswersNoDataDumpedOrNot) {
    Ask(0xC6);
    NewLines();
    for (auto [command, dumped] : kTankCommands) {
        EXPECT_EQ(Ask(command), Hex("FF"));
        Lines expected{RequestDump(command)};
        if (dumped) expected.push_back("1  ff ");
        EXPECT_EQ(NewLines(), expected) << int{command};
    }
    for (uint8_t command : {0x26, 0x36, 0x46, 0x56, 0x66, 0x86, 0xB6}) {
        EXPECT_EQ(Ask(command), Hex("FF"));
        EXPECT_EQ(NewLines(), Lines{RequestDump(command)}) << int{command};
    }
}

TEST_F(Dispatch, LinkAndGaugeErrorsAnswerBeforeTheTypeIsLookedAt) {
    Tank(1).OnChannel(6).Kind(0);
    Ask(0xC6);
    for (const uint8_t command : kTankCommands | std::views::keys) {
        Tank(1).Link(kLinkFaulty).GaugeError(0);
        EXPECT_EQ(Ask(command), Hex("04")) << int{command};
        Tank(1).Link(kLinkSilent);
        // Temperature-point heights are still served from a silent gauge.
        const Bytes silent = Ask(command);
        if (command == 0xD3) {
            EXPECT_EQ(silent.size(), 20u);
        } else {
            EXPECT_EQ(silent, Hex("04")) << int{command};
        }
        Tank(1).Link(kLinkGood).GaugeError(0x96);
        EXPECT_EQ(Ask(command), Hex("FF")) << int{command};
        Tank(1).GaugeError(0x91);
        EXPECT_EQ(Ask(command), Hex("04")) << int{command};
        NewLines();
        Ask(command);
        EXPECT_EQ(NewLines(), (Lines{RequestDump(command), "1  4 "}));
    }
}

// A tank the gauge does not answer for is reported as such even when it also carries a gauge
// error or is of a type the command does not serve: the link check comes first. Only the
// temperature-point heights (0xD3) look past a silent gauge, and then make the later checks.
struct CheckOrderCase {
    const char* what;
    int32_t linkState;
    int32_t gaugeError;
    int tankType;
    uint8_t reply20;  // the 2.x data commands but 0xD3
    uint8_t replyD3;
    uint8_t reply14;
};

TEST_F(Dispatch, TheLinkIsCheckedBeforeTheGaugeErrorAndTheType) {
    const CheckOrderCase cases[] = {
        {"faulty answers with a gauge error", kLinkFaulty, 0x96, 0, 0x04, 0x04, 0x06},
        {"faulty answers from a pressure tank", kLinkFaulty, 0, 1, 0x04, 0x04, 0x06},
        {"silent gauge with a gauge error", kLinkSilent, 0x96, 0, 0x04, 0xFF, 0x06},
        {"silent gauge of a pressure tank", kLinkSilent, 0, 1, 0x04, 0xFF, 0x06},
        {"gauge error of a pressure tank", kLinkGood, 0x91, 1, 0x04, 0x04, 0xFF},
    };
    Tank(1).OnChannel(6);
    for (const CheckOrderCase& c : cases) {
        SCOPED_TRACE(c.what);
        Tank(1).Link(c.linkState).GaugeError(c.gaugeError).Kind(c.tankType);
        Ask(0xC6);
        for (const uint8_t command : kTankCommands | std::views::keys) {
            const uint8_t expected = command == 0xD3 ? c.replyD3 : c.reply20;
            EXPECT_EQ(Ask(command), Bytes{expected}) << std::hex << int{command};
        }
        for (uint8_t command : {0x26, 0x36, 0x46, 0x56, 0x66, 0x86, 0xB6}) {
            EXPECT_EQ(Ask(command), Bytes{c.reply14}) << std::hex << int{command};
        }
    }
}

TEST_F(Dispatch, NothingIsLoggedWithTheLogOffButRepliesGoOut) {
    log.LogEnabled = 0;
    EXPECT_EQ(Ask(0xA1), Hex("00"));
    port.QueueLineError();
    Tick();
    EXPECT_TRUE(NewLines().empty());
}

}  // namespace
}  // namespace conv
