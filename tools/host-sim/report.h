// Turning exchanges into text: one line per request for people, and stable key=value lines for
// scripts and end-to-end tests.
//
// Machine lines (all byte fields lower-case hexadecimal without 0x; cmd always two digits;
// status, st1 and st2 without leading zeros; ch, blk, grp, len and value decimal; ch and blk are
// -1 when the selection is not known):
//   REPLY ch=5 blk=0 cmd=d4 status=0 len=56 verdict=ok raw=00...fc
//         [problems=short,checksum] [stray=c0]      verdict: ok | bad | noreply
//   VAL ch=5 cmd=d4 grp=1 st1=0 st2=0 value=12346 blk=0 name=level scaled=1234.6 unit=mm
#pragma once

#include <string>
#include <vector>

#include "host_session.h"

namespace conv::hostsim {

std::string Verdict(const Exchange& ex);
std::string HumanLine(const Exchange& ex, int timeoutMs);
// "level 1234.6 mm" or "t4 15.3 °C (st 00/49)".
std::string HumanValue(const Value& v);
std::vector<std::string> MachineLines(const Exchange& ex);
// "LATENCY requests=1000 answered=1000 p50_ms=4.61 p99_ms=5.20 max_ms=7.03 mean_ms=4.70": the
// reply latencies of a run (see Exchange::latencyMs), nearest-rank percentiles.
std::string LatencyLine(std::vector<double> latenciesMs, long requests);

}  // namespace conv::hostsim
