#include "dialogs/ustcom.h"

#include <QAbstractItemView>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStyle>
#include <QVBoxLayout>
#include <algorithm>
#include <filesystem>
#include <system_error>

#include "core/operator_boxes.h"
#include "settings/keys.h"
#include "settings/settings_file.h"

namespace conv {
namespace {

constexpr int kLeastBoxWidth = 120;
constexpr int kFirstComPort = 1;
constexpr int kLastComPort = 254;

#ifndef _WIN32
// Natural order: a shorter name of one family has the smaller number.
bool NaturalLess(const std::string& a, const std::string& b) {
    return a.size() != b.size() ? a.size() < b.size() : a < b;
}

void ScanFolder(const std::filesystem::path& dir, const std::string& prefix, bool natural,
                std::vector<std::string>& out) {
    std::vector<std::string> found;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.rfind(prefix, 0) == 0) found.push_back(it->path().string());
    }
    if (natural) {
        std::sort(found.begin(), found.end(), NaturalLess);
    } else {
        std::sort(found.begin(), found.end());
    }
    out.insert(out.end(), found.begin(), found.end());
}
#endif

}  // namespace

// ---- RadioGroup ----

RadioGroup::RadioGroup(const QStringList& items, QWidget* parent)
    : QGroupBox(parent), buttons_(new QButtonGroup(this)) {
    auto* row = new QHBoxLayout(this);
    for (int i = 0; i < items.size(); ++i) {
        auto* b = new QRadioButton(items[i], this);
        buttons_->addButton(b, i);
        row->addWidget(b);
    }
}

int RadioGroup::ItemIndex() const {
    return buttons_->checkedId();
}

void RadioGroup::SetItemIndex(int index) {
    if (QAbstractButton* b = buttons_->button(index)) b->setChecked(true);
}

// ---- device scan ----

std::vector<std::string> ScanSerialDevices(const std::string& root) {
    std::vector<std::string> out;
#ifndef _WIN32
    const std::filesystem::path dev(root);
    ScanFolder(dev, "ttyUSB", true, out);
    ScanFolder(dev, "ttyACM", true, out);
    ScanFolder(dev / "serial" / "by-id", "", false, out);
#else
    (void)root;
#endif
    return out;
}

// ---- TF_UstCom ----

TF_UstCom::TF_UstCom(Converter& conv, AppServices& services, QWidget* parent)
    : Form(conv, services, parent) {
    setWindowTitle(QStringLiteral("Установка по COM-портам"));

    const QStringList items{QStringLiteral("Не существует"), QStringLiteral("Существует")};
    auto* panel = new QFrame(this);
    panel->setFrameShape(QFrame::StyledPanel);
    auto* rows = new QGridLayout(panel);
    const auto side = [&](int row, const char* label, RadioGroup*& group, QComboBox*& combo) {
        rows->addWidget(new QLabel(QString::fromUtf8(label), panel), row, 0);
        group = new RadioGroup(items, panel);
        rows->addWidget(group, row, 1);
        combo = new QComboBox(panel);
        combo->setEditable(true);
        combo->setInsertPolicy(QComboBox::NoInsert);
        combo->setMaxVisibleItems(8);
        combo->setSizeAdjustPolicy(QComboBox::AdjustToContents);
        combo->setMinimumWidth(kLeastBoxWidth);
        rows->addWidget(combo, row, 2);
    };
    const auto millis = [&](const ini::RangedKey& key) {
        auto* box = new QSpinBox(panel);
        box->setRange(key.Min, key.Max);
        box->setSuffix(QStringLiteral(" мс"));
        return box;
    };
    const auto modeRow = [&](int row, QCheckBox* fast, std::initializer_list<QWidget*> more) {
        auto* line = new QHBoxLayout;
        line->addWidget(fast);
        for (QWidget* w : more) line->addWidget(w);
        line->addStretch();
        rows->addLayout(line, row, 1, 1, 2);
    };
    side(0, "MODBUS", sRadioGroup1, sComboBox1);
    sCheckBox1 = new QCheckBox(QString::fromUtf8(ini::kFastPoll.Key), panel);
    sSpinEdit1 = millis(ini::kReplyTimeout);
    sSpinEdit2 = millis(ini::kQuietPause);
    modeRow(1, sCheckBox1,
            {new QLabel(QString::fromUtf8(ini::kReplyTimeout.Key), panel), sSpinEdit1,
             new QLabel(QString::fromUtf8(ini::kQuietPause.Key), panel), sSpinEdit2});
    side(2, "VELT", sRadioGroup2, sComboBox2);
    sCheckBox2 = new QCheckBox(QString::fromUtf8(ini::kFastReply.Key), panel);
    modeRow(3, sCheckBox2, {});

    sButton1 = new QPushButton(QStringLiteral("&Применить"), this);
    sButton2 = new QPushButton(QStringLiteral("&Выход"), this);
    sButton1->setAutoDefault(false);
    sButton2->setAutoDefault(false);
    connect(sButton1, &QPushButton::clicked, this, &TF_UstCom::sButton1Click);
    connect(sButton2, &QPushButton::clicked, this, &TF_UstCom::sButton2Click);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(sButton1);
    buttons->addWidget(sButton2);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(panel, 1);
    layout->addLayout(buttons);
    resize(481, 261);
    CentreOnScreen();
}

