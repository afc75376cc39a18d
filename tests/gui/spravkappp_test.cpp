// Current data viewer: which tanks each grid lists, each value in its column and format, cells
// and headers that are never cut, and the refresh that runs only while the viewer is open.
#include <QHeaderView>
#include <QStyle>
#include <QTest>
#include <QToolButton>
#include <algorithm>
#include <limits>
#include <tuple>

#include "core/viewer_formats.h"
#include "dialogs/string_grid.h"
#include "gui/dialog_env.h"

using namespace conv;

namespace {

// Stores a value as the gauge sends it: float low word first, then the state register's bytes.
template <class Block>
void SetSlot(Block& b, int reg, float value, uint8_t first = 0xAB, uint8_t flags = 0xCD) {
    uint8_t w[6] = {0, 0, 0, 0, first, flags};
    FloatToWire(value, w);
    b.StoreWire(reg, w, 3);
    b.ConvertFloat(reg);
}
// A height in mm at `reg`, and, for a probe, its temperature after it.
template <class Block>
void SetHeight(Block& b, int reg, uint16_t mm, int regs = 1, float temp = 0) {
    uint8_t w[6] = {static_cast<uint8_t>(mm >> 8), static_cast<uint8_t>(mm)};
    FloatToWire(temp, w + 2);
    b.StoreWire(reg, w, regs);
    b.ConvertHeight(reg);
    if (regs == 3) b.ConvertFloat(reg + 1);
}

TankEntry& AddTank(TankTable& t, int number, int address, uint8_t type) {
    TankEntry& e = t.Tank(number);
    e.Configured = 1;
    e.ChannelAddress = address;
    const uint8_t regs[6] = {type};
    e.Type.StoreWire(0, regs, 3);
    return e;
}

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
    // Truncated, never rounded, so that the viewer shows what the host is sent; a sign only when
    // the truncated value is below zero; garbage from a gauge does not stop the viewer.
    void fixedFormats() {
        const float nan = std::numeric_limits<float>::quiet_NaN();
        const float inf = std::numeric_limits<float>::infinity();
        const struct {
            float value;
            double scale;
            int places;
            const char* text;
        } cases[] = {{1234.567f, 100, 2, "1234.56"}, {0.05f, 100, 2, "0.05"},
                     {0.29f, 100, 2, "0.28"},        {-5.678f, 100, 2, "-5.67"},
                     {-0.004f, 100, 2, "0.00"},      {-0.05f, 100, 2, "-0.05"},
                     {12.3456f, 1000, 3, "12.345"},  {nan, 100, 2, "NAN"},
                     {-inf, 100, 2, "-INF"},         {1e15f, 100000, 2, "999999986991104000.00"}};
        for (const auto& c : cases) QCOMPARE(FormatFixed(c.value, c.scale, c.places), c.text);
        QCOMPARE(FormatScaledInteger(-5, 1), "-0.5");  // a probe refined below height 0
    }

    // Each grid lists the configured tanks of its type in ascending number; a tank whose type
    // changed moves at the next tick, the rows below moving up; all 64 of one type get rows.
    void eachGridListsTheTanksOfItsType() {
        test::DialogEnv e;
        TF_SpravkaPPP& v = *e.windows->F_SpravkaPPP;
        TankTable& t = e.conv.Table;
        for (const auto& [tank, address, type] :
             {std::tuple{2, 11, 0}, {5, 3, 1}, {7, 4, 2}, {9, 300, 0}, {11, 6, 3}, {13, 7, 0}}) {
            AddTank(t, tank, address, type);
        }
        t.Tank(13).Configured = 2;  // only exactly 1 counts
        const auto grids = [&v] {
            QStringList s;
            for (StringGrid* g :
                 {v.StringGrid1, v.StringGrid4, v.StringGrid5, v.StringGrid2, v.StringGrid3}) {
                s << Listed(*g);
            }
            return s.join(" | ");
        };
        v.show();
        v.Timer1Timer();
        QCOMPARE(grids(), "2:11 9:300 | 2:11 9:300 | 2:11 9:300 | 7:4 | 5:3");
        AddTank(t, 2, 11, 1);
        QCOMPARE(grids(), "2:11 9:300 | 2:11 9:300 | 2:11 9:300 | 7:4 | 5:3");
        v.Timer1Timer();
        QCOMPARE(grids(), "9:300 | 9:300 | 9:300 | 7:4 | 2:11 5:3");
        QCOMPARE(v.StringGrid1->Cell(0, 2), QString());
        for (int n = 1; n <= kTankCount; ++n) AddTank(t, n, n, 0);
        v.Timer1Timer();
        QCOMPARE(v.StringGrid1->Cell(0, 64), QStringLiteral("64"));
    }

