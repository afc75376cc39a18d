#include "modbus/poll.h"

namespace conv {

// Placeholder until the poll cycle lands.
void OprosModBus(PollState&, TankTable&, SerialPort&, OperationLog&) {}
void PacingStep(PollState&) {}

}  // namespace conv
