// Everything the converter holds for the whole run, in one place: the tank table, the program-wide
// values, the log, the two serial lines and the state of both protocol sides. Each program (the
// window, the service) owns one instance; tests build their own around fake ports and memory
// panes.
#pragma once

#include <memory>

#include "core/line_recovery.h"
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
    LineRecovery ModbusRecovery;
    LineRecovery VeltRecovery;

    // The parts of one side, for what both sides do alike.
    SerialPort& Port(Side s) { return s == Side::kModbus ? *ModbusPort : *VeltPort; }
    const std::string& PortName(Side s) const {
        return s == Side::kModbus ? State.ModbusPortName : State.VeltPortName;
    }
    bool InUse(Side s) const {
        return (s == Side::kModbus ? State.ModbusPortExists : State.VeltPortExists) == 1;
    }
    static const LineSettings& Settings(Side s) {
        return s == Side::kModbus ? kModbusLine : kVeltLine;
    }
    LineRecovery& Recovery(Side s) { return s == Side::kModbus ? ModbusRecovery : VeltRecovery; }
};

}  // namespace conv
