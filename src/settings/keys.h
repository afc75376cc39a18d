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

}  // namespace conv::ini