void TF_UstCom::AddToBothLists(const QString& name) {
    sComboBox1->addItem(name);
    sComboBox2->addItem(name);
}

void TF_UstCom::OfferPort(const std::string& name) {
    const ProgramState& s = conv_.State;
    const QString q = QString::fromStdString(name);
    if (services_.probePort(name) == 0) {
        AddToBothLists(q);
        return;
    }
    // Held by this program (or missing): still offered under the name a side is set to.
    if (name == s.ModbusPortName) AddToBothLists(q);
    if (name == s.VeltPortName) AddToBothLists(q);
}

void TF_UstCom::FormShow() {
    sComboBox1->clear();
    sComboBox2->clear();
    for (int i = kFirstComPort; i <= kLastComPort; ++i) OfferPort("Com" + std::to_string(i));
    // USB adapters, so that one can be chosen without typing its path.
    for (const std::string& device : ScanSerialDevices(DeviceRoot)) OfferPort(device);

    const ProgramState& s = conv_.State;
    sRadioGroup1->SetItemIndex(s.ModbusPortExists != 0 ? 1 : 0);
    sComboBox1->setEditText(QString::fromStdString(s.ModbusPortName));
    sRadioGroup2->SetItemIndex(s.VeltPortExists != 0 ? 1 : 0);
    sComboBox2->setEditText(QString::fromStdString(s.VeltPortName));
    sCheckBox1->setChecked(s.ModbusFast == 1);
    sSpinEdit1->setValue(s.ModbusTimeoutMs);
    sSpinEdit2->setValue(s.ModbusPauseMs);
    sCheckBox2->setChecked(s.VeltFast == 1);
    FitBoxesToNames();
}

// A device path must be read whole to be told from its neighbours: each box is made as wide as
// its longest name, and its open list too; the dialog grows to hold the boxes when it must.
void TF_UstCom::FitBoxesToNames() {
    for (QComboBox* box : {sComboBox1, sComboBox2}) {
        box->setMinimumWidth(std::max(kLeastBoxWidth, box->sizeHint().width()));
        QAbstractItemView* list = box->view();
        list->setMinimumWidth(list->sizeHintForColumn(0) +
                              2 * list->style()->pixelMetric(QStyle::PM_DefaultFrameWidth) +
                              list->style()->pixelMetric(QStyle::PM_ScrollBarExtent));
    }
    if (layout()) layout()->activate();
    CentreOnScreen();
}

void TF_UstCom::sButton1Click() {
    ProgramState& s = conv_.State;
    SettingsFile f(services_.SettingsPath());
    // In order; a refused write skips the rest, and what was already set in memory stays set.
    const bool written = [&] {
        s.ModbusPortName = sComboBox1->currentText().toStdString();
        if (!f.WriteString(ini::kModbus, ini::kPortName, s.ModbusPortName)) return false;
        const int modbusIndex = sRadioGroup1->ItemIndex();
        if (!f.WriteString(ini::kModbus, ini::kPortExists, std::to_string(modbusIndex))) {
            return false;
        }
        s.ModbusPortExists = modbusIndex;
        s.VeltPortName = sComboBox2->currentText().toStdString();
        if (!f.WriteString(ini::kVelt, ini::kPortName, s.VeltPortName)) return false;
        const int veltIndex = sRadioGroup2->ItemIndex();
        if (!f.WriteString(ini::kVelt, ini::kPortExists, std::to_string(veltIndex))) return false;
        s.VeltPortExists = veltIndex;
        // Then the modes, each taking effect in memory once the file holds it.
        const auto store = [&](const ini::RangedKey& key, int value, int32_t& field) {
            if (!f.WriteString(key.Section, key.Key, std::to_string(value))) return false;
            field = value;
            return true;
        };
        return store(ini::kFastPoll, sCheckBox1->isChecked() ? 1 : 0, s.ModbusFast) &&
               store(ini::kReplyTimeout, sSpinEdit1->value(), s.ModbusTimeoutMs) &&
               store(ini::kQuietPause, sSpinEdit2->value(), s.ModbusPauseMs) &&
               store(ini::kFastReply, sCheckBox2->isChecked() ? 1 : 0, s.VeltFast);
    }();
    services_.boxes->Show(written ? "Информация зафиксирована!" : "Проблемы с записью в INI-файл",
                          kAppTitle);
}

}  // namespace conv
