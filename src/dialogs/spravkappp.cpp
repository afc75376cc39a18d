#include "dialogs/spravkappp.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QSplitter>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>
#include <functional>
#include <string>
#include <vector>

#include "core/viewer_formats.h"
#include "dialogs/string_grid.h"
#include "settings/text_codec.h"

namespace conv {
namespace {

// Scales of the fixed columns: hundredths of the unit, densities from g/cm³ to kg/m³ in
// hundredths, gas values in thousandths.
constexpr double kHundredths = 100;
constexpr double kDensityScale = 100000;
constexpr double kThousandths = 1000;

// One value column: its header and what a tank shows in it.
struct ValueColumn {
    std::string header;
    std::function<std::string(const TankEntry&)> text;
};

// What one grid lists: tanks of one type, each with its number, its channel address and the
// value columns. Columns beyond the value columns stay empty.
struct GridSpec {
    int tankType;
    int columnCount;
    std::vector<ValueColumn> values;
};

using SlotOf = std::function<ValueSlot(const TankEntry&)>;

ValueColumn FixedColumn(std::string header, SlotOf slot, double scale, int places = 2) {
    return {std::move(header), [slot, scale, places](const TankEntry& t) {
                return FormatFixed(slot(t).Value, scale, places);
            }};
}
ValueColumn StateColumn(std::string header, SlotOf slot) {
    return {std::move(header), [slot](const TankEntry& t) { return FormatStateHex(slot(t)); }};
}
std::string Number(int64_t n) {
    return std::to_string(n);
}
std::string K(int k) {
    return std::to_string(k);
}

const GridSpec& MainGrid() {
    static const GridSpec layout = [] {
        GridSpec g{kLevelGauge, 29, {}};
        // Value and state column pairs of the main block, in the order of the grid.
        struct Pair {
            const char* value;
            const char* state;
            ValueSlot (MainBlock::*slot)() const;
            double scale;
        };
        const Pair pairs[] = {
            {"Н ,мм", "Сост.Н.", &MainBlock::Level, kHundredths},
            {"М ,кг", "Сост.М", &MainBlock::Mass, kHundredths},
            {"V ,л", "Сост.V", &MainBlock::Volume, kHundredths},
            {"Pср,кг/м3", "Сост.Рср", &MainBlock::MeanDensity, kDensityScale},
            {"Тср,С", "Сост.Тср", &MainBlock::MeanTemp, kHundredths},
            {"Нв,мм", "Сост.Нв", &MainBlock::WaterLevel, kHundredths},
            {"Pap,кг/м3", "Сост.Pap", &MainBlock::Pap, kDensityScale},
            {"Tap,C", "Сост.Tap", &MainBlock::Tap, kHundredths},
            {"Ppf,кг/м3", "Сост.Ppf", &MainBlock::Ppf, kDensityScale},
            {"Tpf,C", "Сост.Tpf", &MainBlock::Tpf, kHundredths},
            {"Dpf,мПа", "Сост.Dpf", &MainBlock::Dpf, kHundredths},
        };
        for (const Pair& p : pairs) {
            const SlotOf slot = [f = p.slot](const TankEntry& t) { return (t.Main.*f)(); };
            g.values.push_back(FixedColumn(p.value, slot, p.scale));
            g.values.push_back(StateColumn(p.state, slot));
        }
        g.values.push_back(
            {"N ПО", [](const TankEntry& t) { return Cp1251ToUtf8(t.Main.SoftwareNumber()); }});
        g.values.push_back(
            {"Вер ПО", [](const TankEntry& t) { return Number(t.Main.SoftwareVersion()); }});
        g.values.push_back(
            {"Инд.НП", [](const TankEntry& t) { return Number(t.Main.ProductIndex()); }});
        const SlotOf vmax = [](const TankEntry& t) { return t.Main.VolumeMax(); };
        g.values.push_back(FixedColumn("Vmax,л", vmax, kHundredths));
        g.values.push_back(StateColumn("Сост.Vmax", vmax));
        return g;
    }();
    return layout;
}

const GridSpec& TempGrid() {
    static const GridSpec layout = [] {
        GridSpec g{kLevelGauge, 65, {}};
        for (int k = 1; k <= TempBlock::kPoints; ++k) {
            const SlotOf slot = [k](const TankEntry& t) { return t.Temp.Point(k); };
            g.values.push_back(FixedColumn("T" + K(k) + ",C", slot, kHundredths));
            g.values.push_back(StateColumn("Сост.T" + K(k), slot));
            g.values.push_back({"Коор.T" + K(k) + ",мм", [k](const TankEntry& t) {
                                    return Number(t.TempCoords.PointHeight(k));
                                }});
        }
        return g;
    }();
    return layout;
}

const GridSpec& DensityGrid() {
    static const GridSpec layout = [] {
        GridSpec g{kLevelGauge, 28, {}};
        for (int k = 1; k <= DensityBlock::kProbes; ++k) {
            const SlotOf slot = [k](const TankEntry& t) { return t.Density.Probe(k); };
            g.values.push_back(FixedColumn("ДП" + K(k) + ",кг/м3", slot, kDensityScale));
            // The first byte of a probe's state register is its height refinement, shown with
            // the height; only the flags are a state.
            g.values.push_back({"Сост.ДП" + K(k), [k](const TankEntry& t) {
                                    return FormatFlagsHex(t.Density.Probe(k).FlagsByte);
                                }});
            g.values.push_back({"Коор.ДП" + K(k) + ",мм", [k](const TankEntry& t) {
                                    return FormatScaledInteger(t.ProbeHeightTenths(k), 1);
                                }});
            g.values.push_back({"Temp.ДП" + K(k) + ",C", [k](const TankEntry& t) {
                                    return FormatFixed(t.Probe.ProbeTemp(k), kHundredths, 2);
                                }});
        }
        return g;
    }();
    return layout;
}

const GridSpec& GasGrid() {
    static const GridSpec layout = [] {
        GridSpec g{kGasTank, 20, {}};
        for (int k = 1; k <= GasBlock::kSensors; ++k) {
            const SlotOf slot = [k](const TankEntry& t) { return t.Gas.Sensor(k); };
            g.values.push_back(FixedColumn("ДЗО 0" + K(k) + ",%", slot, kThousandths, 3));
            g.values.push_back(StateColumn("Сост.ДЗО" + K(k), slot));
        }
        return g;
    }();
    return layout;
}

const GridSpec& PressureGrid() {
    static const GridSpec layout = [] {
        GridSpec g{kPressureTank, 20, {}};
        for (int k = 1; k <= PressureBlock::kSensors; ++k) {
            const SlotOf slot = [k](const TankEntry& t) { return t.Pressure.Sensor(k); };
            g.values.push_back(FixedColumn("ДД" + K(k) + ",мПа", slot, kHundredths));
            g.values.push_back(StateColumn("Сост.ДД" + K(k), slot));
        }
        return g;
    }();
    return layout;
}

// The texts of a grid for the table as it stands: the header row, then one row per listed tank
// in ascending tank number, without gaps.
std::vector<std::vector<std::string>> GridTexts(const GridSpec& layout, const TankTable& table) {
    std::vector<std::vector<std::string>> rows;
    std::vector<std::string> header{"N п/п", "Адрес канала"};
    for (const ValueColumn& c : layout.values) header.push_back(c.header);
    rows.push_back(std::move(header));
    for (int n = 1; n <= kTankCount; ++n) {
        const TankEntry& t = table.Tank(n);
        if (t.Configured != 1 || t.TankType() != layout.tankType) continue;
        std::vector<std::string> row{Number(n), Number(t.ChannelAddress)};
        for (const ValueColumn& c : layout.values) row.push_back(c.text(t));
        rows.push_back(std::move(row));
    }
    return rows;
}

// Every grid is rebuilt the same way; only its description differs.
void Rebuild(StringGrid& grid, const GridSpec& layout, const TankTable& table) {
    const auto rows = GridTexts(layout, table);
    grid.SetRowCount(std::max<int>(kViewerGridRows, static_cast<int>(rows.size())));
    grid.Assign(rows);
}

StringGrid* MakeGrid(const GridSpec& layout, QWidget* parent) {
    auto* g = new StringGrid(layout.columnCount, kViewerGridRows, parent);
    for (int c = 0; c < layout.columnCount; ++c) {
        g->setColumnWidth(c, c == 2 ? 60 : c == 3 ? 70 : 64);
    }
    // Widths as written, widened where a header or a value would be cut: a hidden digit is a
    // wrong reading.
    g->SetColumnsFitText(true);
    g->setEditTriggers(QAbstractItemView::NoEditTriggers);
    g->setSelectionBehavior(QAbstractItemView::SelectRows);
    g->setSelectionMode(QAbstractItemView::SingleSelection);
    return g;
}

QToolButton* SpeedButton(QWidget* parent, const char* caption, const char* hint) {
    auto* b = new QToolButton(parent);
    b->setText(QString::fromUtf8(caption));
    b->setToolTip(QString::fromUtf8(hint));
    b->setAutoRaise(true);
    b->setToolButtonStyle(Qt::ToolButtonTextOnly);
    return b;
}

}  // namespace

TF_SpravkaPPP::TF_SpravkaPPP(Converter& conv, AppServices& services, QWidget* parent)
    : Form(conv, services, parent) {
    setWindowTitle(QStringLiteral("Информация поступающая с ДА"));

    auto* sSplitter1 = new QSplitter(Qt::Vertical, this);
    auto* sPanel1 = new QFrame(sSplitter1);
    sPanel1->setFrameShape(QFrame::StyledPanel);
    auto* buttons = new QHBoxLayout(sPanel1);
    buttons->setContentsMargins(2, 2, 2, 2);
    sSpeedButton1 = SpeedButton(sPanel1, "ППП Осн. пар-ры", "Справка по основным параметрам");
    sSpeedButton3 = SpeedButton(sPanel1, "ППП Tемпература", "Справка по по датчикам температуры");
    sSpeedButton4 = SpeedButton(sPanel1, "ППП Плотность", "Справка по датчикам плотности");
    sSpeedButton2 = SpeedButton(sPanel1, "ДЗО", "Справка по датчикам загазованности");
    SpeedButton3 = SpeedButton(sPanel1, "ДД", "Справка по дадчикам давления");
    SpeedButton6 = SpeedButton(sPanel1, "", "Выход");
    SpeedButton6->setIcon(style()->standardIcon(QStyle::SP_DialogCloseButton));
    SpeedButton6->setToolButtonStyle(Qt::ToolButtonIconOnly);
    for (QToolButton* b :
         {sSpeedButton1, sSpeedButton3, sSpeedButton4, sSpeedButton2, SpeedButton3, SpeedButton6}) {
        buttons->addWidget(b);
    }
    buttons->addStretch();

    auto* sPanel2 = new QWidget(sSplitter1);
    auto* client = new QVBoxLayout(sPanel2);
    client->setContentsMargins(0, 0, 0, 0);
    StringGrid1 = MakeGrid(MainGrid(), sPanel2);
    StringGrid4 = MakeGrid(TempGrid(), sPanel2);
    StringGrid5 = MakeGrid(DensityGrid(), sPanel2);
    StringGrid2 = MakeGrid(GasGrid(), sPanel2);
    StringGrid3 = MakeGrid(PressureGrid(), sPanel2);
    for (StringGrid* g : {StringGrid1, StringGrid4, StringGrid5, StringGrid2, StringGrid3}) {
        client->addWidget(g);
    }
    sSplitter1->addWidget(sPanel1);
    sSplitter1->addWidget(sPanel2);
    sSplitter1->setStretchFactor(1, 1);
    sSplitter1->setChildrenCollapsible(false);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(sSplitter1);

    connect(sSpeedButton1, &QToolButton::clicked, this, &TF_SpravkaPPP::sSpeedButton1Click);
    connect(sSpeedButton3, &QToolButton::clicked, this, &TF_SpravkaPPP::sSpeedButton3Click);
    connect(sSpeedButton4, &QToolButton::clicked, this, &TF_SpravkaPPP::sSpeedButton4Click);
    connect(sSpeedButton2, &QToolButton::clicked, this, &TF_SpravkaPPP::sSpeedButton2Click);
    connect(SpeedButton3, &QToolButton::clicked, this, &TF_SpravkaPPP::SpeedButton3Click);
    connect(SpeedButton6, &QToolButton::clicked, this, &TF_SpravkaPPP::SpeedButton6Click);

    Timer1.setInterval(1000);
    connect(&Timer1, &QTimer::timeout, this, &TF_SpravkaPPP::Timer1Timer);

    ShowOnly(StringGrid1);
    resize(820, 480);
    CentreOnScreen();
}

void TF_SpravkaPPP::Draw() {
    Rebuild(*StringGrid1, MainGrid(), conv_.Table);
}
void TF_SpravkaPPP::DrawTemp() {
    Rebuild(*StringGrid4, TempGrid(), conv_.Table);
}
void TF_SpravkaPPP::DrawPlot() {
    Rebuild(*StringGrid5, DensityGrid(), conv_.Table);
}
void TF_SpravkaPPP::Draw1() {
    Rebuild(*StringGrid2, GasGrid(), conv_.Table);
}
void TF_SpravkaPPP::Draw2() {
    Rebuild(*StringGrid3, PressureGrid(), conv_.Table);
}

void TF_SpravkaPPP::ShowOnly(StringGrid* grid) {
    for (StringGrid* g : {StringGrid1, StringGrid4, StringGrid5, StringGrid2, StringGrid3}) {
        g->setVisible(g == grid);
    }
}

void TF_SpravkaPPP::FormShow() {
    // The density grid is first filled by the first tick.
    Draw();
    Draw1();
    Draw2();
    DrawTemp();
    ShowOnly(StringGrid1);
    if (!Timer1.isActive()) Timer1.start();
}

void TF_SpravkaPPP::Timer1Timer() {
    if (Timer1Busy == 1) return;
    Timer1Busy = 1;
    Draw();
    DrawTemp();
    DrawPlot();
    Draw1();
    Draw2();
    Timer1Busy = 0;
}

// However the viewer goes (this button, the close box, Escape), a hidden viewer does no work.
void TF_SpravkaPPP::FormClose() {
    Timer1.stop();
}

void TF_SpravkaPPP::SpeedButton6Click() {
    if (Timer1.isActive()) Timer1.stop();
    reject();
}

}  // namespace conv