    // Each value in its column and format (states as flags and first byte, a probe's height
    // with its refinement in tenths and only the flags as its state), and none of them cut: a
    // column keeps at least its written width and grows to fit what it shows, large values too.
    // Fitting is measured as the style draws: a cell's text between its margins, inside the grid
    // line; a header's between the header margins.
    void everyValueStandsWholeInItsColumn() {
        test::DialogEnv e;
        TankTable& t = e.conv.Table;
        TankEntry& level = AddTank(t, 64, 255, 0);
        for (int reg : MainBlock::kFloatRegs) SetSlot(level.Main, reg, 10412300.0f + reg);
        const uint8_t software[8] = {'W', 'W', 'W', 'W', 'W', 'W', 255, 254};
        level.Main.StoreWire(36, software, 4);
        for (int k = 1; k <= TempBlock::kPoints; ++k) {
            SetSlot(level.Temp, TempBlock::PointReg(k), -16240.5f - k);
            SetHeight(level.TempCoords, 193 + k, 65535 - k);
        }
        for (int k = 1; k <= DensityBlock::kProbes; ++k) {
            SetSlot(level.Density, DensityBlock::ProbeReg(k), 1.0412f, 0x7F);
            SetHeight(level.Probe, ProbeBlock::HeightReg(k), 65535 - k, 3, -16240.5f - k);
        }
        TankEntry& pressure = AddTank(t, 63, 254, 1);
        for (int k = 1; k <= PressureBlock::kSensors; ++k) {
            SetSlot(pressure.Pressure, PressureBlock::SensorReg(k), 10412300.0f + k);
        }
        TankEntry& gas = AddTank(t, 62, 253, 2);
        for (int k = 1; k <= GasBlock::kSensors; ++k) {
            SetSlot(gas.Gas, GasBlock::SensorReg(k), 104123.45f + k);
        }
        TF_SpravkaPPP& v = *e.windows->F_SpravkaPPP;
        v.show();
        v.Timer1Timer();  // the density grid is first filled by the first tick
        const std::tuple<StringGrid*, const char*, const char*> cells[] = {
            {v.StringGrid1, "Н ,мм", "10412303.00"},
            {v.StringGrid1, "Сост.Н.", "cdab"},
            {v.StringGrid1, "Pср,кг/м3", "10412312000.00"},
            {v.StringGrid1, "Тср,С", "10412315.00"},
            {v.StringGrid1, "Vmax,л", "10412342.00"},
            {v.StringGrid1, "N ПО", "WWWWWW"},
            {v.StringGrid1, "Вер ПО", "254"},
            {v.StringGrid1, "Инд.НП", "255"},
            {v.StringGrid4, "T21,C", "-16261.50"},
            {v.StringGrid4, "Коор.T21,мм", "65514"},
            {v.StringGrid5, "Сост.ДП5", "cd"},
            {v.StringGrid5, "Коор.ДП5,мм", "65542.7"},
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
            QHeaderView& header = *g->horizontalHeader();
            const int headerMargin = g->style()->pixelMetric(QStyle::PM_HeaderMargin, 0, &header);
            for (int c = 0; c < g->ColCount(); ++c) {
                const int width = g->columnWidth(c);
                QVERIFY(width >= (c == 2 ? 60 : c == 3 ? 70 : 64));
                const QString head = g->Cell(c, 0), value = g->Cell(c, 1);
                QVERIFY2(header.fontMetrics().horizontalAdvance(head) + 2 * headerMargin <= width,
                         qPrintable(head));
                QVERIFY2(g->fontMetrics().horizontalAdvance(value) + 2 * cellMargin <= width - 1,
                         qPrintable(head + ": " + value));
            }
        }
    }

    // Each button shows its grid and a new showing starts on the main one; the refresh runs
    // only while the viewer is open, however it is closed.
    void buttonsAndTheRefresh() {
        test::DialogEnv e;
        TF_SpravkaPPP& v = *e.windows->F_SpravkaPPP;
        v.show();
        AddTank(e.conv.Table, 12, 1, 0);
        QTRY_COMPARE_WITH_TIMEOUT(Listed(*v.StringGrid1), "12:1", 10000);
        const std::pair<QToolButton*, StringGrid*> shows[] = {{v.sSpeedButton3, v.StringGrid4},
                                                              {v.sSpeedButton4, v.StringGrid5},
                                                              {v.sSpeedButton2, v.StringGrid2},
                                                              {v.SpeedButton3, v.StringGrid3},
                                                              {v.sSpeedButton1, v.StringGrid1}};
        for (const auto& [button, grid] : shows) {
            QTest::mouseClick(button, Qt::LeftButton);
            QVERIFY(grid->isVisible());
            QCOMPARE(std::ranges::count_if(v.findChildren<StringGrid*>(), &QWidget::isVisible), 1);
        }
        QTest::mouseClick(v.sSpeedButton2, Qt::LeftButton);
        QTest::mouseClick(v.SpeedButton6, Qt::LeftButton);
        QVERIFY(!v.isVisible() && !v.Timer1.isActive());
        v.show();
        QVERIFY(v.StringGrid1->isVisible() && v.Timer1.isActive());
        v.close();  // the window's close box
        QVERIFY(!v.Timer1.isActive());
    }
};

QTEST_MAIN(SpravkaTest)
#include "spravkappp_test.moc"
