// The converter's memory of the tank farm: 64 tank entries with their configuration, the outcome of
// the last exchange with the gauge and the latest register images, plus the few process-wide
// values through which the MODBUS side and the host side meet.
//
// Measured data are kept as images of the gauge's input registers, two bytes per register in wire
// order, with floats and heights converted in place when a reply is stored. Readers never compute
// byte offsets themselves: every field has a named accessor below.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace conv {

inline constexpr int kTankCount = 64;

// A float and its state register as the gauge sent it: the register's first byte (its high byte
// on the wire; the data viewer shows it as the low one) and its second byte, the flags.
struct ValueSlot {
    float Value = 0.0f;
    // A gas sensor's kind and alarm, a density probe's height refinement.
    uint8_t StateFirstByte = 0;
    uint8_t FlagsByte = 0;  // sensor flag bits, 0x40 = sensor not fitted

    uint16_t State() const { return static_cast<uint16_t>(StateFirstByte << 8 | FlagsByte); }
};

// Raw register image of input registers FirstReg .. FirstReg + Count - 1.
template <int FirstReg, int Count>
class RegisterImage {
  public:
    static constexpr int kFirstReg = FirstReg;
    static constexpr int kCount = Count;
    static constexpr int kBytes = 2 * Count;

    // Copies `count` registers from wire bytes (high byte first) starting at register `reg`.
    // Out-of-range parts are ignored; the caller's table rows are checked by the tests.
    void StoreWire(int reg, const uint8_t* wire, int count);
    // Converts registers reg, reg+1 (float, less significant word first) to a native float.
    void ConvertFloat(int reg);
    // Converts one register (uint16, high byte first) to a native uint16.
    void ConvertHeight(int reg);

    // Register as received (only for registers that are not converted).
    uint16_t Reg(int reg) const;
    uint8_t HighByte(int reg) const { return bytes_[Offset(reg)]; }
    uint8_t LowByte(int reg) const { return bytes_[Offset(reg) + 1]; }
    // Native values of converted registers.
    float Float(int reg) const;
    uint16_t Height(int reg) const;
    // A float at reg, reg+1 with its state register at reg+2.
    ValueSlot Slot(int reg) const;

    const std::array<uint8_t, kBytes>& Bytes() const { return bytes_; }

  private:
    static constexpr bool InRange(int reg, int n) {
        return reg >= FirstReg && n >= 0 && reg + n <= FirstReg + Count;
    }
    static constexpr size_t Offset(int reg) { return static_cast<size_t>(2 * (reg - FirstReg)); }
    std::array<uint8_t, kBytes> bytes_{};
};

// TankType values: what the type request says a channel is.
enum : int { kLevelGauge = 0, kPressureTank = 1, kGasTank = 2 };

// Input registers 0..2 from the type request.
struct TypeBlock : RegisterImage<0, 3> {
    // kLevelGauge, kPressureTank or kGasTank; anything else is kept as sent.
    int TankType() const { return HighByte(0); }
    uint16_t ConfigWord() const { return Reg(1); }
};

// Input registers 3..44: main parameters of a level gauge.
struct MainBlock : RegisterImage<3, 42> {
    ValueSlot Level() const { return Slot(3); }
    ValueSlot Mass() const { return Slot(6); }
    ValueSlot Volume() const { return Slot(9); }
    ValueSlot MeanDensity() const { return Slot(12); }
    ValueSlot MeanTemp() const { return Slot(15); }
    ValueSlot WaterLevel() const { return Slot(18); }
    ValueSlot Pap() const { return Slot(21); }
    ValueSlot Tap() const { return Slot(24); }
    ValueSlot Ppf() const { return Slot(27); }
    ValueSlot Tpf() const { return Slot(30); }
    ValueSlot Dpf() const { return Slot(33); }
    // Up to six characters, ending at the first zero byte.
    std::string SoftwareNumber() const;
    uint8_t ProductIndex() const { return HighByte(39); }
    uint8_t SoftwareVersion() const { return LowByte(39); }
    ValueSlot VolumeMax() const { return Slot(42); }

    static constexpr int kFloatRegs[] = {3, 6, 9, 12, 15, 18, 21, 24, 27, 30, 33, 42};
};

// Input registers 128..193: temperature header and points T1..T21.
struct TempBlock : RegisterImage<128, 66> {
    static constexpr int kPoints = 21;
    static int PointReg(int k) { return k <= 10 ? 131 + 3 * (k - 1) : 161 + 3 * (k - 11); }
    // k = 1..21
    ValueSlot Point(int k) const { return Slot(PointReg(k)); }
    // First byte of header register 130, copied into the host's configuration replies.
    uint8_t HeaderByte() const { return HighByte(130); }
};

// Input registers 194..214: heights of the temperature points, mm.
struct TempCoordsBlock : RegisterImage<194, 21> {
    static constexpr int kPoints = 21;
    uint16_t PointHeight(int k) const { return Height(193 + k); }  // k = 1..21
};

// Input registers 256..273: density header and probes ДП1..ДП5.
struct DensityBlock : RegisterImage<256, 18> {
    static constexpr int kProbes = 5;
    static constexpr int ProbeReg(int k) { return 259 + 3 * (k - 1); }
    ValueSlot Probe(int k) const { return Slot(ProbeReg(k)); }  // k = 1..5
    // First byte of header register 258.
    uint8_t HeaderByte() const { return HighByte(258); }
    // Signed refinement of probe k's height in tenths of a millimetre.
    int8_t HeightRefinement(int k) const { return static_cast<int8_t>(Probe(k).StateFirstByte); }
};

