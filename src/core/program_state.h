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
    int32_t AccessGranted = 0;
    std::string EnteredOperatorPassword;  // last text confirmed in the operator prompt
};

}  // namespace conv
