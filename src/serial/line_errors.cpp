#include "serial/line_errors.h"

namespace conv {

int ReadResultFromCounters(const LineErrorCounters& before, const LineErrorCounters& now,
                           int count) {
    // The counters only ever grow, but they wrap: a change is what counts, not its sign.
    const bool error = now.frame != before.frame || now.overrun != before.overrun ||
                       now.brk != before.brk || now.bufOverrun != before.bufOverrun;
    return error ? -1 : count;
}

int ReadResultFromErrorFlags(uint32_t flags, int count) {
    return flags != 0 && flags != kCommErrorRxParity ? -1 : count;
}

}  // namespace conv
