#include "service/check_config.h"

#include <cstdio>
#include <map>
#include <optional>

#include "core/converter.h"
#include "core/line_modes.h"
#include "core/startup_settings.h"
#include "log/message_boxes.h"
#include "serial/port_name.h"
#include "settings/ini_document.h"
#include "settings/keys.h"
#include "settings/settings_file.h"

namespace conv::service {
namespace {

// The start-up's boxes are problems of the file.
class ProblemBoxes : public MessageBoxes {
  public:
    explicit ProblemBoxes(std::vector<std::string>& problems) : problems_(problems) {}
    void Show(const std::string& text, const std::string&) override { problems_.push_back(text); }
    bool AskOkCancel(const std::string& text, const std::string&) override {
        problems_.push_back(text);
        return false;
    }

  private:
    std::vector<std::string>& problems_;
};

std::string Entry(const char* section, const std::string& key, const std::string& value) {
    std::string text = "[";
    text.append(section).append("] ").append(key).append("=\"").append(value).append("\": ");
    return text;
}

// What the silent readers pass over: the slave address and tank values that end their block,
// values the devices cannot use, and tanks that the host cannot tell apart.
void CheckSlaveAndTanks(const IniDocument& doc, std::vector<std::string>& problems) {
    const std::string slave = doc.Get(ini::kSlave, ini::kSlaveAddress).value_or(ini::kSlaveDefault);
    int value = 0;
    if (!ParseWholeNumber(slave, value)) {
        problems.push_back(Entry(ini::kSlave, ini::kSlaveAddress, slave) +
                           "не целое число: ни адрес SLAVE, ни резервуары не читаются");
        return;
    }
    if (value < 0 || value > 255) {
        problems.push_back(Entry(ini::kSlave, ini::kSlaveAddress, slave) +
                           "вне 0..255: в запросах будет только его младший байт");
    }
    std::map<int, int> tankOfChannel;
    for (int n = 1; n <= kTankCount; ++n) {
        const std::string key = std::to_string(n);
        const std::string text = doc.Get(ini::kTanks, key).value_or(ini::kTankDefault);
        if (text == ini::kTankDefault) continue;
        int channel = 0;
        if (!ParseWholeNumber(text, channel)) {
            problems.push_back(Entry(ini::kTanks, key, text) + "не целое число: резервуары с " +
                               key + "-го не читаются");
            return;
        }
        if (channel < 0 || channel > 15) {
            problems.push_back(Entry(ini::kTanks, key, text) +
                               "адрес канала вне 0..15: хост не может запросить этот резервуар");
        } else if (const auto [it, fresh] = tankOfChannel.emplace(channel, n); !fresh) {
            problems.push_back(Entry(ini::kTanks, key, text) + "канал уже у резервуара " +
                               std::to_string(it->second) + ": хост получит данные только его");
        }
    }
}

void CheckPorts(SettingsFile& file, const ProgramState& s, std::vector<std::string>& problems) {
    struct SideView {
        const char* section;
        const std::string& name;
        int exists;
    };
    for (const SideView& side : {SideView{ini::kModbus, s.ModbusPortName, s.ModbusPortExists},
                                 SideView{ini::kVelt, s.VeltPortName, s.VeltPortExists}}) {
        if (side.exists != 0 && side.exists != 1) {
            problems.push_back(
                Entry(side.section, ini::kPortExists,
                      file.ReadString(side.section, ini::kPortExists, ini::kPortExistsDefault)) +
                "сторона не используется: её включает только 1");
        }
        if (side.exists == 1 && !DevicePath(side.name)) {
            problems.push_back(Entry(side.section, ini::kPortName, side.name) +
                               "такого порта быть не может");
        }
    }
    if (s.ModbusPortExists == 1 && s.VeltPortExists == 1 && s.ModbusPortName == s.VeltPortName) {
        problems.push_back("Обе стороны на одном порту " + s.ModbusPortName +
                           ": вторая его не откроет");
    }
}

}  // namespace

ConfigReport CheckConfig(const std::string& path) {
    ConfigReport r;
    SettingsFile file(path);
    std::optional<IniDocument> doc;
    switch (file.State()) {
        case FileState::kMissing:
            r.problems.push_back("Файл настроек " + path +
                                 " не найден: служба создаст его с резервуаром 1 на канале 0, "
                                 "обе стороны не используются");
            doc.emplace();
            doc->Set(ini::kTanks, "1", "0");  // what the start-up writes into a new file
            break;
        case FileState::kUnreadable:
            r.problems.push_back(ReadFailureText(file,
                                                 "Служба будет работать с настройками по "
                                                 "умолчанию."));
            doc.emplace();
            break;
        case FileState::kReadable:
            doc = file.Document();
            if (!doc) doc.emplace();
            break;
    }

    // The service's own readers on a scratch converter: what it shows is what the service runs.
    MemoryPane left, right;
    Converter c(left, right, nullptr, nullptr);
    ProblemBoxes boxes(r.problems);
    ReadSlaveAndTanks(*doc, c.Table);
    ReadLogFlag(file, c.Log);
    ReadPorts(file, c.State, boxes);
    CheckSlaveAndTanks(*doc, r.problems);
    if (int flag = 0;
        !ParseWholeNumber(file.ReadString(ini::kFlag, ini::kLog, ini::kLogDefault), flag)) {
        r.problems.push_back(
            Entry(ini::kFlag, ini::kLog, file.ReadString(ini::kFlag, ini::kLog, "")) +
            "не целое число: протокол не ведётся");
    }
    CheckPorts(file, c.State, r.problems);

    r.settings.push_back("Файл настроек: " + path);
    for (Side side : {Side::kModbus, Side::kVelt}) {
        const bool modbus = side == Side::kModbus;
        std::string line = std::string(modbus ? "MODBUS" : "VELT") + ": порт " + c.PortName(side);
        if (c.InUse(side)) {
            line += std::string(", используется, ") + Converter::Settings(side).logLine;
            if (!IsFast(c, side)) {
                line += modbus ? ", режим: по таймеру, шаг опроса 800 мс, перезапуск цикла 1000 мс"
                               : ", режим: по таймеру, ответ хосту каждые 55 мс";
            } else if (modbus) {
                line += ", режим: " + ModbusModeText(c.State) + ", перезапуск цикла 1000 мс";
            } else {
                line += ", режим: " + VeltModeText(c.State);
            }
        } else {
            line += ", не используется";
        }
        r.settings.push_back(line);
    }
    char hex[16];
    std::snprintf(hex, sizeof hex, "%x", static_cast<unsigned>(c.Table.SlaveAddress));
    r.settings.push_back("Адрес SLAVE: " + std::to_string(c.Table.SlaveAddress) + " (0x" + hex +
                         ")");
    r.settings.push_back(std::string("Протокол: ") +
                         (c.Log.LogEnabled != 0 ? "ведётся" : "не ведётся"));
    int configured = 0;
    for (const TankEntry& t : c.Table.Tanks) configured += t.Configured == 1;
    r.settings.push_back("Резервуаров: " + std::to_string(configured));
    for (int n = 1; n <= kTankCount; ++n) {
        const TankEntry& t = c.Table.Tank(n);
        if (t.Configured == 1) {
            r.settings.push_back("Резервуар " + std::to_string(n) + ": канал " +
                                 std::to_string(t.ChannelAddress));
        }
    }
    return r;
}

}  // namespace conv::service
