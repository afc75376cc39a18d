// How the gauge's state registers and error codes become the status codes of the host replies.
// Each mapper tests flag bits in a fixed order and the first bit found set decides. All pure.
#pragma once

#include <cstdint>

namespace conv {

struct PressureBlock;
struct GasBlock;

// Status byte of a host reply.
inline constexpr uint8_t kStatusOk = 0x00;
inline constexpr uint8_t kStatusGaugeFault = 0x04;  // the gauge reported an error or did not answer
inline constexpr uint8_t kStatusNoAnswer14 = 0x06;  // protocol 1.4: the gauge did not answer
inline constexpr uint8_t kStatusNotServed = 0x0C;   // sub-command or group not served for this tank
inline constexpr uint8_t kStatusRejected =
    0xC0;  // meaningless byte, or more than one byte in a tick
inline constexpr uint8_t kStatusInitialising = 0xFE;  // the first poll cycle has not finished
inline constexpr uint8_t kStatusNoData = 0xFF;  // no such tank, wrong type, or a hard gauge error

// Flag bits of a state register's FlagsByte.
inline constexpr uint8_t kFlagNotFitted = 0x40;

// The two status bytes that qualify a value in a parameter block.
struct StatusPair {
    uint8_t First = 0;
    uint8_t Second = 0;
    bool operator==(const StatusPair&) const = default;
};

// Status byte of a one-byte reply for a tank whose GaugeErrorCode is not 0.
uint8_t ProcChanErr(int32_t gaugeErrorCode);

// One code from a value's state register (level, volume, mass, temperature, gas value, ...).
uint8_t ProcDZOErr(uint16_t state);
// Pairs from a FlagsByte: water level, density probe, temperature point.
StatusPair ProcHvErr(uint8_t flags);
StatusPair ProcDPErr(uint8_t flags);
StatusPair ProcDTErr(uint8_t flags);
// Gas sensor: First = 1 when the kind in the high byte is 2, else 2; Second = alarm level 0..2.
StatusPair ProcDZOState(uint16_t state);
// One code from a pressure value's state register.
uint8_t ProcDDErrVelt(uint16_t state);

// Sensors whose FlagsByte does not mark them as not fitted.
int ProcCountDD(const PressureBlock& pressure);
int ProcCountDZO(const GasBlock& gas);

}  // namespace conv
