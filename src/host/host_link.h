// The host side: one service step per Timer2 tick takes the bytes that arrived on the host line
// and answers a single command byte from the tank table. The host side only reads the table.
#pragma once

#include <array>
#include <cstdint>

namespace conv {

struct TankTable;
class SerialPort;
class OperationLog;

struct HostLink {
    std::array<uint8_t, 1024> RxBuffer{};
    int32_t RxCount = 0;
    std::array<uint8_t, 1024> Reply{};  // only the first 60 bytes are ever used
    int32_t SelectedChannel = 0;        // 0..15
    int32_t SelectedGroup = 0;          // 0..15
};

// One service step (Timer2): reads every waiting byte into RxBuffer/RxCount, then ServeVelt.
void OprosVelt(HostLink& link, const TankTable& table, SerialPort& port, OperationLog& log);

// Answers what RxBuffer/RxCount hold: nothing for 0, "Ошибка связи" for -1, 0xC0 for two bytes or
// more, else the single command byte. A line in fast mode fills them itself (fast_host.h).
void ServeVelt(HostLink& link, const TankTable& table, SerialPort& port, OperationLog& log);

}  // namespace conv
