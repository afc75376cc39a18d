// Everything the converter holds for the whole run, in one place: the tank table, the program-wide
// values, the log, the two serial lines and the state of both protocol sides. The Qt shell owns
// the one instance; tests build their own around fake ports and memory panes.
#pragma once

#include <memory>

#include "core/program_state.h"
#include "host/fast_host.h"
#include "host/host_link.h"
#include "log/operation_log.h"
#include "modbus/fast_poll.h"
#include "modbus/poll.h"
#include "serial/serial_port.h"
#include "store/tank_table.h"

namespace conv {

struct Converter {
    Converter(LogPane& modbusPane, LogPane& veltPane, std::unique_ptr<SerialPort> modbusPort,
              std::unique_ptr<SerialPort> veltPort)
        : Log(modbusPane, veltPane),
          ModbusPort(std::move(modbusPort)),
          VeltPort(std::move(veltPort)) {}

    TankTable Table;
    ProgramState State;
    OperationLog Log;
    std::unique_ptr<SerialPort> ModbusPort;
    std::unique_ptr<SerialPort> VeltPort;
    PollState Poll;
    HostLink Host;
    // The schedulers of the sides that run in fast mode.
    FastPoll FastModbus;
    FastHost FastVelt;
};

}  // namespace conv
