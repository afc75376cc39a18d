// Current data viewer: the cell formats, which tanks each grid lists, and the refresh timer.
#include "dialogs/spravkappp.h"

#include <QHeaderView>
#include <QStyle>
#include <QTest>
#include <QToolButton>
#include <array>
#include <cmath>
#include <limits>

#include "core/viewer_formats.h"
#include "dialogs/string_grid.h"
#include "gui/dialog_env.h"
#include "support/scripted_ui_qt.h"

using namespace conv;

namespace {

// Stores a value as the gauge sends it: float low word first, then the state register.
template <class Block>
void SetSlot(Block& b, int reg, float value, uint8_t stateHigh = 0, uint8_t flags = 0) {
    uint8_t w[6];
    FloatToWire(value, w);
    w[4] = stateHigh;
    w[5] = flags;
    b.StoreWire(reg, w, 3);
    b.ConvertFloat(reg);
}
template <class Block>
void SetFloat(Block& b, int reg, float value) {
    uint8_t w[4];
    FloatToWire(value, w);
    b.StoreWire(reg, w, 2);
    b.ConvertFloat(reg);
}
template <class Block>
void SetHeight(Block& b, int reg, uint16_t mm) {
    const uint8_t w[2] = {static_cast<uint8_t>(mm >> 8), static_cast<uint8_t>(mm)};
    b.StoreWire(reg, w, 1);
    b.ConvertHeight(reg);
}

// Every sensor of a pressure or gas block at one value, its state bytes AB CD.
template <class Block>
void SetEverySlot(Block& b, float value) {
    std::array<uint8_t, Block::kBytes> wire{};
    for (int k = 1; k <= Block::kSensors; ++k) {
        uint8_t* slot = wire.data() + 2 * Block::SensorReg(k);
        FloatToWire(value, slot);
        slot[4] = 0xAB;
        slot[5] = 0xCD;
    }
    b.StoreWire(0, wire.data(), Block::kCount);
    for (int k = 1; k <= Block::kSensors; ++k) b.ConvertFloat(Block::SensorReg(k));
}

void AddTank(TankTable& t, int number, int address, uint8_t type) {
    TankEntry& e = t.Tank(number);
    e.Configured = 1;
    e.ChannelAddress = address;
    const uint8_t regs[6] = {type, 0, 0, 0, 0, 0};
    e.Type.StoreWire(0, regs, 3);
}
void SetType(TankTable& t, int number, uint8_t type) {
    AddTank(t, number, t.Tank(number).ChannelAddress, type);
}

// Column 0 of the data rows: the tank numbers listed, in order.
QStringList Listed(const StringGrid& g) {
    QStringList out;
    for (int r = 1; r < g.RowCount() && !g.Cell(0, r).isEmpty(); ++r) out << g.Cell(0, r);
    return out;
}

QStringList Row(const StringGrid& g, int row, int firstCol, int lastCol) {
    QStringList out;
    for (int c = firstCol; c <= lastCol; ++c) out << g.Cell(c, row);
    return out;
}

}  // namespace

class SpravkaTest : public QObject {
    Q_OBJECT

  private slots:
    void init() {
        env = std::make_unique<test::DialogEnv>();
        dlg = std::make_unique<TF_SpravkaPPP>(env->conv, env->services);
    }
    void cleanup() {
        dlg.reset();
        env.reset();
    }

