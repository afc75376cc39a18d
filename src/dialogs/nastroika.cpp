#include "dialogs/nastroika.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QTimer>
#include <QVBoxLayout>
#include <optional>
#include <vector>

#include "core/operator_boxes.h"
#include "core/tank_list.h"
#include "dialogs/string_grid.h"
#include "settings/ini_document.h"
#include "settings/keys.h"
#include "settings/settings_file.h"

namespace conv {
namespace {

constexpr int kSlaveDigits = 3;
constexpr int kTankColumn = 0;
constexpr int kAddressColumn = 1;

const QRegularExpression& DigitsOnly() {
    static const QRegularExpression re(QStringLiteral("^\\d{0,3}$"));
    return re;
}

// A data row as numbers: its tank number and its channel address.
struct GridRow {
    int tank = 0;
    int address = 0;
};

bool Whole(const QString& text, int& out) {
    return ParseWholeNumber(text.toStdString(), out);
}

// What a command accepts in the grid's rows, and the message it shows for a row it does not.
struct RowLimits {
    int lastTank;     // tanks from 1
    int lastAddress;  // addresses from 0
    const char* message;
};
constexpr RowLimits kSaveLimits{16, 15, "Проверьте правильность введенных данных!(0-15)"};
// Remove's own limits; its message names 0-255 as it always has.
constexpr RowLimits kRemoveLimits{kTankCount, 64,
                                  "Проверьте правильность введенных данных!(0-255)"};

// The data rows as numbers; nullopt when a cell is not a whole number or is beyond the limits.
std::optional<std::vector<GridRow>> GridRows(const StringGrid& g, const RowLimits& limits) {
    std::vector<GridRow> rows;
    for (int r = 1; r < g.RowCount(); ++r) {
        GridRow row;
        if (!Whole(g.Cell(kTankColumn, r), row.tank) ||
            !Whole(g.Cell(kAddressColumn, r), row.address) || row.tank < 1 ||
            row.tank > limits.lastTank || row.address < 0 || row.address > limits.lastAddress) {
            return std::nullopt;
        }
        rows.push_back(row);
    }
    return rows;
}

bool Repeated(const std::vector<GridRow>& rows, int GridRow::*field) {
    for (size_t i = 0; i < rows.size(); ++i) {
        for (size_t j = i + 1; j < rows.size(); ++j) {
            if (rows[i].*field == rows[j].*field) return true;
        }
    }
    return false;
}

}  // namespace

// ---- SlaveAddressEdit ----

SlaveAddressEdit::SlaveAddressEdit(QWidget* parent) : QLineEdit(parent) {
    setValidator(new QRegularExpressionValidator(DigitsOnly(), this));
    // The three positions are filled in once the operator leaves the field, so that typing is
    // never disturbed by zeros appearing under the cursor.
    connect(this, &QLineEdit::editingFinished, this, [this] {
        if (text() != ThreeDigitText()) setText(ThreeDigitText());
    });
}

QString SlaveAddressEdit::ThreeDigitText() const {
    const QString raw = text();
    if (!DigitsOnly().match(raw).hasMatch()) return raw;
    return raw.rightJustified(kSlaveDigits, QLatin1Char('0'));
}

void SlaveAddressEdit::SetText(const QString& text) {
    setText(DigitsOnly().match(text).hasMatch() ? text.rightJustified(kSlaveDigits, u'0') : text);
}

void SlaveAddressEdit::focusInEvent(QFocusEvent* e) {
    QLineEdit::focusInEvent(e);
    // Whatever is typed replaces the whole address; deferred past the click that gave the focus.
    QTimer::singleShot(0, this, &QLineEdit::selectAll);
}

// ---- TF_Nastroika ----

TF_Nastroika::TF_Nastroika(Converter& conv, AppServices& services, QWidget* parent)
    : Form(conv, services, parent) {
    setWindowTitle(QStringLiteral("Настройка каналов датчиковой аппаратуры"));

    StringGrid1 = new StringGrid(2, 2, this);
    StringGrid1->setColumnWidth(kTankColumn, 64);
    StringGrid1->setColumnWidth(kAddressColumn, 93);
    StringGrid1->setSelectionMode(QAbstractItemView::ContiguousSelection);
    StringGrid1->setTabKeyNavigation(true);
    StringGrid1->setEditTriggers(QAbstractItemView::DoubleClicked |
                                 QAbstractItemView::EditKeyPressed |
                                 QAbstractItemView::AnyKeyPressed);
    StringGrid1->setMinimumWidth(64 + 93 + 24);
    WriteHeader();
    // A cell counts as selected when the operator picks it: a click, or a move from a cell
    // already picked. The current cell that the view sets by itself when it takes the focus is
    // no choice, so nothing is selected until the operator chooses (and "Убрать" does nothing).
    connect(StringGrid1, &QTableWidget::cellPressed, this,
            [this](int row, int col) { StringGrid1SelectCell(col, row + 1); });
    connect(StringGrid1, &QTableWidget::currentCellChanged, this,
            [this](int row, int col, int previousRow, int) {
                if (row >= 0 && previousRow >= 0) StringGrid1SelectCell(col, row + 1);
            });

    PopupMenu1 = new QMenu(this);
    N1 = PopupMenu1->addAction(QStringLiteral("Добавить"));
    N2 = PopupMenu1->addAction(QStringLiteral("Убрать"));
    connect(N1, &QAction::triggered, this, &TF_Nastroika::N1Click);
    connect(N2, &QAction::triggered, this, &TF_Nastroika::N2Click);
    StringGrid1->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(StringGrid1, &QWidget::customContextMenuRequested, this, [this](const QPoint& p) {
        PopupMenu1->popup(StringGrid1->viewport()->mapToGlobal(p));
    });

    sMaskEdit1 = new SlaveAddressEdit(this);
    sMaskEdit1->setFixedWidth(48);
    sMaskEdit1->SetText(QStringLiteral("80"));
    sLabel4 = new QLabel(QStringLiteral("0x50"), this);
    connect(sMaskEdit1, &QLineEdit::textChanged, this, &TF_Nastroika::sMaskEdit1Change);

    auto* hintSlave = new QLabel(QStringLiteral("Адреса Slave          0-255"), this);
    auto* hintChannels = new QLabel(QStringLiteral("Адреса каналов   0-15."), this);
    for (QLabel* hint : {hintSlave, hintChannels}) {
        hint->setStyleSheet(QStringLiteral("color: red;"));
        hint->setTextFormat(Qt::PlainText);
    }

    sButton1 = new QPushButton(QStringLiteral("&Сохранить"), this);
    sButton2 = new QPushButton(QStringLiteral("&Выход"), this);
    sButton1->setAutoDefault(false);
    sButton2->setAutoDefault(false);
    connect(sButton1, &QPushButton::clicked, this, &TF_Nastroika::sButton1Click);
    connect(sButton2, &QPushButton::clicked, this, &TF_Nastroika::sButton2Click);

    auto* fields = new QGridLayout;
    fields->addWidget(new QLabel(QStringLiteral("Адрес SLAVE"), this), 0, 0, 1, 2);
    fields->addWidget(sMaskEdit1, 1, 0);
    fields->addWidget(new QLabel(QStringLiteral("DEC"), this), 1, 1);
    fields->addWidget(sLabel4, 2, 0);
    fields->addWidget(new QLabel(QStringLiteral("HEX"), this), 2, 1);

    auto* side = new QVBoxLayout;
    side->addLayout(fields);
    side->addSpacing(12);
    side->addWidget(hintSlave);
    side->addWidget(hintChannels);
    side->addStretch();
    side->addWidget(sButton1);
    side->addWidget(sButton2);

    auto* layout = new QHBoxLayout(this);
    layout->addWidget(StringGrid1, 1);
    layout->addLayout(side);
    resize(420, 360);
    CentreOnScreen();
}

TF_Nastroika::~TF_Nastroika() = default;

SettingsFile& TF_Nastroika::Settings() {
    if (!settings_) settings_ = std::make_unique<SettingsFile>(services_.SettingsPath());
    return *settings_;
}

void TF_Nastroika::WriteHeader() {
    StringGrid1->SetCell(kTankColumn, 0, QStringLiteral("N п/п"));
    StringGrid1->SetCell(kAddressColumn, 0, QStringLiteral("Адрес канала"));
}

// Data rows 1, 2, ... with the configured tanks in ascending number. A table with more
// configured tanks than the grid has rows gets the rows it needs: every tank that is polled is
// shown, and Save and Remove, which apply the grid, never act on a tank the operator cannot see.
void TF_Nastroika::ListConfiguredTanks() {
    int configured = 0;
    for (const TankEntry& t : conv_.Table.Tanks) configured += t.Configured == 1;
    if (StringGrid1->RowCount() < configured + 1) StringGrid1->SetRowCount(configured + 1);
    StringGrid1->ClearCells();
    WriteHeader();
    int row = 1;
    for (int n = 1; n <= kTankCount; ++n) {
        const TankEntry& t = conv_.Table.Tank(n);
        if (t.Configured != 1) continue;
        StringGrid1->SetCell(kTankColumn, row, QString::number(n));
        StringGrid1->SetCell(kAddressColumn, row, QString::number(t.ChannelAddress));
        ++row;
    }
}

void TF_Nastroika::FormShow() {
    settings_ = std::make_unique<SettingsFile>(services_.SettingsPath());
    SettingsFile& f = *settings_;
    int listed = 0;
    // Opening, the slave address and the tanks are one block: a refused write ends it quietly, and
    // the grid shows the table as it then stands. So does a file that cannot be read: its
    // defaults would unconfigure every tank that is being polled.
    if (f.State() != FileState::kMissing || f.WriteString(ini::kTanks, "1", "1")) {
        sMaskEdit1->SetText(QString::number(conv_.Table.SlaveAddress));
        if (const std::optional<IniDocument> doc = f.Document()) {
            listed = ReadTankList(*doc, conv_.Table);
        }
    }
    StringGrid1->SetRowCount(listed + 1);
    ListConfiguredTanks();
}

void TF_Nastroika::FormClose() {
    settings_.reset();
}

void TF_Nastroika::N1Click() {
    StringGrid1->SetRowCount(StringGrid1->RowCount() + 1);
}

void TF_Nastroika::StringGrid1SelectCell(int /*col*/, int row) {
    selectedRow_ = row;
}

void TF_Nastroika::N2Click() {
    if (selectedRow_ == 0) return;
    StringGrid& g = *StringGrid1;
    g.CommitEdit();
    if (g.Cell(kTankColumn, selectedRow_).isEmpty()) {
        // A row that was added and never filled: drop it, and with it every unapplied edit.
        g.DeleteLastRow();
        ListConfiguredTanks();
        return;
    }
    const std::optional<std::vector<GridRow>> rows = GridRows(g, kRemoveLimits);
    if (!rows) {
        services_.boxes->Show(kRemoveLimits.message, kAppTitle);
        return;
    }
    for (size_t i = 0; i < rows->size(); ++i) {
        const GridRow& row = (*rows)[i];
        TankEntry& t = conv_.Table.Tank(row.tank);
        const bool removed = static_cast<int>(i) + 1 == selectedRow_;
        t.Configured = removed ? 0 : 1;
        t.ChannelAddress = removed ? 0 : row.address;
    }
    g.DeleteLastRow();
    ListConfiguredTanks();
}

bool TF_Nastroika::ApplySlaveAddress(const QString& text) {
    int value = 0;
    if (!Whole(text, value)) {
        services_.boxes->Show("'" + text.toStdString() + "' is not a valid integer value",
                              kAppTitle);
        return false;
    }
    conv_.Table.SlaveAddress = value;
    return true;
}

void TF_Nastroika::sMaskEdit1Change() {
    if (!ApplySlaveAddress(sMaskEdit1->ThreeDigitText())) return;
    sLabel4->setText(QStringLiteral("0x") +
                     QString::number(static_cast<uint32_t>(conv_.Table.SlaveAddress), 16));
}

void TF_Nastroika::sButton1Click() {
    StringGrid1->CommitEdit();
    const QString slave = sMaskEdit1->ThreeDigitText();
    // The tank list is saved only with a slave address that is a number and a grid that passes
    // every check; `refusal` is the message of the first check that fails.
    int slaveValue = 0;
    std::optional<std::vector<GridRow>> rows;
    const char* refusal = nullptr;
    if (Whole(slave, slaveValue)) {
        rows = GridRows(*StringGrid1, kSaveLimits);
        if (!rows) {
            refusal = kSaveLimits.message;
        } else if (Repeated(*rows, &GridRow::tank)) {
            refusal = "Номера резервуаров повторяются!";
        } else if (Repeated(*rows, &GridRow::address)) {
            refusal = "Адреса резервуаров повторяются!";
        }
        if (refusal) rows.reset();
    }
    // One replace of the file: the slave address whatever the checks say, and with it, when they
    // pass, the grid's tanks in place of every tank entry. A refused write changes nothing.
    SettingsFile& f = Settings();
    const bool written = f.Edit([&](IniDocument& doc) {
        doc.Set(ini::kSlave, ini::kSlaveAddress, slave.toStdString());
        if (!rows) return;
        for (int n = 1; n <= kTankCount; ++n) doc.Remove(ini::kTanks, std::to_string(n));
        // The numbers, not the cells' texts: a tank typed as "07" must be found again as key "7".
        for (const GridRow& row : *rows) {
            doc.Set(ini::kTanks, std::to_string(row.tank), std::to_string(row.address));
        }
    });
    if (!written) {
        ReportWriteError(*services_.boxes, f);
        return;
    }
    if (!ApplySlaveAddress(slave)) return;
    if (refusal) {
        services_.boxes->Show(refusal, kAppTitle);
        return;
    }
    for (const GridRow& row : *rows) {
        TankEntry& t = conv_.Table.Tank(row.tank);
        t.Configured = 1;
        t.ChannelAddress = row.address;
    }
    services_.boxes->Show("Информация зафиксирована!", kAppTitle);
}

}  // namespace conv
