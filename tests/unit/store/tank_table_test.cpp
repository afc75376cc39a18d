#include "store/tank_table.h"

#include <gtest/gtest.h>

namespace conv {
namespace {

TEST(RegisterConversion, FloatLowWordFirstAndHeightsHighByteFirst) {
    const uint8_t ten[] = {0x00, 0x00, 0x41, 0x20};
    EXPECT_FLOAT_EQ(WireToFloat(ten), 10.0f);

    uint8_t wire[4];
    FloatToWire(-5.25f, wire);
    EXPECT_FLOAT_EQ(WireToFloat(wire), -5.25f);

    TempCoordsBlock coords;
    const uint8_t h[] = {0x01, 0x2C};
    coords.StoreWire(194, h, 1);
    coords.ConvertHeight(194);
    EXPECT_EQ(coords.PointHeight(1), 300);
}

TEST(ValueSlots, StateRegisterStaysAsReceived) {
    MainBlock main;
    uint8_t regs[6];
    FloatToWire(1234.56f, regs);
    regs[4] = 0x00;
    regs[5] = 0x40;
    main.StoreWire(3, regs, 3);
    main.ConvertFloat(3);
    const ValueSlot level = main.Level();
    EXPECT_FLOAT_EQ(level.Value, 1234.56f);
    EXPECT_EQ(level.FlagsByte, 0x40);
    EXPECT_EQ(level.State(), 0x0040);
}

TEST(ValueSlots, WritesOutsideTheBlockAreIgnored) {
    GasBlock gas;
    const uint8_t regs[40] = {1, 2, 3};
    gas.StoreWire(0, regs, 20);  // the block holds 18 registers
    gas.StoreWire(17, regs, 2);
    gas.ConvertFloat(17);
    for (uint8_t b : gas.Bytes()) EXPECT_EQ(b, 0);
}

TEST(MainBlockFields, SoftwareNumberStopsAtZeroAndTextFieldsStayRaw) {
    MainBlock main;
    uint8_t regs[8] = {'1', '2', '3', 0, '9', '9', 7, 42};
    main.StoreWire(36, regs, 4);
    EXPECT_EQ(main.SoftwareNumber(), "123");
    EXPECT_EQ(main.ProductIndex(), 7);
    EXPECT_EQ(main.SoftwareVersion(), 42);
    uint8_t six[6] = {'A', 'B', 'C', 'D', 'E', 'F'};
    main.StoreWire(36, six, 3);
    EXPECT_EQ(main.SoftwareNumber(), "ABCDEF");
}

TEST(TypeBlockFields, TypeAndConfigWord) {
    TypeBlock type;
    const uint8_t regs[6] = {0x02, 0x00, 0x06, 0x01, 0xAA, 0xBB};
    type.StoreWire(0, regs, 3);
    EXPECT_EQ(type.TankType(), 2);
    EXPECT_EQ(type.ConfigWord(), 0x0601);
}

TEST(TankLookup, LowestNumberedConfiguredTankWins) {
    TankTable table;
    table.Tank(9).Configured = 1;
    table.Tank(9).ChannelAddress = 5;
    table.Tank(4).Configured = 1;
    table.Tank(4).ChannelAddress = 5;
    table.Tank(2).ChannelAddress = 5;  // not configured
    EXPECT_EQ(table.FindByChannel(5), &table.Tank(4));
    EXPECT_EQ(table.FindByChannel(6), nullptr);
}

TEST(ProbeHeights, RefinementIsSigned) {
    DensityBlock density;
    uint8_t regs[6] = {0, 0, 0, 0, 0xFB, 0x00};
    density.StoreWire(DensityBlock::ProbeReg(2), regs, 3);
    EXPECT_EQ(density.HeightRefinement(2), -5);
}

}  // namespace
}  // namespace conv