    // Truncated, never rounded; a sign only when the truncated value is below zero.
    void fixedFormats() {
        QCOMPARE(FormatFixed(1234.567f, 100, 2), std::string("1234.56"));
        QCOMPARE(FormatFixed(0.05f, 100, 2), std::string("0.05"));
        QCOMPARE(FormatFixed(0.0f, 100, 2), std::string("0.00"));
        QCOMPARE(FormatFixed(0.75234f, 100000, 2), std::string("752.34"));
        QCOMPARE(FormatFixed(12.3456f, 1000, 3), std::string("12.345"));
        QCOMPARE(FormatFixed(0.29f, 100, 2), std::string("0.28"));  // 28.99999... truncated
        QCOMPARE(FormatFixed(-5.678f, 100, 2), std::string("-5.67"));
        QCOMPARE(FormatFixed(-0.004f, 100, 2), std::string("0.00"));
        QCOMPARE(FormatFixed(-0.05f, 100, 2), std::string("-0.05"));
        QCOMPARE(FormatFixed(-1200.0f, 100, 2), std::string("-1200.00"));
        // A negative value in a column of quantities that cannot be negative keeps its sign.
        QCOMPARE(FormatFixed(-12.34f, 100, 2), std::string("-12.34"));
        // Garbage from a gauge does not stop the viewer.
        QCOMPARE(FormatFixed(std::numeric_limits<float>::quiet_NaN(), 100, 2), std::string("NAN"));
        QCOMPARE(FormatFixed(-std::numeric_limits<float>::infinity(), 100, 2), std::string("-INF"));
        // Beyond any machine integer (a density of 1e15 g/cm³ in kg/m³ hundredths), every digit
        // kept.
        QCOMPARE(FormatFixed(1e15f, 100000, 2), std::string("999999986991104000.00"));
    }

    void hexAndHeightFormats() {
        ValueSlot s;
        s.StateFirstByte = 0x00;
        s.FlagsByte = 0x40;
        QCOMPARE(FormatStateHex(s), std::string("4000"));
        s.StateFirstByte = 0x01;
        s.FlagsByte = 0x02;
        QCOMPARE(FormatStateHex(s), std::string("201"));
        s.StateFirstByte = 0xAB;
        s.FlagsByte = 0x00;
        QCOMPARE(FormatStateHex(s), std::string("ab"));
        QCOMPARE(FormatStateHex(ValueSlot{}), std::string("0"));
        QCOMPARE(FormatFlagsHex(0x40), std::string("40"));
        QCOMPARE(FormatFlagsHex(0xFF), std::string("ff"));

        TankEntry t;
        SetHeight(t.Probe, ProbeBlock::HeightReg(1), 1234);
        SetSlot(t.Density, DensityBlock::ProbeReg(1), 0.8f, 5, 0);
        QCOMPARE(FormatScaledInteger(t.ProbeHeightTenths(1), 1), std::string("1234.5"));
        SetSlot(t.Density, DensityBlock::ProbeReg(1), 0.8f, 0xFB, 0);
        QCOMPARE(FormatScaledInteger(t.ProbeHeightTenths(1), 1), std::string("1233.5"));
        QCOMPARE(FormatScaledInteger(t.ProbeHeightTenths(2), 1), std::string("0.0"));
        SetSlot(t.Density, DensityBlock::ProbeReg(2), 0.8f, 0xFB, 0);
        QCOMPARE(FormatScaledInteger(t.ProbeHeightTenths(2), 1), std::string("-0.5"));
        SetHeight(t.Probe, ProbeBlock::HeightReg(5), 65535);
        SetSlot(t.Density, DensityBlock::ProbeReg(5), 0.8f, 0x7F, 0);
        QCOMPARE(FormatScaledInteger(t.ProbeHeightTenths(5), 1), std::string("65547.7"));
    }

