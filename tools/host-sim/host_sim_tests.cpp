// The host simulator's own reading of the replies, checked against worked examples of the host
// protocol. The simulator is the yardstick for the converter, so its decoder is tested on its own.
#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "host_session.h"
#include "poller.h"
#include "reply_decode.h"
#include "report.h"

namespace conv::hostsim {
namespace {

std::vector<uint8_t> Bytes(const std::string& hex) {
    std::vector<uint8_t> out;
    std::string digits;
    for (char c : hex) {
        if (std::isxdigit(static_cast<unsigned char>(c))) digits += c;
    }
    for (size_t i = 0; i + 1 < digits.size(); i += 2) {
        out.push_back(static_cast<uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
    }
    return out;
}

// Appends the XOR checksum over everything before it.
std::vector<uint8_t> Sealed(std::vector<uint8_t> body) {
    body.push_back(Xor(body));
    return body;
}

std::vector<uint8_t> ParamBlock(const std::vector<std::vector<uint8_t>>& groups) {
    std::vector<uint8_t> b = {0x00};
    for (const auto& g : groups) b.insert(b.end(), g.begin(), g.end());
    b.resize(55, 0);
    return Sealed(b);
}

const Value* Find(const Reply& r, const std::string& name) {
    for (const Value& v : r.values) {
        if (v.name == name) return &v;
    }
    return nullptr;
}

std::vector<std::string> Codes(const Reply& r) {
    std::vector<std::string> out;
    for (const Problem& p : r.problems) out.emplace_back(p.code);
    return out;
}

// The main-parameter reply of a level gauge: 1234.56 mm, 5000 l, 12.3 mm water, 15.27 °C,
// 0.8512 g/cm³, 4256 kg, all states 0.
const std::vector<uint8_t> kMainExample = Bytes(
    "00 00003a300000 000050c30000 00007b000000 000099000000 000040210000 000040a60000"
    "000000000000 000000000000 000000000000 fc");

TEST(MainParameters, WorkedExampleDecodesToScaledValues) {
    ASSERT_EQ(kMainExample.size(), 56u);
    const Reply r = DecodeReply(0xD4, kMainExample, -1);
    ASSERT_TRUE(r.WellFormed()) << r.problems.front().text;
    struct Expect {
        const char* name;
        int64_t raw;
        const char* scaled;
    };
    for (const Expect& e : {Expect{"level", 12346, "1234.6"}, Expect{"volume", 50000, "5000.0"},
                            Expect{"water", 123, "12.3"}, Expect{"temp", 153, "15.3"},
                            Expect{"density", 8512, "851.2"}, Expect{"mass", 42560, "4256.0"}}) {
        const Value* v = Find(r, e.name);
        ASSERT_NE(v, nullptr) << e.name;
        EXPECT_EQ(v->raw, e.raw) << e.name;
        EXPECT_EQ(FormatScaled(*v), e.scaled) << e.name;
        EXPECT_EQ(v->st1, 0);
    }
}

TEST(MainParameters, NegativeTemperatureAndStatusCodesSurvive) {
    // -5.3 °C is sent as -53; a water level with flag 0x01 carries the pair (0, 0x4D).
    const Reply r =
        DecodeReply(0xD4,
                    ParamBlock({Bytes("000000000000"), Bytes("000000000000"), Bytes("004d7b000000"),
                                Bytes("0000cbffffff"), Bytes("010000000000")}),
                    -1);
    ASSERT_TRUE(r.WellFormed());
    EXPECT_EQ(Find(r, "temp")->raw, -53);
    EXPECT_EQ(FormatScaled(*Find(r, "temp")), "-5.3");
    EXPECT_EQ(StatusCodesText(*Find(r, "water")), "st 00/4d");
    EXPECT_EQ(StatusCodesText(*Find(r, "density")), "not fitted");
    EXPECT_EQ(StatusCodesText(*Find(r, "level")), "");
}

TEST(Framing, DamagedRepliesAreReportedNotDecoded) {
    auto flipped = kMainExample;
    flipped[10] ^= 0x01;
    const Reply bad = DecodeReply(0xD4, flipped, -1);
    EXPECT_EQ(Codes(bad), std::vector<std::string>{"checksum"});
    EXPECT_TRUE(bad.values.empty());

    const std::vector<uint8_t> cut(kMainExample.begin(), kMainExample.begin() + 30);
    EXPECT_EQ(Codes(DecodeReply(0xD4, cut, -1)), std::vector<std::string>{"short"});

    auto longer = kMainExample;
    longer.push_back(0xC0);
    const Reply extra = DecodeReply(0xD4, longer, -1);
    EXPECT_EQ(Codes(extra), std::vector<std::string>{"extra"});
    EXPECT_EQ(extra.values.size(), 6u);  // the reply itself was whole

    EXPECT_EQ(Codes(DecodeReply(0xD4, {}, -1)), std::vector<std::string>{"noreply"});
}

TEST(Framing, StatusBytesAreCheckedAgainstTheCommand) {
    struct Case {
        uint8_t cmd;
        uint8_t status;
        bool possible;
    };
    for (const Case& c :
         {Case{0xD4, 0xFF, true}, Case{0xD4, 0x04, true}, Case{0xD4, 0x0C, false},
          Case{0xD4, 0x06, false}, Case{0xD5, 0x0C, true}, Case{0xD6, 0x0C, true},
          Case{0xD3, 0x0C, true}, Case{0x25, 0x06, true}, Case{0x25, 0x0C, false},
          Case{0xC3, 0xFF, false}, Case{0xDD, 0x04, false}, Case{0x10, 0x04, true},
          Case{0xD9, 0x0C, true}, Case{0xD9, 0x00, false}, Case{0x12, 0xC0, true},
          Case{0x12, 0x00, false}, Case{0xA3, 0xFE, true}, Case{0x07, 0xC0, true}}) {
        EXPECT_EQ(StatusPossible(c.cmd, c.status), c.possible)
            << std::hex << int(c.cmd) << " " << int(c.status);
        const std::vector<uint8_t> one = {c.status};
        const Reply r = DecodeReply(c.cmd, one, 0);
        if (c.status != 0 || ExpectedLength(c.cmd, 0) == 1) {
            EXPECT_EQ(r.WellFormed(), c.possible) << std::hex << int(c.cmd) << " " << int(c.status);
        }
    }
}

TEST(Framing, ReplyLengthsFollowTheCommand) {
    struct Case {
        uint8_t cmd;
        size_t length;
    };
    for (const Case& c :
         {Case{0x07, 5},  Case{0x10, 2},  Case{0x14, 2},  Case{0x11, 18}, Case{0xDD, 18},
          Case{0xD2, 6},  Case{0xDC, 10}, Case{0xD4, 56}, Case{0xD5, 56}, Case{0xD6, 56},
          Case{0xD7, 56}, Case{0xDB, 56}, Case{0xDF, 56}, Case{0xD3, 20}, Case{0xD8, 20},
          Case{0xDE, 20}, Case{0x2F, 5},  Case{0x50, 5},  Case{0x87, 5},  Case{0xB1, 5},
          Case{0x33, 6},  Case{0x4A, 2},  Case{0x6E, 2},  Case{0xA5, 1},  Case{0xC9, 1},
          Case{0xD0, 1},  Case{0x00, 1},  Case{0xFF, 1}}) {
        EXPECT_EQ(ExpectedLength(c.cmd, kStatusOk), c.length) << std::hex << int(c.cmd);
        EXPECT_EQ(ExpectedLength(c.cmd, kStatusNoTank), 1u);
    }
}

TEST(FixedReplies, IdentityAndLinkChecksMustMatchExactly) {
    EXPECT_TRUE(DecodeReply(0x07, Bytes("00 0a 06 3c 30"), -1).WellFormed());
    // Checksum right, content wrong: still malformed.
    EXPECT_EQ(Codes(DecodeReply(0x07, Sealed(Bytes("00 0a 07 3c")), -1)),
              std::vector<std::string>{"content"});
    EXPECT_TRUE(DecodeReply(0x10, Bytes("00 55"), -1).WellFormed());
    EXPECT_TRUE(DecodeReply(0x14, Bytes("00 e0"), -1).WellFormed());
    EXPECT_FALSE(DecodeReply(0x14, Bytes("00 55"), -1).WellFormed());
}

TEST(Configuration, SystemTableAndChannelLayouts) {
    const Reply empty = DecodeReply(0xDD, std::vector<uint8_t>(18, 0), -1);
    ASSERT_TRUE(empty.WellFormed());
    ASSERT_EQ(empty.values.size(), 16u);
    EXPECT_EQ(empty.values[15].channel, 15);

    std::vector<uint8_t> table(17, 0);
    table[1 + 3] = 0x80;
    table[1 + 5] = 0x02;
    const Reply dd = DecodeReply(0xDD, Sealed(table), -1);
    ASSERT_TRUE(dd.WellFormed());
    EXPECT_EQ(dd.values[3].raw, 0x80);
    EXPECT_EQ(dd.values[5].raw, 0x02);

    // A pressure-sensor tank with eight sensors; a gas-sensor tank with five.
    const Reply d2 = DecodeReply(0xD2, Bytes("00 80 00 00 08 88"), 3);
    ASSERT_TRUE(d2.WellFormed());
    EXPECT_EQ(Find(d2, "press")->raw, 8);
    const Reply dc = DecodeReply(0xDC, Bytes("00 80 01 00 00 00 05 00 00 84"), 3);
    ASSERT_TRUE(dc.WellFormed());
    EXPECT_EQ(Find(dc, "flags")->raw, 0x180);
    EXPECT_EQ(FormatScaled(*Find(dc, "flags")), "0x0180");
    EXPECT_EQ(Find(dc, "gas")->raw, 5);
    EXPECT_FALSE(DecodeReply(0xDC, Sealed(Bytes("00 80 01 00 00 00 05 01 00")), 3).WellFormed());
}

TEST(PointData, DensityProbeBlockNamesTheSelectedProbe) {
    // Probe 3: 851.2 kg/m³, 15.3 °C, height 1500.3 mm (0x3A9B in the low half of group 4).
    const auto block =
        ParamBlock({Bytes("000040210000"), Bytes("000099000000"), Bytes("010000000000"),
                    Bytes("00009b3a0000"), Bytes("010000000000")});
    const Reply r = DecodeReply(0xD5, block, 2);
    ASSERT_TRUE(r.WellFormed()) << r.problems.front().text;
    EXPECT_EQ(Find(r, "probe3_density")->raw, 8512);
    EXPECT_EQ(Find(r, "probe3_temp")->raw, 153);
    EXPECT_EQ(FormatScaled(*Find(r, "probe3_height")), "1500.3");

    // Group 3 must be the empty (1, 0, 0): a block shifted by one group is caught.
    const auto shifted =
        ParamBlock({Bytes("000040210000"), Bytes("000099000000"), Bytes("000000000000"),
                    Bytes("00009b3a0000"), Bytes("010000000000")});
    EXPECT_EQ(Codes(DecodeReply(0xD5, shifted, 2)), std::vector<std::string>{"content"});
    // There is no sixth probe: data under block 5 means host and converter disagree.
    EXPECT_EQ(Codes(DecodeReply(0xD5, block, 5)), std::vector<std::string>{"content"});
    // The status codes of the height group are fixed.
    const auto flagged =
        ParamBlock({Bytes("000040210000"), Bytes("000099000000"), Bytes("010000000000"),
                    Bytes("00019b3a0000"), Bytes("010000000000")});
    EXPECT_EQ(Codes(DecodeReply(0xD5, flagged, 2)), std::vector<std::string>{"content"});
}

TEST(PointData, DensityProbeHeightIsTheWholeSignedValue) {
    const std::pair<const char*, const char*> cases[] = {
        {"000074110100", "7000.4"},  // 70004 tenths: beyond 16 bits
        {"0000fdffffff", "-0.3"},    // height 0, refinement -3
        {"0000ffff0000", "6553.5"},
    };
    for (const auto& [group4, height] : cases) {
        const auto block =
            ParamBlock({Bytes("000040210000"), Bytes("000099000000"), Bytes("010000000000"),
                        Bytes(group4), Bytes("010000000000")});
        const Reply r = DecodeReply(0xD5, block, 0);
        ASSERT_TRUE(r.WellFormed()) << group4 << ": " << r.problems.front().text;
        EXPECT_EQ(FormatScaled(*Find(r, "probe1_height")), height) << group4;
    }
}

TEST(PointData, LastTemperatureBlockHoldsThreePoints) {
    std::vector<std::vector<uint8_t>> groups = {Bytes("0000c8000000"), Bytes("0049c9000000"),
                                                Bytes("3800ca000000")};
    for (int g = 4; g <= 9; ++g) groups.push_back(Bytes("010000000000"));
    const Reply r = DecodeReply(0xD6, ParamBlock(groups), 2);
    ASSERT_TRUE(r.WellFormed()) << r.problems.front().text;
    ASSERT_EQ(r.values.size(), 3u);
    EXPECT_EQ(r.values[0].name, "t19");
    EXPECT_EQ(r.values[2].name, "t21");
    EXPECT_EQ(FormatScaled(r.values[1]), "20.1");
    EXPECT_EQ(StatusCodesText(r.values[1]), "st 00/49");
    EXPECT_EQ(StatusCodesText(r.values[2]), "st 38/00");

    const Reply first = DecodeReply(0xD6, ParamBlock(groups), 0);
    EXPECT_EQ(Codes(first), std::vector<std::string>{});  // block 0: nine points, no fixed groups
    EXPECT_EQ(first.values.size(), 9u);
    EXPECT_EQ(Codes(DecodeReply(0xD6, ParamBlock(groups), 3)), std::vector<std::string>{"content"});
}

TEST(PointData, CoordinateBlocks) {
    const Reply d3 =
        DecodeReply(0xD3, Sealed(Bytes("00 e8 03 d0 07 b8 0b 000000000000000000000000")), 2);
    ASSERT_TRUE(d3.WellFormed());
    ASSERT_EQ(d3.values.size(), 3u);
    EXPECT_EQ(d3.values[0].name, "t19_height");
    EXPECT_EQ(d3.values[2].raw, 3000);
    EXPECT_FALSE(
        DecodeReply(0xD3, Sealed(Bytes("00 e8 03 d0 07 b8 0b 010000000000000000000000")), 2)
            .WellFormed());

    const Reply d8 =
        DecodeReply(0xD8, Sealed(Bytes("00 dc 05 00 00 58 1b 00 00 00 00 0000000000000000")), -1);
    ASSERT_TRUE(d8.WellFormed());
    EXPECT_EQ(Find(d8, "probe1_coord")->raw, 1500);
    EXPECT_EQ(Find(d8, "probe3_coord")->raw, 7000);
}

TEST(Sensors, GasKindsAndAlarms) {
    const Reply de = DecodeReply(
        0xDE, Sealed(Bytes("00 01 00 02 32 02 38 02 01 02 00 20 00 20 00 20 00 20 00")), -1);
    ASSERT_TRUE(de.WellFormed()) << de.problems.front().text;
    EXPECT_EQ(Find(de, "gas1_kind")->raw, 1);
    EXPECT_EQ(Find(de, "gas2_state")->raw, 0x32);
    EXPECT_EQ(
        Codes(DecodeReply(
            0xDE, Sealed(Bytes("00 01 00 02 32 02 38 02 01 02 00 20 00 20 00 20 00 00 00")), -1)),
        std::vector<std::string>{"content"});

    std::vector<std::vector<uint8_t>> groups = {Bytes("000100000000"), Bytes("000201000000"),
                                                Bytes("380202000000"), Bytes("010100000000"),
                                                Bytes("000100000000")};
    for (int g = 6; g <= 9; ++g) groups.push_back(Bytes("010000000000"));
    const Reply df = DecodeReply(0xDF, ParamBlock(groups), -1);
    ASSERT_TRUE(df.WellFormed());
    EXPECT_EQ(Find(df, "gas3_alarm")->raw, 2);
    EXPECT_EQ(Find(df, "gas2_alarm")->st2, 2);
    // The second code of a gas group is the sensor kind, not a fault.
    EXPECT_EQ(StatusCodesText(*Find(df, "gas1_alarm")), "kind 1");
    EXPECT_EQ(StatusCodesText(*Find(df, "gas3_alarm")), "st 38, kind 2");
    EXPECT_EQ(StatusCodesText(*Find(df, "gas4_alarm")), "not fitted, kind 1");

    groups[1] = Bytes("00027b000000");  // 12.3 %
    const Reply db = DecodeReply(0xDB, ParamBlock(groups), -1);
    ASSERT_TRUE(db.WellFormed());
    EXPECT_EQ(FormatScaled(*Find(db, "gas2")), "12.3");
}

TEST(Protocol14, PackedValues) {
    const Reply level = DecodeReply(0x25, Bytes("00 39 30 06 0f"), -1);
    ASSERT_TRUE(level.WellFormed());
    EXPECT_EQ(Find(level, "level")->raw, 123456);
    EXPECT_EQ(FormatScaled(*Find(level, "level")), "12345.6");

    const Reply volume = DecodeReply(0x83, Bytes("00 f1 fb 95 9f"), -1);
    ASSERT_TRUE(volume.WellFormed());
    EXPECT_EQ(FormatScaled(*Find(volume, "volume")), "654321.5");

    const Reply density = DecodeReply(0x5A, Bytes("00 53 03 02 52"), -1);
    ASSERT_TRUE(density.WellFormed());
    EXPECT_EQ(FormatScaled(*Find(density, "density")), "851.2");

    // The tenths digit sits in four bits, but only 0..9 are digits.
    EXPECT_EQ(Codes(DecodeReply(0xB0, Sealed(Bytes("00 01 00 0a")), -1)),
              std::vector<std::string>{"content"});
    EXPECT_EQ(UnpackTenths14(0xFF, 0xFF, 0xF9), 10485759);  // w = 2^20 - 1
}

TEST(Protocol14, HalfDegreesAndWaterByte) {
    EXPECT_EQ(HalfDegrees14(0x28), 40);
    EXPECT_EQ(HalfDegrees14(0xA9), -41);
    EXPECT_EQ(HalfDegrees14(0x81), -1);
    EXPECT_EQ(HalfDegrees14(0x00), 0);

    const Reply temps = DecodeReply(0x31, Sealed(Bytes("00 28 29 a9 81")), -1);
    ASSERT_TRUE(temps.WellFormed());
    ASSERT_EQ(temps.values.size(), 4u);
    EXPECT_EQ(FormatScaled(temps.values[0]), "20.0");
    EXPECT_EQ(FormatScaled(temps.values[1]), "20.5");
    EXPECT_EQ(FormatScaled(temps.values[2]), "-20.5");
    EXPECT_EQ(FormatScaled(temps.values[3]), "-0.5");
    EXPECT_EQ(temps.values[3].name, "mean_temp");

    // Two-byte replies carry no checksum.
    const Reply water = DecodeReply(0x44, Bytes("00 2c"), -1);
    ASSERT_TRUE(water.WellFormed());
    EXPECT_EQ(Find(water, "water")->raw, 44);
    EXPECT_EQ(FormatScaled(*Find(DecodeReply(0x64, Bytes("00 81"), -1), "surface_temp")), "-0.5");
}

TEST(MachineOutput, LinesKeepTheirDocumentedShape) {
    Exchange ex;
    ex.channel = 5;
    ex.reply = DecodeReply(0xD4, kMainExample, 0);
    const auto lines = MachineLines(ex);
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(
        lines[0].rfind("REPLY ch=5 blk=0 cmd=d4 status=0 len=56 verdict=ok raw=0000003a3000", 0),
        0u);
    EXPECT_EQ(lines[1],
              "VAL ch=5 cmd=d4 grp=1 st1=0 st2=0 value=12346 blk=0 name=level scaled=1234.6 "
              "unit=mm");
    EXPECT_EQ(lines[5],
              "VAL ch=5 cmd=d4 grp=5 st1=0 st2=0 value=8512 blk=0 name=density scaled=851.2 "
              "unit=kg/m3");

    Exchange none;
    none.reply = DecodeReply(0xDD, {}, -1);
    EXPECT_EQ(MachineLines(none)[0],
              "REPLY ch=-1 blk=-1 cmd=dd status=none len=0 verdict=noreply raw=-");

    // Configuration bytes are reported under the channel they describe.
    Exchange cfg;
    std::vector<uint8_t> table(17, 0);
    table[1 + 7] = 0x81;
    cfg.reply = DecodeReply(0xDD, Sealed(table), -1);
    EXPECT_EQ(MachineLines(cfg)[8],
              "VAL ch=7 cmd=dd grp=7 st1=0 st2=0 value=129 blk=-1 name=cfg scaled=0x81 unit=-");
}

TEST(Polling, PlansFollowTheChannelType) {
    const auto level = ChannelPlan(5, 0, Flavour::V20);
    const std::vector<uint8_t> expected = {0xC5, 0xD2, 0xD4, 0xD7, 0xD8, 0xA0, 0xD5,
                                           0xD6, 0xD3, 0xA1, 0xD5, 0xD6, 0xD3, 0xA2,
                                           0xD5, 0xD6, 0xD3, 0xA3, 0xD5, 0xA4, 0xD5};
    EXPECT_EQ(level, expected);
    EXPECT_EQ(ChannelPlan(5, 0, Flavour::V22)[1], 0xDC);
    EXPECT_EQ(ChannelPlan(1, 1, Flavour::V20), (std::vector<uint8_t>{0xC1, 0xD2, 0xD7}));
    EXPECT_EQ(ChannelPlan(15, 2, Flavour::V22),
              (std::vector<uint8_t>{0xCF, 0xDC, 0xDB, 0xDE, 0xDF}));
    EXPECT_EQ(ChannelPlan(9, 3, Flavour::V20), (std::vector<uint8_t>{0xC9, 0xD2}));
    EXPECT_EQ(ChannelPlan(3, 0, Flavour::V14),
              (std::vector<uint8_t>{0x23, 0x33, 0x43, 0x53, 0x63, 0x83, 0xB3}));

    std::vector<uint8_t> table(16, 0);
    table[0] = 0x80;  // a level gauge on address 0 is still configured
    table[9] = 0x02;  // a gas-sensor channel whose gauge reports an error
    EXPECT_EQ(ChannelsToPoll(table, {}), (std::vector<int>{0, 9}));
    EXPECT_EQ(ChannelsToPoll(table, {4}), (std::vector<int>{4}));
    EXPECT_TRUE(ChannelsToPoll({}, {}).empty());
}

TEST(Polling, SelectionIsOnlyTrustedWhenTheConverterRanTheCommand) {
    const std::vector<uint8_t> ok = {0x00};
    const std::vector<uint8_t> rejected = {0xC0};
    const std::vector<uint8_t> starting = {0xFE};
    EXPECT_EQ(SelectionAfter(DecodeReply(0xC5, ok, -1), 2, 5), 5);
    EXPECT_EQ(SelectionAfter(DecodeReply(0xC5, rejected, -1), 2, 5), 2);
    EXPECT_EQ(SelectionAfter(DecodeReply(0xC5, starting, -1), 2, 5), 2);
    EXPECT_EQ(SelectionAfter(DecodeReply(0xC5, {}, -1), 2, 5), -1);
    // A 1.4 request moves the converter's channel even when it answers with an error.
    EXPECT_EQ(SelectionAfter(DecodeReply(0x27, std::vector<uint8_t>{0x06}, -1), 2, 7), 7);
    EXPECT_EQ(Channel14(0x27), 7);
    EXPECT_EQ(Channel14(0xD7), -1);
    EXPECT_EQ(Channel14(0xC7), -1);
}

}  // namespace
}  // namespace conv::hostsim
