// Section and key names of the settings file, and the defaults of their readers.
#pragma once

namespace conv::ini {

inline constexpr const char* kTanks = "Резервуар";
inline constexpr const char* kTankDefault = "-";
inline constexpr const char* kSlave = "SLAVE";
inline constexpr const char* kSlaveAddress = "Адрес";
inline constexpr const char* kSlaveDefault = "80";
inline constexpr const char* kFlag = "Флаг";
inline constexpr const char* kLog = "Протокол";
inline constexpr const char* kLogDefault = "1";
inline constexpr const char* kModbus = "MODBUS";
inline constexpr const char* kVelt = "VELT";
inline constexpr const char* kPortName = "Com-порт";
inline constexpr const char* kPortExists = "Существует";
inline constexpr const char* kModbusPortDefault = "Com1";
inline constexpr const char* kVeltPortDefault = "Com2";
inline constexpr const char* kPortExistsDefault = "0";
inline constexpr const char* kPassword = "Пароль";
inline constexpr const char* kAccessCode = "доступа";
inline constexpr const char* kOperatorPassword = "оператора";
inline constexpr const char* kDefaultPassword = "731904";

// A whole-number key with the values it may take; anything else (or no number) gives the default.
struct RangedKey {
    const char* Section;
    const char* Key;
    int Default;
    int Min;
    int Max;
};

// Fast mode of each side and the MODBUS side's two times in it, in milliseconds.
inline constexpr RangedKey kFastPoll{kModbus, "Быстрый опрос", 0, 0, 1};
inline constexpr RangedKey kReplyTimeout{kModbus, "Ожидание", 800, 50, 5000};
inline constexpr RangedKey kQuietPause{kModbus, "Пауза", 20, 0, 2000};
inline constexpr RangedKey kFastReply{kVelt, "Быстрый ответ", 0, 0, 1};

}  // namespace conv::ini