    void windowAndButtons() {
        QCOMPARE(dlg->windowTitle(), QString("Информация поступающая с ДА"));
        const std::pair<QToolButton*, const char*> hints[] = {
            {dlg->sSpeedButton1, "Справка по основным параметрам"},
            {dlg->sSpeedButton3, "Справка по по датчикам температуры"},
            {dlg->sSpeedButton4, "Справка по датчикам плотности"},
            {dlg->sSpeedButton2, "Справка по датчикам загазованности"},
            {dlg->SpeedButton3, "Справка по дадчикам давления"},
            {dlg->SpeedButton6, "Выход"}};
        for (const auto& [button, hint] : hints) QCOMPARE(button->toolTip(), QString(hint));
        QCOMPARE(dlg->sSpeedButton3->text(), QString("ППП Tемпература"));
        QVERIFY(dlg->SpeedButton6->text().isEmpty());

        dlg->show();
        const std::pair<QToolButton*, StringGrid*> shows[] = {
            {dlg->sSpeedButton3, dlg->StringGrid4},
            {dlg->sSpeedButton4, dlg->StringGrid5},
            {dlg->sSpeedButton2, dlg->StringGrid2},
            {dlg->SpeedButton3, dlg->StringGrid3},
            {dlg->sSpeedButton1, dlg->StringGrid1}};
        for (const auto& [button, grid] : shows) {
            button->click();
            for (StringGrid* g : {dlg->StringGrid1, dlg->StringGrid2, dlg->StringGrid3,
                                  dlg->StringGrid4, dlg->StringGrid5}) {
                QCOMPARE(g->isVisible(), g == grid);
            }
        }
        for (StringGrid* g : {dlg->StringGrid1, dlg->StringGrid2, dlg->StringGrid3,
                              dlg->StringGrid4, dlg->StringGrid5}) {
            QCOMPARE(g->RowCount(), 62);
            QCOMPARE(g->editTriggers(), QAbstractItemView::NoEditTriggers);
            QCOMPARE(g->selectionBehavior(), QAbstractItemView::SelectRows);
        }
        // A new showing always starts on the main parameters.
        dlg->sSpeedButton2Click();
        dlg->close();
        dlg->show();
        QVERIFY(dlg->StringGrid1->isVisible());
        QVERIFY(!dlg->StringGrid2->isVisible());
    }

    // Each grid lists the configured tanks of its type, without gaps, in ascending number.
    void eachGridListsTheTanksOfItsType() {
        TankTable& t = env->conv.Table;
        AddTank(t, 2, 11, 0);
        AddTank(t, 5, 3, 1);
        AddTank(t, 7, 4, 2);
        AddTank(t, 9, 300, 0);  // an address beyond a byte is shown whole
        AddTank(t, 11, 6, 3);   // a type no grid shows
        AddTank(t, 13, 7, 0);
        t.Tank(13).Configured = 0;
        AddTank(t, 15, 8, 0);
        t.Tank(15).Configured = 2;  // only exactly 1 counts
        dlg->show();
        dlg->Timer1Timer();
        QCOMPARE(Listed(*dlg->StringGrid1), (QStringList{"2", "9"}));
        QCOMPARE(Listed(*dlg->StringGrid4), (QStringList{"2", "9"}));
        QCOMPARE(Listed(*dlg->StringGrid5), (QStringList{"2", "9"}));
        QCOMPARE(Listed(*dlg->StringGrid3), QStringList{"5"});
        QCOMPARE(Listed(*dlg->StringGrid2), QStringList{"7"});
        QCOMPARE(dlg->StringGrid1->Cell(1, 2), QString("300"));
        QCOMPARE(dlg->StringGrid3->Cell(1, 1), QString("3"));
    }

    void mainGridShowsEachValueInItsFormat() {
        TankTable& t = env->conv.Table;
        AddTank(t, 4, 2, 0);
        MainBlock& m = t.Tank(4).Main;
        SetSlot(m, 3, 1234.567f, 0x00, 0x40);                            // level, state bytes 00 40
        SetSlot(m, 12, 0.75234f, 0x01, 0x02);                            // mean density
        SetSlot(m, 15, -5.678f);                                         // mean temperature
        SetSlot(m, 24, -0.004f);                                         // Tap
        SetSlot(m, 42, 50000.25f, 0xAB, 0);                              // Vmax
        const uint8_t software[8] = {'A', 'B', '1', '2', 0, 'Z', 7, 3};  // then index 7, version 3
        m.StoreWire(36, software, 4);
        dlg->show();
        const StringGrid& g = *dlg->StringGrid1;
        QCOMPARE(g.ColCount(), 29);
        QCOMPARE(Row(g, 0, 0, 4),
                 (QStringList{"N п/п", "Адрес канала", "Н ,мм", "Сост.Н.", "М ,кг"}));
        QCOMPARE(Row(g, 0, 8, 11), (QStringList{"Pср,кг/м3", "Сост.Рср", "Тср,С", "Сост.Тср"}));
        QCOMPARE(Row(g, 0, 24, 28),
                 (QStringList{"N ПО", "Вер ПО", "Инд.НП", "Vmax,л", "Сост.Vmax"}));
        QCOMPARE(Row(g, 1, 0, 4), (QStringList{"4", "2", "1234.56", "4000", "0.00"}));
        QCOMPARE(Row(g, 1, 8, 11), (QStringList{"752.34", "201", "-5.67", "0"}));
        QCOMPARE(Row(g, 1, 16, 17), (QStringList{"0.00", "0"}));
        QCOMPARE(Row(g, 1, 24, 28), (QStringList{"AB12", "3", "7", "50000.25", "ab"}));
    }

