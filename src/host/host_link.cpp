#include "host/host_link.h"

namespace conv {

// Placeholder until the host side lands.
void OprosVelt(HostLink&, const TankTable&, SerialPort&, OperationLog&) {}

}  // namespace conv
