// What the core does for the windows: the start-up reading of the settings file, the list of
// polled tanks, opening a line, the operator's boxes and the number formats of the data viewer.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "core/converter.h"
#include "core/line_modes.h"
#include "core/open_line.h"
#include "core/startup_settings.h"
#include "core/tank_list.h"
#include "core/viewer_formats.h"
#include "settings/text_codec.h"
#include "support/recording_boxes.h"
#include "unit/bench.h"

namespace conv::test {
namespace {

// The configured tanks as "number=address".
Lines Configured(const TankTable& table) {
    Lines out;
    for (int n = 1; n <= kTankCount; ++n) {
        const TankEntry& t = table.Tank(n);
        if (t.Configured) out.push_back(std::to_string(n) + "=" + std::to_string(t.ChannelAddress));
    }
    return out;
}

TEST(TankList, DashLeavesATankOutAndTheFirstValueThatIsNoNumberEndsTheList) {
    TankTable table;
    table.Tank(2).Configured = 1;
    table.Tank(7).Configured = 1;  // after the end of the list: left as it was
    table.Tank(7).ChannelAddress = 3;
    const IniDocument doc = IniDocument::Parse("[Резервуар]\n1=5\n2=-\n3= 12 \n4=x\n5=6\n");
    EXPECT_EQ(ReadTankList(doc, table), 2);
    EXPECT_EQ(Configured(table), (Lines{"1=5", "3=12", "7=3"}));
    EXPECT_EQ(table.Tank(2).ChannelAddress, 0);
    // Every tank up to the 64th is read; an absent key leaves the tank out.
    EXPECT_EQ(ReadTankList(IniDocument::Parse("[Резервуар]\n1=-\n64=9\n"), table), 1);
    EXPECT_EQ(Configured(table), Lines{"64=9"});
}

// The settings part of the start-up, from the file as `scratch` holds it: what the program took,
// and the boxes it showed.
Lines StartUp(const std::string& path, Lines& boxes) {
    MemoryPane left, right;
    Converter conv(left, right, std::make_unique<FakePort>(), std::make_unique<FakePort>());
    conv.Log.LogEnabled = 7;
    conv.Table.FirstCycleDone = 1;
    SettingsFile file(path);
    RecordingBoxes shown;
    LoadStartupSettings(file, conv, shown);
    boxes = shown.Texts();
    const ProgramState& s = conv.State;
    Lines took = Configured(conv.Table);
    took.insert(took.end(), {"slave " + std::to_string(conv.Table.SlaveAddress),
                             "log " + std::to_string(conv.Log.LogEnabled),
                             s.ModbusPortName + " " + std::to_string(s.ModbusPortExists),
                             s.VeltPortName + " " + std::to_string(s.VeltPortExists),
                             ModbusModeText(s) + ", " + VeltModeText(s),
                             "first cycle " + std::to_string(conv.Table.FirstCycleDone)});
    return took;
}

TEST(StartupSettings, EverySettingFromTheFileAndTheDefaultsOfAFirstStart) {
    const ScratchDir scratch;
    Lines boxes;
    scratch.Put(
        Utf8ToCp1251("[Резервуар]\r\n1=5\r\n2=-\r\n3=7\r\n64=9\r\n[SLAVE]\r\nАдрес=81\r\n[Флаг]"
                     "\r\nПротокол=0\r\n"
                     "[MODBUS]\r\nCom-порт=/dev/ttyS4\r\nСуществует=1\r\nБыстрый опрос=1\r\n"
                     "Ожидание=5001\r\n[VELT]\r\nCom-порт=Com7\r\nСуществует=1\r\n"
                     "Быстрый ответ=1\r\n"));
    EXPECT_EQ(StartUp(scratch.path, boxes),
              (Lines{"1=5", "3=7", "64=9", "slave 81", "log 0", "/dev/ttyS4 1", "Com7 1",
                     "быстрый: ожидание 800 мс, пауза 20 мс, быстрый ответ", "first cycle 0"}));
    EXPECT_EQ(boxes, Lines{"Неверное значение в файле настроек: [MODBUS] Ожидание=\"5001\". "
                           "Допустимо от 50 до 5000, используется 800."});
    // A first start makes the file with tank 1 on address 0.
    std::filesystem::remove(scratch.path);
    const Lines defaults{"slave 80",     "log 1", "Com1 0", "Com2 0", "такт 800 мс, такт 55 мс",
                         "first cycle 0"};
    Lines first{"1=0"};
    first.insert(first.end(), defaults.begin(), defaults.end());
    EXPECT_EQ(StartUp(scratch.path, boxes), first);
    EXPECT_EQ(Cp1251ToUtf8(scratch.OnDisk()), "[Резервуар]\r\n1=0\r\n");
    // Where the file cannot be made, the tanks and the slave address are not read at all.
    Lines none = defaults;
    none[0] = "slave 0";
    EXPECT_EQ(StartUp((scratch.dir / "no-folder" / "x.ini").string(), boxes), none);
    EXPECT_EQ(boxes, Lines{});
}

// Each line opens with its own speed and parity; a port that will not open is refused. What the
// operator is told then is the window's to show.
TEST(OpenLine, EachLineWithItsSettings) {
    RecordingBoxes boxes;
    FakePort port;
    EXPECT_TRUE(OpenModbusPort(port, "Com3", boxes));
    EXPECT_EQ(port.openedName, "Com3");
    EXPECT_EQ(port.openedWith, (std::vector<int>{1024, 1024, 19200, 8, kTwoStopBits, kParityOdd}));
    EXPECT_TRUE(OpenVeltPort(port, "Com4", boxes));
    EXPECT_EQ(port.openedWith, (std::vector<int>{1024, 1024, 9600, 8, kTwoStopBits, kParityEven}));
    port.failOpen = true;
    EXPECT_FALSE(OpenModbusPort(port, "Com3", boxes));
    EXPECT_FALSE(OpenVeltPort(port, "Com4", boxes));
    EXPECT_EQ(boxes.shown.size(), 2u);
}

// The viewer shows what the host is sent: truncated, never rounded, always with a point; a
// gauge's float as it is, not as its decimal reads (0.29f is 0.28999...).
TEST(ViewerFormats, TruncatedDecimalsAndHex) {
    constexpr double kInf = std::numeric_limits<double>::infinity();
    // clang-format off
    const struct { double value, scale; int places; const char* text; } fixed[] = {
        {1234.567, 100, 2, "1234.56"}, {-5.678, 100, 2, "-5.67"}, {-0.004, 100, 2, "0.00"},
        {0.05, 100, 2, "0.05"}, {0.12, 100, 2, "0.12"}, {1.2, 100, 2, "1.20"}, {0.29f, 100, 2, "0.28"},
        {0.8512, 10000, 1, "851.2"}, {42.9, 1, 0, "42"}, {-42.9, 1, 0, "-42"},
        {1e20, 100, 2, "100000000000000000000.00"}, {NAN, 1, 0, "NAN"}, {kInf, 1, 1, "INF"},
        {-kInf, 1, 1, "-INF"}};
    // clang-format on
    for (const auto& f : fixed) EXPECT_EQ(FormatFixed(f.value, f.scale, f.places), f.text);
    EXPECT_EQ(FormatScaledInteger(12345, 1), "1234.5");
    EXPECT_EQ(FormatScaledInteger(-5, 2), "-0.05");
    EXPECT_EQ(FormatScaledInteger(7, 0), "7");
    EXPECT_EQ(FormatScaledInteger(0, 1), "0.0");
    EXPECT_EQ(FormatScaledInteger(std::numeric_limits<int64_t>::min(), 0), "-9223372036854775808");
    EXPECT_EQ(FormatStateHex(ValueSlot{0, 0x01, 0x40}), "4001");
    EXPECT_EQ(FormatStateHex(ValueSlot{0, 0xAB, 0x00}), "ab");
    EXPECT_EQ(FormatFlagsHex(0x40), "40");
}

}  // namespace
}  // namespace conv::test