    // Right after start-up a level gauge shows zeros and an empty software number.
    void aTankWithNothingReceivedShowsZeros() {
        AddTank(env->conv.Table, 1, 0, 0);
        dlg->show();
        dlg->Timer1Timer();
        const StringGrid& main = *dlg->StringGrid1;
        for (int c = 2; c <= 22; c += 2) QCOMPARE(main.Cell(c, 1), QString("0.00"));
        for (int c = 3; c <= 23; c += 2) QCOMPARE(main.Cell(c, 1), QString("0"));
        QCOMPARE(main.Cell(24, 1), QString());
        const StringGrid& density = *dlg->StringGrid5;
        for (int k = 0; k < 5; ++k) {
            QCOMPARE(Row(density, 1, 2 + 4 * k, 5 + 4 * k),
                     (QStringList{"0.00", "0", "0.0", "0.00"}));
        }
        QCOMPARE(dlg->StringGrid4->Cell(64, 1), QString("0"));
    }

    void temperatureGridHasThreeColumnsPerPoint() {
        TankTable& t = env->conv.Table;
        AddTank(t, 3, 1, 0);
        SetSlot(t.Tank(3).Temp, TempBlock::PointReg(1), 21.5f, 0, 0x40);
        SetSlot(t.Tank(3).Temp, TempBlock::PointReg(21), -12.345f, 0x02, 0);
        SetHeight(t.Tank(3).TempCoords, 193 + 21, 65000);
        dlg->show();
        const StringGrid& g = *dlg->StringGrid4;
        QCOMPARE(g.ColCount(), 65);
        QCOMPARE(Row(g, 0, 2, 4), (QStringList{"T1,C", "Сост.T1", "Коор.T1,мм"}));
        QCOMPARE(Row(g, 0, 62, 64), (QStringList{"T21,C", "Сост.T21", "Коор.T21,мм"}));
        QCOMPARE(Row(g, 1, 2, 4), (QStringList{"21.50", "4000", "0"}));
        QCOMPARE(Row(g, 1, 62, 64), (QStringList{"-12.34", "2", "65000"}));
    }

    // The refinement byte of a probe's state goes into its height; its state column shows only
    // the flags. The grid is first filled by the first tick.
    void densityGridAfterTheFirstTick() {
        TankTable& t = env->conv.Table;
        AddTank(t, 6, 1, 0);
        TankEntry& e = t.Tank(6);
        SetSlot(e.Density, DensityBlock::ProbeReg(1), 0.75234f, 5, 0x40);
        SetHeight(e.Probe, ProbeBlock::HeightReg(1), 1234);
        SetFloat(e.Probe, ProbeBlock::HeightReg(1) + 1, -3.5f);
        SetSlot(e.Density, DensityBlock::ProbeReg(5), 0.8f, 0xFB, 0);
        SetHeight(e.Probe, ProbeBlock::HeightReg(5), 1234);
        dlg->show();
        const StringGrid& g = *dlg->StringGrid5;
        QCOMPARE(g.Cell(2, 0), QString());
        dlg->Timer1Timer();
        QCOMPARE(g.ColCount(), 28);
        QCOMPARE(Row(g, 0, 2, 5),
                 (QStringList{"ДП1,кг/м3", "Сост.ДП1", "Коор.ДП1,мм", "Temp.ДП1,C"}));
        QCOMPARE(Row(g, 0, 18, 21),
                 (QStringList{"ДП5,кг/м3", "Сост.ДП5", "Коор.ДП5,мм", "Temp.ДП5,C"}));
        QCOMPARE(Row(g, 1, 2, 5), (QStringList{"752.34", "40", "1234.5", "-3.50"}));
        QCOMPARE(Row(g, 1, 18, 21), (QStringList{"800.00", "0", "1233.5", "0.00"}));
        for (int c = 22; c <= 27; ++c) {
            QCOMPARE(g.Cell(c, 0), QString());
            QCOMPARE(g.Cell(c, 1), QString());
        }
    }

