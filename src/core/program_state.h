// Program-wide values read from the settings file and the results of the password prompts.
#pragma once

#include <cstdint>
#include <string>

namespace conv {

struct ProgramState {
    std::string ModbusPortName;
    int32_t ModbusPortExists = 0;  // 1 = the MODBUS side is used
    std::string VeltPortName;
    int32_t VeltPortExists = 0;  // 1 = the host side is used
    // How each side runs: 0 on its timer's ticks, 1 in fast mode; the MODBUS side's reply timeout
    // and quiet pause (ms) apply in fast mode only.
    int32_t ModbusFast = 0;
    int32_t ModbusTimeoutMs = 800;
    int32_t ModbusPauseMs = 20;
    int32_t VeltFast = 0;
    int32_t AccessGranted = 0;
    std::string EnteredOperatorPassword;  // last text confirmed in the operator prompt
};

}  // namespace conv
