// The request groups of the poll: per group one routine that sends a request and one decoder that
// reads its reply at the next tick. Every routine works on the tank under the poll cursor.
#pragma once

#include <cstdint>

#include "modbus/poll.h"

namespace conv {

// The left-pane lines of the replies.
inline constexpr const char* kInLine = "IN ";
inline constexpr const char* kBadBufferLine = "Ошибка в принятом буфере";
inline constexpr const char* kChannelLineSuffix = " - адрес опрашиваемого канала";

// The read requests. They differ only in their row of the request table (register, count,
// checks, log text and the block their reply fills), so one routine sends them all and one
// decodes them all.
enum class ReadRequest { kType, kMain, kTemp, kTemp1, kKoordTemp, kPlot, kPlotTemp, kDD, kDZO };

void SendRead(PollContext& c, ReadRequest request);
void DecodeRead(PollContext& c, ReadRequest request);

// Group 0: a single zero byte ahead of the channel select.
void ProcZero(PollContext& c);
void ProcZeroIn(PollContext& c);
// Group 1: select the tank's channel in the gauge system.
void ProcCanal(PollContext& c);
void ProcCanalIn(PollContext& c);
// Group 2: the channel's type registers.
void ProcType(PollContext& c);
void ProcTypeIn(PollContext& c);
// Group 3 of a level gauge: main parameters.
void ProcOS(PollContext& c);
void ProcOSIn(PollContext& c);
// Groups 4 to 8 of a level gauge.
void ProcTemp(PollContext& c);
void ProcTempIn(PollContext& c);
void ProcTemp1(PollContext& c);
void ProcTemp1In(PollContext& c);
void ProcKoordTemp(PollContext& c);
void ProcKoordTempIn(PollContext& c);
void ProcPlot(PollContext& c);
void ProcPlotIn(PollContext& c);
void ProcPlotTemp(PollContext& c);
void ProcPlotTempIn(PollContext& c);
// Group 3 of a pressure-sensor or gas-sensor tank, its last group.
void ProcDD(PollContext& c);
void ProcDDIn(PollContext& c);
void ProcDZO(PollContext& c);
void ProcDZOIn(PollContext& c);

}  // namespace conv