    void gasAndPressureGrids() {
        TankTable& t = env->conv.Table;
        AddTank(t, 8, 5, 2);
        SetSlot(t.Tank(8).Gas, GasBlock::SensorReg(1), 12.3456f, 0, 0x40);
        SetSlot(t.Tank(8).Gas, GasBlock::SensorReg(5), 0.5f);
        AddTank(t, 10, 6, 1);
        SetSlot(t.Tank(10).Pressure, PressureBlock::SensorReg(9), 101.325f, 0x10, 0x01);
        dlg->show();
        const StringGrid& gas = *dlg->StringGrid2;
        QCOMPARE(Row(gas, 0, 2, 3), (QStringList{"ДЗО 01,%", "Сост.ДЗО1"}));
        QCOMPARE(Row(gas, 0, 10, 11), (QStringList{"ДЗО 05,%", "Сост.ДЗО5"}));
        QCOMPARE(Row(gas, 1, 2, 3), (QStringList{"12.345", "4000"}));
        QCOMPARE(Row(gas, 1, 10, 11), (QStringList{"0.500", "0"}));
        for (int c = 12; c <= 19; ++c) QCOMPARE(gas.Cell(c, 0), QString());
        const StringGrid& pressure = *dlg->StringGrid3;
        QCOMPARE(Row(pressure, 0, 18, 19), (QStringList{"ДД9,мПа", "Сост.ДД9"}));
        QCOMPARE(Row(pressure, 1, 18, 19), (QStringList{"101.32", "110"}));
    }

