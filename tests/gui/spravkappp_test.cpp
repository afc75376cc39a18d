// Current data viewer: which tanks each grid lists, values that reach their cells (their formats
// are the core's) and are never cut, and the refresh that runs only while the viewer is open.
#include <QStyle>
#include <QTest>
#include <QToolButton>
#include <algorithm>
#include <tuple>

#include "dialogs/string_grid.h"
#include "gui/dialog_env.h"
#include "support/gauge_values.h"

using namespace conv;
using namespace conv::test;

namespace {

constexpr uint16_t kState = 0xABCD;  // the register's first byte, then the flags

// The tanks a grid lists, as "tank:channel".
QString Listed(const StringGrid& g) {
    QStringList out;
    for (int r = 1; r < g.RowCount() && !g.Cell(0, r).isEmpty(); ++r) {
        out << g.Cell(0, r) + ":" + g.Cell(1, r);
    }
    return out.join(' ');
}

}  // namespace

class SpravkaTest : public QObject {
    Q_OBJECT

  private slots:
    // Each grid, as its button shows it (the only one visible), lists the configured tanks of
    // its type in ascending number; a tank whose type changed moves at the next tick, the rows
    // below moving up; all 64 of one type get rows. The refresh runs only while the viewer is
    // open, however it is closed.
    void eachGridListsTheTanksOfItsType() {
        test::DialogEnv e;
        TF_SpravkaPPP& v = *e.windows->F_SpravkaPPP;
        TankTable& t = e.conv.Table;
        for (const auto& [tank, address, type] :
             {std::tuple{2, 11, 0}, {5, 3, 1}, {7, 4, 2}, {9, 300, 0}, {11, 6, 3}, {13, 7, 0}}) {
            ConfigureTank(t, tank, address, type);
        }
        t.Tank(13).Configured = 2;  // only exactly 1 counts
        const std::pair<QToolButton*, StringGrid*> shows[] = {{v.sSpeedButton3, v.StringGrid4},
                                                              {v.sSpeedButton4, v.StringGrid5},
                                                              {v.sSpeedButton2, v.StringGrid2},
                                                              {v.SpeedButton3, v.StringGrid3},
                                                              {v.sSpeedButton1, v.StringGrid1}};
        const auto grids = [&] {
            QStringList s;
            for (const auto& [button, grid] : shows) {
                QTest::mouseClick(button, Qt::LeftButton);
                const auto visible =
                    std::ranges::count_if(v.findChildren<StringGrid*>(), &QWidget::isVisible);
                s << (grid->isVisible() && visible == 1 ? Listed(*grid) : "hidden");
            }
            return s.join(" | ");
        };
        v.show();
        QTRY_COMPARE_WITH_TIMEOUT(grids(), "2:11 9:300 | 2:11 9:300 | 7:4 | 5:3 | 2:11 9:300",
                                  10000);
        ConfigureTank(t, 2, 11, 1);
        v.Timer1Timer();
        QCOMPARE(grids(), "9:300 | 9:300 | 7:4 | 2:11 5:3 | 9:300");
        QCOMPARE(v.StringGrid1->Cell(0, 2), QString());
        for (int n = 1; n <= kTankCount; ++n) ConfigureTank(t, n, n, 0);
        v.Timer1Timer();
        QCOMPARE(v.StringGrid1->Cell(0, 64), QStringLiteral("64"));
        QTest::mouseClick(v.sSpeedButton2, Qt::LeftButton);
        QTest::mouseClick(v.SpeedButton6, Qt::LeftButton);
        QVERIFY(!v.isVisible() && !v.Timer1.isActive());
        v.show();
        QVERIFY(v.StringGrid1->isVisible() && v.Timer1.isActive());
        v.close();  // the window's close box
        QVERIFY(!v.Timer1.isActive());
    }

    // Values reach their cells, and none of them is cut: a column grows to fit what it shows,
    // large values too. Fitting is measured as the style draws: a cell's text between its
    // margins, inside the grid line.
    void everyValueStandsWholeInItsColumn() {
        test::DialogEnv e;
        TankTable& t = e.conv.Table;
        TankEntry& level = ConfigureTank(t, 64, 255, 0);
        for (int reg : MainBlock::kFloatRegs) PutSlot(level.Main, reg, 10412300.0f + reg, kState);
        for (int k = 1; k <= TempBlock::kPoints; ++k) {
            PutSlot(level.Temp, TempBlock::PointReg(k), -16240.5f - k, kState);
            PutHeight(level.TempCoords, 193 + k, 65535 - k);
        }
        for (int k = 1; k <= DensityBlock::kProbes; ++k) {
            PutSlot(level.Density, DensityBlock::ProbeReg(k), 1.0412f, 0x7FCD);
            PutProbe(level.Probe, ProbeBlock::HeightReg(k), 65535 - k, -16240.5f - k);
        }
        TankEntry& pressure = ConfigureTank(t, 63, 254, 1);
        for (int k = 1; k <= PressureBlock::kSensors; ++k) {
            PutSlot(pressure.Pressure, PressureBlock::SensorReg(k), 10412300.0f + k, kState);
        }
        TankEntry& gas = ConfigureTank(t, 62, 253, 2);
        for (int k = 1; k <= GasBlock::kSensors; ++k) {
            PutSlot(gas.Gas, GasBlock::SensorReg(k), 104123.45f + k, kState);
        }
        TF_SpravkaPPP& v = *e.windows->F_SpravkaPPP;
        v.show();
        v.Timer1Timer();  // the density grid is first filled by the first tick
        const std::tuple<StringGrid*, const char*, const char*> cells[] = {
            {v.StringGrid1, "Сост.Н.", "cdab"},
            {v.StringGrid4, "Коор.T21,мм", "65514"},
            {v.StringGrid5, "Temp.ДП5,C", "-16245.50"},
            {v.StringGrid2, "ДЗО 05,%", "104128.453"},
            {v.StringGrid3, "ДД9,мПа", "10412309.00"}};
        for (const auto& [g, header, text] : cells) {
            int c = 0;
            while (c < g->ColCount() && g->Cell(c, 0) != header) ++c;
            QCOMPARE(g->Cell(c, 1), QString::fromUtf8(text));
        }
        for (StringGrid* g :
             {v.StringGrid1, v.StringGrid4, v.StringGrid5, v.StringGrid2, v.StringGrid3}) {
            const int cellMargin = g->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, 0, g) + 1;
            for (int c = 0; c < g->ColCount(); ++c) {
                const int width = g->columnWidth(c);
                const QString head = g->Cell(c, 0), value = g->Cell(c, 1);
                QVERIFY2(g->fontMetrics().horizontalAdvance(value) + 2 * cellMargin <= width - 1,
                         qPrintable(head + ": " + value));
            }
        }
    }
};

QTEST_MAIN(SpravkaTest)
#include "spravkappp_test.moc"