// Input registers 280..294: per density probe its height (mm) and temperature (°C).
struct ProbeBlock : RegisterImage<280, 15> {
    static constexpr int kProbes = 5;
    static constexpr int HeightReg(int k) { return 280 + 3 * (k - 1); }
    uint16_t ProbeHeight(int k) const { return Height(HeightReg(k)); }  // k = 1..5
    float ProbeTemp(int k) const { return Float(HeightReg(k) + 1); }
};

// Input registers 0..29 of a pressure-sensor tank: header, then ДД1..ДД9.
struct PressureBlock : RegisterImage<0, 30> {
    static constexpr int kSensors = 9;
    static constexpr int SensorReg(int k) { return 3 + 3 * (k - 1); }
    ValueSlot Sensor(int k) const { return Slot(SensorReg(k)); }  // k = 1..9
};

// Input registers 0..17 of a gas-sensor tank: header, then ДЗО1..ДЗО5.
struct GasBlock : RegisterImage<0, 18> {
    static constexpr int kSensors = 5;
    static constexpr int SensorReg(int k) { return 3 + 3 * (k - 1); }
    ValueSlot Sensor(int k) const { return Slot(SensorReg(k)); }  // k = 1..5
};

// LinkState values.
enum : int32_t { kLinkGood = 0, kLinkFaulty = 1, kLinkSilent = 2 };

struct TankEntry {
    // Configuration (start-up load and channel setup dialog).
    int32_t Configured = 0;  // exactly 1 = polled and reported
    int32_t ChannelAddress = 0;

    // Status and measured data (MODBUS side only).
    TypeBlock Type;
    int32_t GaugeErrorCode = 0;
    int32_t LinkState = kLinkGood;
    // Cycles in a row in which bytes after the single zero byte made the poll skip this tank.
    int32_t ZeroByteSkips = 0;
    MainBlock Main;
    TempBlock Temp;
    TempCoordsBlock TempCoords;
    DensityBlock Density;
    ProbeBlock Probe;
    PressureBlock Pressure;
    GasBlock Gas;

    int TankType() const { return Type.TankType(); }
    uint16_t ConfigWord() const { return Type.ConfigWord(); }
    bool IsConfigured() const { return Configured == 1; }
    // Height of density probe k = 1..5 in tenths of a millimetre: its height in mm × 10 plus the
    // signed refinement carried in the first byte of its state register.
    int32_t ProbeHeightTenths(int k) const {
        return static_cast<int32_t>(Probe.ProbeHeight(k)) * 10 + Density.HeightRefinement(k);
    }
};

struct TankTable {
    std::array<TankEntry, kTankCount> Tanks{};

    int32_t SlaveAddress = 0;
    int32_t FirstCycleDone = 0;
    int32_t GaugeLinkOk = 0;

    // tankNumber 1..64
    TankEntry& Tank(int tankNumber) { return Tanks[static_cast<size_t>(tankNumber - 1)]; }
    const TankEntry& Tank(int tankNumber) const {
        return Tanks[static_cast<size_t>(tankNumber - 1)];
    }

    // The lowest-numbered configured tank on this channel address, or nullptr.
    const TankEntry* FindByChannel(int channelAddress) const;
};

// Float on the wire: b0 b1 = register n (less significant half), b2 b3 = register n + 1.
float WireToFloat(const uint8_t* b);
// The inverse, for simulators and tests.
void FloatToWire(float value, uint8_t* b);

// ---- RegisterImage ----

template <int F, int C>
void RegisterImage<F, C>::StoreWire(int reg, const uint8_t* wire, int count) {
    if (!InRange(reg, count)) return;
    std::memcpy(bytes_.data() + Offset(reg), wire, static_cast<size_t>(2 * count));
}

template <int F, int C>
void RegisterImage<F, C>::ConvertFloat(int reg) {
    if (!InRange(reg, 2)) return;
    const float v = WireToFloat(bytes_.data() + Offset(reg));
    std::memcpy(bytes_.data() + Offset(reg), &v, sizeof v);
}

template <int F, int C>
void RegisterImage<F, C>::ConvertHeight(int reg) {
    if (!InRange(reg, 1)) return;
    const uint16_t v = Reg(reg);
    std::memcpy(bytes_.data() + Offset(reg), &v, sizeof v);
}

template <int F, int C>
uint16_t RegisterImage<F, C>::Reg(int reg) const {
    if (!InRange(reg, 1)) return 0;
    return static_cast<uint16_t>(bytes_[Offset(reg)] << 8 | bytes_[Offset(reg) + 1]);
}

template <int F, int C>
float RegisterImage<F, C>::Float(int reg) const {
    float v = 0.0f;
    if (InRange(reg, 2)) std::memcpy(&v, bytes_.data() + Offset(reg), sizeof v);
    return v;
}

template <int F, int C>
uint16_t RegisterImage<F, C>::Height(int reg) const {
    uint16_t v = 0;
    if (InRange(reg, 1)) std::memcpy(&v, bytes_.data() + Offset(reg), sizeof v);
    return v;
}

template <int F, int C>
ValueSlot RegisterImage<F, C>::Slot(int reg) const {
    ValueSlot s;
    if (!InRange(reg, 3)) return s;
    s.Value = Float(reg);
    s.StateFirstByte = HighByte(reg + 2);
    s.FlagsByte = LowByte(reg + 2);
    return s;
}

}  // namespace conv
