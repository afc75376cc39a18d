#include "host/fast_host.h"

#include "serial/serial_port.h"

namespace conv {

void FastHostRestart(FastHost& f) {
    f.Have = 0;
    f.RestUntil = 0;
}

LineWait FastHostStep(FastHost& f, HostLink& link, const TankTable& table, SerialPort& port,
                      OperationLog& log, MicroTime now) {
    if (now < f.RestUntil) return {false, f.RestUntil};
    const int capacity = static_cast<int>(link.RxBuffer.size());
    for (;;) {
        const int room = capacity - f.Have;
        const int got = port.ReadAvailable(link.RxBuffer.data() + f.Have, room);
        if (got < 0 || got > room) {
            // As at a tick: the bytes read with the error are lost, the burst they belong to too.
            f.Have = 0;
            link.RxCount = -1;
            ServeVelt(link, table, port, log);
            f.RestUntil = now + f.ErrorRestUs;
            return {false, f.RestUntil};
        }
        if (got > 0) {
            f.Have += got;
            f.LastArrival = now;
        }
        // A burst that fills the buffer is refused now; what follows it is read on.
        if (f.Have < capacity) break;
        link.RxCount = f.Have;
        f.Have = 0;
        ServeVelt(link, table, port, log);
    }
    if (f.Have > 0 && now >= f.LastArrival + f.GapUs) {
        link.RxCount = f.Have;
        f.Have = 0;
        ServeVelt(link, table, port, log);
    }
    return {true, f.Have > 0 ? f.LastArrival + f.GapUs : LineWait::kNever};
}

}  // namespace conv
