// The host side in fast mode: a command is answered as soon as it is known to stand alone, instead
// of at the next 55 ms tick. Bytes that arrive within 3.5 character times of each other (4.375 ms
// at 9600 8E2) form one burst, the fast counterpart of "more than one byte in one tick", and get
// one 0xC0; a single byte followed by that quiet time is a command, served at once by the same
// ServeVelt as on the tick. A line error is reported at once, as at a tick.
//
// A plain scheduler, free of any event loop (see serial/line_wait.h). The loop's part:
//
//     FastHost fast;                         // one per host line, next to its HostLink
//     port.SetArrivalNotification(true);     // before every open of the line
//     port.Open(...);
//     FastHostRestart(fast);                 // after every open
//     LineWait w = FastHostStep(fast, link, table, port, log, now);
//     loop: wait for the port's ArrivalHandle() while w.OnArrival, and for w.Deadline;
//           on either (Windows: RearmArrival() first), w = FastHostStep(..., now);
//
// `now` is the loop's monotonic clock in microseconds; calls for no reason are harmless. Timer2
// is not used while a line runs in fast mode.
#pragma once

#include "host/host_link.h"
#include "serial/line_wait.h"

namespace conv {

struct FastHost {
    // Quiet time that ends a burst.
    MicroTime GapUs = CharTimeUs(kVeltLine) * 7 / 2;
    // After a line error the line is looked at again only this much later: a hung-up device
    // reports one at every look, and is then reported no more often than on the tick.
    MicroTime ErrorRestUs = 55'000;

    // The scheduler's own state.
    int Have = 0;  // bytes of the burst so far, at the start of the link's RxBuffer
    MicroTime LastArrival = 0;
    MicroTime RestUntil = 0;
};

// The line was opened (again): a burst in progress is gone with the driver's queues.
void FastHostRestart(FastHost& fast);

// Reads what has arrived, answers what is due at `now`, and says what to wait for.
LineWait FastHostStep(FastHost& fast, HostLink& link, const TankTable& table, SerialPort& port,
                      OperationLog& log, MicroTime now);

}  // namespace conv
