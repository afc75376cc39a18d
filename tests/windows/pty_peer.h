// The far end of the serial lines in the Windows tests. A Windows program cannot make
// pseudo-terminals, so the Linux-side runner (wine_runner.py) makes them, links them into the
// wine prefix as COM ports and plays their far end on request; the requests travel as lines on
// our standard output and the answers come back on standard input.
#pragma once

#include <map>
#include <string>

#include "support/fake_port.h"

namespace conv::test {

// COM names that the runner maps to pseudo-terminals, and one it makes sure does not exist.
inline constexpr const char* kLineA = "Com5";
inline constexpr const char* kLineB = "Com6";
inline constexpr const char* kLongLine = "Com15";  // opened through the device namespace
inline constexpr const char* kMissingLine = "Com8";

namespace peer {

// true when the runner is there to answer.
bool Available();
// Drops whatever is queued in either direction and puts the line back to raw settings.
void Reset(const std::string& port);
// "rtscts", "xonxoff" or "none", set on the line before the port under test opens it.
void SetFlowControl(const std::string& port, const std::string& mode);
// Sends the bytes and returns once all of them wait in the port's receive queue.
bool Send(const std::string& port, const Bytes& bytes);
// The bytes that arrived at the far end: `count` of them, or fewer after the runner's deadline.
Bytes Receive(const std::string& port, size_t count);
// The line settings as the pseudo-terminal holds them: baud, bits, cstopb, parodd, crtscts,
// ixon, ixoff, veof.
std::map<std::string, long> Settings(const std::string& port);

}  // namespace peer

// Wine runs us: some things real Windows does cannot be seen there.
bool RunningUnderWine();

}  // namespace conv::test
