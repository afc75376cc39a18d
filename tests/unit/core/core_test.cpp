// What the core does for the windows: the start-up reading of the settings file, the list of
// polled tanks, opening a line, the operator's boxes and the number formats of the data viewer.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>

#include "core/converter.h"
#include "core/open_line.h"
#include "core/operator_boxes.h"
#include "core/startup_settings.h"
#include "core/tank_list.h"
#include "core/viewer_formats.h"
#include "log/message_boxes.h"
#include "settings/ini_document.h"
#include "settings/settings_file.h"
#include "settings/text_codec.h"
#include "support/fake_port.h"
#include "support/unreadable_file.h"

namespace conv {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

struct Boxes : MessageBoxes {
    void Show(const std::string& text, const std::string& caption) override {
        shown.push_back(caption + ": " + text);
    }
    bool AskOkCancel(const std::string&, const std::string&) override { return false; }
    Lines shown;
};

// Tanks 1..64 as "number=address", configured ones only.
Lines Configured(const TankTable& table) {
    Lines out;
    for (int n = 1; n <= kTankCount; ++n) {
        const TankEntry& t = table.Tank(n);
        if (t.Configured != 0)
            out.push_back(std::to_string(n) + "=" + std::to_string(t.ChannelAddress));
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

class StartupTest : public ::testing::Test {
  protected:
    StartupTest() {
        fs::create_directories(dir_);
        conv_.Log.LogEnabled = 7;
        conv_.Table.FirstCycleDone = 1;
    }
    ~StartupTest() override { fs::remove_all(dir_); }
    void Put(const std::string& utf8) {
        std::ofstream(path_, std::ios::binary) << Utf8ToCp1251(utf8);
    }
    void Load() {
        SettingsFile file(path_);
        LoadStartupSettings(file, conv_, boxes_);
    }
    // What the program took from the file.
    Lines Took() const {
        const ProgramState& s = conv_.State;
        Lines took = Configured(conv_.Table);
        for (const std::string& v : {"slave " + std::to_string(conv_.Table.SlaveAddress),
                                     "log " + std::to_string(conv_.Log.LogEnabled),
                                     s.ModbusPortName + " " + std::to_string(s.ModbusPortExists),
                                     s.VeltPortName + " " + std::to_string(s.VeltPortExists)}) {
            took.push_back(v);
        }
        return took;
    }
    std::string OnDisk() const {
        std::ifstream in(path_, std::ios::binary);
        return Cp1251ToUtf8(std::string(std::istreambuf_iterator<char>(in), {}));
    }

    const fs::path dir_ = fs::temp_directory_path() / ("conv-startup-" + std::to_string(getpid()));
    std::string path_ = (dir_ / kSettingsFileName).string();
    MemoryPane left_, right_;
    Converter conv_{left_, right_, std::make_unique<test::FakePort>(),
                    std::make_unique<test::FakePort>()};
    Boxes boxes_;
};

TEST_F(StartupTest, EverySettingFromTheFile) {
    Put("[Резервуар]\r\n1=5\r\n2=-\r\n3=7\r\n64=9\r\n[SLAVE]\r\nАдрес=81\r\n[Флаг]\r\nПротокол="
        "0\r\n"
        "[MODBUS]\r\nCom-порт=/dev/"
        "ttyS4\r\nСуществует=1\r\n[VELT]\r\nCom-порт=Com7\r\nСуществует=1\r\n");
    Load();
    EXPECT_EQ(Took(), (Lines{"1=5", "3=7", "64=9", "slave 81", "log 0", "/dev/ttyS4 1", "Com7 1"}));
    EXPECT_EQ(conv_.Table.FirstCycleDone, 0);
    EXPECT_EQ(boxes_.shown, Lines{});
}

TEST_F(StartupTest, AFirstStartCreatesTheFileAndTakesTheDefaults) {
    Load();
    EXPECT_EQ(OnDisk(), "[Резервуар]\r\n1=0\r\n");
    EXPECT_EQ(Took(), (Lines{"1=0", "slave 80", "log 1", "Com1 0", "Com2 0"}));
    // Where the file cannot be made, the tanks are not read at all.
    conv_.Table = TankTable{};
    path_ = (dir_ / "no-folder" / kSettingsFileName).string();
    Load();
    EXPECT_EQ(Took(), (Lines{"slave 0", "log 1", "Com1 0", "Com2 0"}));
    EXPECT_EQ(boxes_.shown, Lines{});
}

// A value that is no whole number ends its block silently, as it always has; a bad "Существует"
// is told and leaves its line unused.
TEST_F(StartupTest, AValueThatIsNoNumber) {
    Put("[Резервуар]\r\n1=5\r\n[SLAVE]\r\nАдрес=x\r\n[Флаг]\r\nПротокол=да\r\n"
        "[MODBUS]\r\nСуществует=1\r\n[VELT]\r\nСуществует=нет\r\n");
    Load();
    EXPECT_EQ(Took(), (Lines{"slave 0", "log 7", "Com1 1", "Com2 0"}));
    EXPECT_EQ(boxes_.shown,
              Lines{"Конвертор: Неверное значение в файле настроек: [VELT] Существует=\"нет\". "
                    "Порт не используется."});
}

TEST_F(StartupTest, AnUnreadableFileIsToldOnceAndLeftAlone) {
    for (const test::UnreadableWay& way : test::UnreadableWays()) {
        SCOPED_TRACE(way.name);
        boxes_.shown.clear();
        test::MakeUnreadable(path_, way.kind);
        const std::string before = test::DescribeOnDisk(path_);
        Load();
        EXPECT_EQ(Took(), (Lines{"slave 80", "log 1", "Com1 0", "Com2 0"}));
        EXPECT_EQ(boxes_.shown, Lines{"Конвертор: Не удалось прочитать файл настроек " + path_ +
                                      ": " + way.reason +
                                      ". Программа работает с настройками по умолчанию, файл не "
                                      "изменён."});
        EXPECT_EQ(test::DescribeOnDisk(path_), before);
        test::RemoveUnreadable(path_);
    }
}

TEST_F(StartupTest, ARefusedWriteIsToldWithItsReason) {
    SettingsFile file((dir_ / "no-folder" / kSettingsFileName).string());
    ASSERT_FALSE(file.WriteString("Флаг", "Протокол", "0"));
    ReportWriteError(boxes_, file);
    EXPECT_EQ(boxes_.shown, Lines{"Конвертор: Ошибка записи в файл настроек " + file.Path() +
                                  ": папка не найдена"});
}

TEST(OpenLine, EachSideWithItsSettingsAndItsBoxWhenThePortWillNotOpen) {
    Boxes boxes;
    test::FakePort port;
    EXPECT_TRUE(OpenModbusPort(port, "Com3", boxes));
    EXPECT_EQ(port.openedName, "Com3");
    EXPECT_EQ(port.openedWith, (std::vector<int>{1024, 1024, 19200, 8, kTwoStopBits, kParityOdd}));
    EXPECT_TRUE(OpenVeltPort(port, "Com4", boxes));
    EXPECT_EQ(port.openedWith, (std::vector<int>{1024, 1024, 9600, 8, kTwoStopBits, kParityEven}));
    EXPECT_EQ(boxes.shown, Lines{});
    port.failOpen = true;
    EXPECT_FALSE(OpenModbusPort(port, "Com3", boxes));
    EXPECT_FALSE(OpenVeltPort(port, "Com4", boxes));
    EXPECT_EQ(boxes.shown, (Lines{" OUT : Ошибка программирования СОМ(MODBUS)",
                                  " OUT : Ошибка программирования СОМ(VELT)"}));
}

// The viewer shows what the host is sent: truncated, never rounded, always with a point.
TEST(ViewerFormats, TruncatedDecimalsAndHex) {
    constexpr double kInf = std::numeric_limits<double>::infinity();
    const struct {
        double value, scale;
        int places;
        const char* text;
    } fixed[] = {
        {1234.567, 100, 2, "1234.56"},
        {-5.678, 100, 2, "-5.67"},
        {-0.004, 100, 2, "0.00"},
        {0.05, 100, 2, "0.05"},
        {0.12, 100, 2, "0.12"},
        {1.2, 100, 2, "1.20"},
        {0.8512, 10000, 1, "851.2"},
        {42.9, 1, 0, "42"},
        {-42.9, 1, 0, "-42"},
        {1e20, 100, 2, "100000000000000000000.00"},
        {NAN, 1, 0, "NAN"},
        {kInf, 1, 1, "INF"},
        {-kInf, 1, 1, "-INF"},
    };
    for (const auto& f : fixed)
        EXPECT_EQ(FormatFixed(f.value, f.scale, f.places), f.text) << f.text;
    EXPECT_EQ(FormatScaledInteger(12345, 1), "1234.5");
    EXPECT_EQ(FormatScaledInteger(-5, 2), "-0.05");
    EXPECT_EQ(FormatScaledInteger(7, 0), "7");
    EXPECT_EQ(FormatScaledInteger(std::numeric_limits<int64_t>::min(), 0), "-9223372036854775808");
    EXPECT_EQ(FormatStateHex(ValueSlot{0, 0x01, 0x40}), "4001");
    EXPECT_EQ(FormatStateHex(ValueSlot{0, 0xAB, 0x00}), "ab");
    EXPECT_EQ(FormatFlagsHex(0x40), "40");
}

}  // namespace
}  // namespace conv
