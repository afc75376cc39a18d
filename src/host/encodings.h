// How measured floats become the integers and packed bytes of the host protocol. All pure.
//
// The gauge's floats are not trusted to be finite or in range: every product is taken in double
// (exact for a float times 100 or 100000), then truncated toward zero into int32 with NaN read as 0
// and anything beyond the int32 range held at its end, so that no conversion is undefined.
#pragma once

#include <array>
#include <cstdint>

namespace conv {

// Scale factors of the rounded-tenths form.
inline constexpr double kFactorTenths = 100.0;      // mm, litres, kg, pressure, % -> tenths
inline constexpr double kFactorDensity = 100000.0;  // g/cm³ -> tenths of kg/m³

// x * k truncated toward zero, held within int32; NaN gives 0.
int32_t TruncatedProduct(float x, double k);

// Rounded tenths for non-negative quantities: the last digit of trunc(x * k) rounds up from 5.
// A negative product is only truncated (its remainder is never 5 or more).
int32_t RoundedTenths(float x, double k);

// Temperatures in tenths of a degree, rounded half away from zero.
int32_t ToTenths(float x);

// Protocol 1.4 packed value of a rounded-tenths t: whole units w in 20 bits and the tenths digit
// d, as w & 0xFF, (w >> 8) & 0xFF, ((w >> 16) & 0x0F) << 4 | d. A negative t is sent as 0.0 and a
// w that does not fit is held at 0xFFFFF.9, so an out-of-range reading never wraps into a small
// one.
std::array<uint8_t, 3> PackValue14(int32_t tenths);

// Whole units of a rounded-tenths t in one byte, held within 0..255.
uint8_t WholeUnitsByte(int32_t tenths);

// Protocol 1.4 temperature byte: magnitude in half degrees (nearest half, from hundredths) in the
// low seven bits, sign in bit 7. The magnitude is held at 127 (63.5 °C) so that it never reaches
// the sign bit.
uint8_t HalfDegreeByte(float x);

}  // namespace conv
