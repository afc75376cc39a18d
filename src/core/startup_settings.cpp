#include "core/startup_settings.h"

#include "core/converter.h"
#include "core/operator_boxes.h"
#include "core/tank_list.h"
#include "log/message_boxes.h"
#include "settings/ini_document.h"
#include "settings/keys.h"
#include "settings/settings_file.h"

namespace conv {

void ReadSlaveAndTanks(const IniDocument& doc, TankTable& table) {
    int value = 0;
    if (!ParseWholeNumber(doc.Get(ini::kSlave, ini::kSlaveAddress).value_or(ini::kSlaveDefault),
                          value)) {
        return;
    }
    table.SlaveAddress = value;
    ReadTankList(doc, table);
}

void ReadLogFlag(const SettingsFile& file, OperationLog& log) {
    int logFlag = 0;
    if (ParseWholeNumber(file.ReadString(ini::kFlag, ini::kLog, ini::kLogDefault), logFlag)) {
        log.LogEnabled = logFlag;
    }
}

void ReadPorts(SettingsFile& file, ProgramState& s, MessageBoxes& boxes) {
    s.ModbusPortName = file.ReadString(ini::kModbus, ini::kPortName, ini::kModbusPortDefault);
    s.ModbusPortExists = ReadPortExists(file, ini::kModbus, boxes);
    s.VeltPortName = file.ReadString(ini::kVelt, ini::kPortName, ini::kVeltPortDefault);
    s.VeltPortExists = ReadPortExists(file, ini::kVelt, boxes);
    s.ModbusFast = ReadRangedKey(file, ini::kFastPoll, boxes);
    s.ModbusTimeoutMs = ReadRangedKey(file, ini::kReplyTimeout, boxes);
    s.ModbusPauseMs = ReadRangedKey(file, ini::kQuietPause, boxes);
    s.VeltFast = ReadRangedKey(file, ini::kFastReply, boxes);
}

int ReadPortExists(SettingsFile& file, const std::string& section, MessageBoxes& boxes) {
    const std::string text = file.ReadString(section, ini::kPortExists, ini::kPortExistsDefault);
    int value = 0;
    if (!ParseWholeNumber(text, value)) {
        boxes.Show("Неверное значение в файле настроек: [" + section + "] " + ini::kPortExists +
                       "=\"" + text + "\". Порт не используется.",
                   kAppTitle);
        return 0;
    }
    return value;
}

int ReadRangedKey(SettingsFile& file, const ini::RangedKey& key, MessageBoxes& boxes) {
    const std::string def = std::to_string(key.Default);
    const std::string text = file.ReadString(key.Section, key.Key, def);
    int value = 0;
    if (ParseWholeNumber(text, value) && value >= key.Min && value <= key.Max) return value;
    const std::string allowed =
        key.Max - key.Min == 1 ? std::to_string(key.Min) + " или " + std::to_string(key.Max)
                               : "от " + std::to_string(key.Min) + " до " + std::to_string(key.Max);
    boxes.Show("Неверное значение в файле настроек: [" + std::string(key.Section) + "] " + key.Key +
                   "=\"" + text + "\". Допустимо " + allowed + ", используется " + def + ".",
               kAppTitle);
    return key.Default;
}

void LoadStartupSettings(SettingsFile& file, Converter& conv, MessageBoxes& boxes) {
    conv.Table.FirstCycleDone = 0;
    const FileState state = file.State();
    if (state == FileState::kUnreadable) {
        // The reads below then give the defaults, as for an empty file.
        boxes.Show(ReadFailureText(file,
                                   "Программа работает с настройками по умолчанию, файл не "
                                   "изменён."),
                   kAppTitle);
    }
    // The first start creates the file, and a refused creation ends the block of the tanks and
    // the slave address; a file that is there but unreadable is never written over, and gives
    // the defaults, as an empty one does.
    if (state != FileState::kMissing || file.WriteString(ini::kTanks, "1", "0")) {
        ReadSlaveAndTanks(file.Document().value_or(IniDocument()), conv.Table);
    }
    ReadLogFlag(file, conv.Log);
    ReadPorts(file, conv.State, boxes);
}

}  // namespace conv
