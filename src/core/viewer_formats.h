// Number formats of the data viewer's cells. The decimal separator is always "." whatever the
// locale, and values are truncated, never rounded, so that the viewer shows what the host is sent.
#pragma once

#include <cstdint>
#include <string>

#include "store/tank_table.h"

namespace conv {

// value × scale truncated toward zero to the integer n, written with `places` decimals:
// 1234.567 at scale 100 with 2 places gives "1234.56"; −5.678 gives "-5.67"; −0.004 gives "0.00"
// (the truncated value is 0, so no sign). Values too large for a machine integer keep all their
// digits; NaN and the infinities give "NAN", "INF" and "-INF". The same for every column: a
// negative value where none is expected (a level, a mass) shows with its sign, never as a mangled
// remainder.
std::string FormatFixed(double value, double scale, int places);
// An integer written with `places` decimals: 12345 with 1 place gives "1234.5".
std::string FormatScaledInteger(int64_t n, int places);

// The state register as one 16-bit number whose high byte is the flags byte and whose low byte is
// the register's first byte, in lower-case hex without leading zeros: bytes 00 40 give "4000".
std::string FormatStateHex(const ValueSlot& slot);
// The flags byte alone: 0x40 gives "40".
std::string FormatFlagsHex(uint8_t flags);

}  // namespace conv
