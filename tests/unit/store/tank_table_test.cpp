#include "store/tank_table.h"

#include <gtest/gtest.h>

#include "unit/bench.h"

namespace conv::test {
namespace {

TEST(TankTable, FloatsLowWordFirstAndTheStateRegisterAsReceived) {
    EXPECT_EQ(WireToFloat(Hex("00 00 41 20").data()), 10.0f);
    uint8_t wire[4];
    FloatToWire(-5.25f, wire);
    EXPECT_EQ(Bytes(wire, wire + 4), Hex("00 00 C0 A8"));
    MainBlock main;
    PutSlot(main, 3, 10.0f, 0xFB40);
    EXPECT_EQ(main.Level().Value, 10.0f);
    EXPECT_EQ(main.Level().StateFirstByte, 0xFB);
    EXPECT_EQ(main.Level().FlagsByte, 0x40);
    EXPECT_EQ(main.Level().State(), 0xFB40);
    DensityBlock density;
    PutSlot(density, 265, 1.0f, 0xFB00);
    EXPECT_EQ(density.HeightRefinement(3), -5);  // signed tenths of a millimetre
}

TEST(TankTable, TextFieldsOfTheMainBlock) {
    MainBlock main;
    const Bytes text = Hex("31 32 33 00 39 39 07 2A");  // "123", index 7, version 42
    main.StoreWire(36, text.data(), 4);
    EXPECT_EQ(main.SoftwareNumber(), "123");
    EXPECT_EQ(main.ProductIndex(), 7);
    EXPECT_EQ(main.SoftwareVersion(), 42);
    main.StoreWire(36, Hex("41 42 43 44 45 46").data(), 3);
    EXPECT_EQ(main.SoftwareNumber(), "ABCDEF");
}

TEST(TankTable, NothingOutsideABlockIsWrittenOrRead) {
    GasBlock gas;
    const Bytes regs(40, 0x11);
    gas.StoreWire(0, regs.data(), 19);  // the block holds registers 0..17
    gas.StoreWire(17, regs.data(), 2);
    gas.StoreWire(-1, regs.data(), 2);
    gas.ConvertFloat(17);
    gas.ConvertHeight(18);
    EXPECT_EQ(gas.Bytes(), (std::array<uint8_t, 36>{}));
    gas.StoreWire(0, regs.data(), 18);
    EXPECT_EQ(gas.Reg(17), 0x1111);
    EXPECT_EQ(gas.Reg(18), 0);
    EXPECT_EQ(gas.Slot(16).State(), 0);
    EXPECT_EQ(gas.Float(17), 0.0f);
    EXPECT_EQ(gas.Height(18), 0);
}

}  // namespace
}  // namespace conv::test