    // No digit or letter is cut: a column keeps at least its written width and grows to fit
    // what it shows, large values too. Fitting is measured as the style draws: a cell's text
    // between its margins, inside the grid line; a header's between the header margins.
    void everyValueAndHeaderFitsItsColumn() {
        TankTable& t = env->conv.Table;
        AddTank(t, 64, 255, 0);
        AddTank(t, 63, 254, 1);
        AddTank(t, 62, 253, 2);
        TankEntry& level = t.Tank(64);
        for (int reg : MainBlock::kFloatRegs) SetSlot(level.Main, reg, 10412345.0f, 0xAB, 0xCD);
        const uint8_t software[8] = {'W', 'W', 'W', 'W', 'W', 'W', 255, 255};
        level.Main.StoreWire(36, software, 4);
        for (int k = 1; k <= TempBlock::kPoints; ++k) {
            SetSlot(level.Temp, TempBlock::PointReg(k), -16240.5f, 0xAB, 0xCD);
            SetHeight(level.TempCoords, 193 + k, 65535);
        }
        for (int k = 1; k <= DensityBlock::kProbes; ++k) {
            SetSlot(level.Density, DensityBlock::ProbeReg(k), 1.0412f, 0x7F, 0xCD);
            SetHeight(level.Probe, ProbeBlock::HeightReg(k), 65535);
            SetFloat(level.Probe, ProbeBlock::HeightReg(k) + 1, -16240.5f);
        }
        SetEverySlot(t.Tank(63).Pressure, 10412345.0f);
        SetEverySlot(t.Tank(62).Gas, 104123.45f);
        dlg->show();
        dlg->Timer1Timer();
        QCOMPARE(dlg->StringGrid1->Cell(2, 1), QString("10412345.00"));

        for (StringGrid* g : {dlg->StringGrid1, dlg->StringGrid4, dlg->StringGrid5,
                              dlg->StringGrid2, dlg->StringGrid3}) {
            QStyle& style = *g->style();
            const int cellMargin = style.pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, g) + 1;
            QHeaderView& header = *g->horizontalHeader();
            const int headerMargin = style.pixelMetric(QStyle::PM_HeaderMargin, nullptr, &header);
            for (int c = 0; c < g->ColCount(); ++c) {
                const int width = g->columnWidth(c);
                QVERIFY(width >= (c == 2 ? 60 : c == 3 ? 70 : 64));
                const QString head = g->Cell(c, 0);
                QVERIFY2(header.fontMetrics().horizontalAdvance(head) + 2 * headerMargin <= width,
                         qPrintable(head));
                const QString value = g->Cell(c, 1);
                QVERIFY2(g->fontMetrics().horizontalAdvance(value) + 2 * cellMargin <= width - 1,
                         qPrintable(head + ": " + value));
            }
        }
    }

    // A tank whose type changed leaves its old grids at the next tick; the rows below move up.
    void aTypeChangeMovesTheTankAtTheNextTick() {
        TankTable& t = env->conv.Table;
        AddTank(t, 2, 1, 0);
        AddTank(t, 3, 2, 0);
        AddTank(t, 4, 3, 0);
        AddTank(t, 9, 4, 1);
        dlg->show();
        SetType(t, 3, 1);
        QCOMPARE(Listed(*dlg->StringGrid1), (QStringList{"2", "3", "4"}));  // until the tick
        dlg->Timer1Timer();
        QCOMPARE(Listed(*dlg->StringGrid1), (QStringList{"2", "4"}));
        QCOMPARE(Listed(*dlg->StringGrid4), (QStringList{"2", "4"}));
        QCOMPARE(Listed(*dlg->StringGrid3), (QStringList{"3", "9"}));
        QCOMPARE(Row(*dlg->StringGrid1, 3, 0, 28), QStringList(29, QString()));

        t.Tank(2).Configured = 0;  // unconfigured by the setup dialog
        dlg->Timer1Busy = 1;       // a tick while the previous one runs does nothing
        dlg->Timer1Timer();
        QCOMPARE(Listed(*dlg->StringGrid1), (QStringList{"2", "4"}));
        dlg->Timer1Busy = 0;
        dlg->Timer1Timer();
        QCOMPARE(Listed(*dlg->StringGrid1), QStringList{"4"});
    }

    // All 64 tanks of one type are shown, not only the 61 that the grid starts with.
    void moreTanksThanRowsGetRows() {
        for (int n = 1; n <= 64; ++n) AddTank(env->conv.Table, n, n, 0);
        dlg->show();
        QCOMPARE(dlg->StringGrid1->RowCount(), 65);
        QCOMPARE(dlg->StringGrid1->Cell(0, 64), QString("64"));
        env->conv.Table.Tank(64).Configured = 0;
        dlg->Timer1Timer();
        QCOMPARE(dlg->StringGrid1->RowCount(), 64);
    }

    // The refresh runs only while the viewer is open, however it is closed.
    void theRefreshStopsWithTheViewer() {
        QVERIFY(!dlg->Timer1.isActive());
        dlg->show();
        QVERIFY(dlg->Timer1.isActive());
        QCOMPARE(dlg->Timer1.interval(), 1000);
        AddTank(env->conv.Table, 12, 1, 0);
        QTRY_COMPARE_WITH_TIMEOUT(Listed(*dlg->StringGrid1), QStringList{"12"}, 10000);

        dlg->SpeedButton6Click();
        QVERIFY(!dlg->isVisible());
        QVERIFY(!dlg->Timer1.isActive());

        dlg->show();
        QVERIFY(dlg->Timer1.isActive());
        dlg->close();  // the window's close box
        QVERIFY(!dlg->Timer1.isActive());

        env->dialogs.Then(
            [](QDialog& d) { QVERIFY(static_cast<TF_SpravkaPPP&>(d).Timer1.isActive()); });
        env->dialogs.Run(*dlg);
        QVERIFY(!dlg->Timer1.isActive());
    }

  private:
    std::unique_ptr<test::DialogEnv> env;
    std::unique_ptr<TF_SpravkaPPP> dlg;
};

QTEST_MAIN(SpravkaTest)
#include "spravkappp_test.moc"
