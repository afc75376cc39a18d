#include "app/modbusvelt.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QMenuBar>
#include <QScreen>
#include <QSplitter>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/log_pane_widget.h"
#include "app/qt_strings.h"
#include "core/line_modes.h"
#include "core/open_line.h"
#include "core/operator_boxes.h"
#include "core/startup_settings.h"
#include "dialogs/nastroika.h"
#include "dialogs/passwords.h"
#include "dialogs/spravkappp.h"
#include "dialogs/ustcom.h"
#include "settings/keys.h"
#include "settings/settings_file.h"

namespace conv {
namespace {

QToolButton* ToolButton(QWidget* parent, QStyle::StandardPixmap icon, const char* hint) {
    auto* b = new QToolButton(parent);
    b->setIcon(parent->style()->standardIcon(icon));
    b->setToolTip(Q(hint));
    b->setAutoRaise(true);
    b->setFixedHeight(29);
    return b;
}

}  // namespace

TF_ModbusVelt::TF_ModbusVelt(AppServices& services, QWidget* parent)
    : QMainWindow(parent), services_(services) {
    BuildWindow();
    auto modbusPort = services_.makePort();
    auto veltPort = services_.makePort();
    conv_ = std::make_unique<Converter>(*sRichEdit1, *sRichEdit2, std::move(modbusPort),
                                        std::move(veltPort));
    conv_->Poll.ShowPanel = [this](int n) {
        sPanel5->setText(QString::number(n));
        sPanel5->repaint();
    };

    Timer1.setInterval(800);
    Timer2.setInterval(55);
    Timer2.setTimerType(Qt::PreciseTimer);  // the host expects its answer within one tick
    Timer3.setInterval(1000);
    connect(&Timer1, &QTimer::timeout, this, &TF_ModbusVelt::Timer1Timer);
    connect(&Timer2, &QTimer::timeout, this, &TF_ModbusVelt::Timer2Timer);
    connect(&Timer3, &QTimer::timeout, this, &TF_ModbusVelt::Timer3Timer);
    Timer3.start();
    ModbusReopen.setSingleShot(true);
    VeltReopen.setSingleShot(true);
    connect(&ModbusReopen, &QTimer::timeout, this, [this] { TendPort(Side::kModbus); });
    connect(&VeltReopen, &QTimer::timeout, this, [this] { TendPort(Side::kVelt); });
}

TF_ModbusVelt::~TF_ModbusVelt() {
    StopLines();  // before the ports they watch go with the converter
}

void TF_ModbusVelt::BuildWindow() {
    setWindowTitle(Q(kMainCaption));
    resize(807, 477);
    QFont f(QStringLiteral("MS Sans Serif"));
    f.setPixelSize(11);
    setFont(f);

    QMenu* setup = menuBar()->addMenu(QStringLiteral("&Установка"));
    E1 = setup->addAction(QStringLiteral("Установка адресов каналов"));
    N2 = setup->addAction(QStringLiteral("Установка СОМ-порта"));
    QMenu* flag = setup->addMenu(QStringLiteral("Флаг ведения протокола"));
    N4 = flag->addAction(QStringLiteral("Установить"));
    N5 = flag->addAction(QStringLiteral("Снять"));
    E2 = setup->addAction(QStringLiteral("Установка пароля для закрытия АРМа"));
    D1 = menuBar()->addAction(QStringLiteral("&Выход"));
    connect(E1, &QAction::triggered, this, &TF_ModbusVelt::E1Click);
    connect(N2, &QAction::triggered, this, &TF_ModbusVelt::N2Click);
    connect(N4, &QAction::triggered, this, &TF_ModbusVelt::N4Click);
    connect(N5, &QAction::triggered, this, &TF_ModbusVelt::N5Click);
    connect(E2, &QAction::triggered, this, &TF_ModbusVelt::E2Click);
    connect(D1, &QAction::triggered, this, &TF_ModbusVelt::D1Click);

    auto* central = new QWidget(this);
    auto* column = new QVBoxLayout(central);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    auto* sPanel1 = new QFrame(central);
    sPanel1->setFixedHeight(33);
    sPanel1->setFrameShape(QFrame::StyledPanel);
    auto* row1 = new QHBoxLayout(sPanel1);
    row1->setContentsMargins(2, 2, 2, 2);
    SpeedButton8 = ToolButton(sPanel1, QStyle::SP_FileDialogDetailedView, "Установки по группам");
    SpeedButton7 =
        ToolButton(sPanel1, QStyle::SP_FileDialogContentsView, "Просмотр текущих заправок");
    SpeedButton6 = ToolButton(sPanel1, QStyle::SP_DialogCloseButton, "Выход");
    SpeedButton6->setFixedWidth(91);
    sLabel3 = new QLabel(Q(kLogFlagCleared), sPanel1);
    row1->addWidget(SpeedButton8);
    row1->addWidget(SpeedButton7);
    row1->addWidget(SpeedButton6);
    row1->addWidget(sLabel3);
    row1->addStretch();
    connect(SpeedButton8, &QToolButton::clicked, this, &TF_ModbusVelt::SpeedButton8Click);
    connect(SpeedButton7, &QToolButton::clicked, this, &TF_ModbusVelt::SpeedButton7Click);
    connect(SpeedButton6, &QToolButton::clicked, this, &TF_ModbusVelt::SpeedButton6Click);

    auto* sPanel2 = new QFrame(central);
    sPanel2->setFixedHeight(32);
    sPanel2->setFrameShape(QFrame::StyledPanel);
    auto* row2 = new QHBoxLayout(sPanel2);
    row2->setContentsMargins(2, 2, 2, 2);
    sPanel5 = new QLabel(sPanel2);
    sPanel5->setFixedSize(33, 25);
    sPanel5->setFrameShape(QFrame::Panel);
    sPanel5->setAlignment(Qt::AlignCenter);
    sPanel5->setStyleSheet(QStringLiteral("color: red;"));
    sLabel1 = new QLabel(Q(kModbusCaption), sPanel2);
    sLabel2 = new QLabel(Q(kVeltCaption), sPanel2);
    row2->addWidget(sPanel5);
    row2->addWidget(sLabel1);
    row2->addStretch();
    row2->addWidget(sLabel2);
    row2->addStretch();

    auto* sSplitter1 = new QSplitter(Qt::Horizontal, central);
    sSplitter1->setOpaqueResize(false);  // drawn as a line while dragged
    sRichEdit1 = new LogPaneWidget(sSplitter1);
    sRichEdit2 = new LogPaneWidget(sSplitter1);
    sSplitter1->addWidget(sRichEdit1);
    sSplitter1->addWidget(sRichEdit2);
    sSplitter1->setSizes({393, 807 - 393});
    // The left pane keeps its width; the right one fills the rest as the window changes.
    sSplitter1->setStretchFactor(0, 0);
    sSplitter1->setStretchFactor(1, 1);

    column->addWidget(sPanel1);
    column->addWidget(sPanel2);
    column->addWidget(sSplitter1, 1);
    setCentralWidget(central);

    if (QScreen* s = QGuiApplication::primaryScreen()) {
        move(s->availableGeometry().center() - rect().center());
    }
}

SettingsFile& TF_ModbusVelt::Settings() {
    if (!settingsFile_) settingsFile_ = std::make_unique<SettingsFile>(services_.SettingsPath());
    return *settingsFile_;
}

void TF_ModbusVelt::showEvent(QShowEvent* e) {
    QMainWindow::showEvent(e);
    if (!shown_) {
        shown_ = true;
        FormShow();
    }
}

void TF_ModbusVelt::ShowLogFlag() {
    sLabel3->setText(Q(conv_->Log.LogEnabled == 1 ? kLogFlagSet : kLogFlagCleared));
}

void TF_ModbusVelt::FormShow() {
    shown_ = true;
    settingsFile_ = std::make_unique<SettingsFile>(services_.SettingsPath());
    LoadStartupSettings(*settingsFile_, *conv_, *services_.boxes);
    ShowLogFlag();
    OpenPortsInUse();
    // The program runs minimised; the operator restores it from the task bar.
    QMetaObject::invokeMethod(
        this, [this] { setWindowState(windowState() | Qt::WindowMinimized); },
        Qt::QueuedConnection);
}

// Each side in use runs on its timer, or in fast mode on its runner; never both.
void TF_ModbusVelt::OpenPortsInUse() {
    Converter& c = *conv_;
    ShowLineModes();
    // sPanel5 is painted at once on the tick, as the operator has always seen it. A fast line sends
    // a dozen requests a second, each with two paints of the panel, for numbers nobody can read at
    // that pace: it shows the number each step ends on, once the step is over, and paints only
    // when that number changes, that is once per tank.
    if (c.State.ModbusFast == 1) {
        c.Poll.ShowPanel = [this](int n) {
            panelNext_ = n;
            if (panelQueued_) return;
            panelQueued_ = true;
            QMetaObject::invokeMethod(
                this,
                [this] {
                    panelQueued_ = false;
                    sPanel5->setText(QString::number(panelNext_));  // paints only a change
                },
                Qt::QueuedConnection);
        };
    } else {
        c.Poll.ShowPanel = [this](int n) {
            sPanel5->setText(QString::number(n));
            sPanel5->repaint();
        };
    }
    for (Side side : {Side::kModbus, Side::kVelt}) {
        if (!c.InUse(side)) continue;
        StartLine(c, side, *services_.boxes);
        const bool modbus = side == Side::kModbus;
        if (IsFast(c, side)) {
            RestartLine(c, side, MonotonicMicros());
            (modbus ? ModbusRunner : VeltRunner).Start(c.Port(side), [this, modbus](MicroTime now) {
                return modbus ? ModbusFastTimer(now) : VeltFastTimer(now);
            });
        } else if (QTimer& tick = modbus ? Timer1 : Timer2; !tick.isActive()) {
            tick.start();
        }
    }
}

// After each step on a side's port and at each attempt to open it again: a port whose device has
// gone is closed and tried again until it opens.
void TF_ModbusVelt::TendPort(Side side) {
    QTimer& reopen = side == Side::kModbus ? ModbusReopen : VeltReopen;
    const SteadyTime now = std::chrono::steady_clock::now();
    const std::optional<SteadyTime> next = TendLine(*conv_, side, now);
    if (!next) {
        reopen.stop();
    } else if (!reopen.isActive()) {
        reopen.start(std::chrono::ceil<std::chrono::milliseconds>(*next - now));
    }
}

void TF_ModbusVelt::StopLines() {
    Timer1.stop();
    Timer2.stop();
    ModbusRunner.Stop();
    VeltRunner.Stop();
}

void TF_ModbusVelt::ShowLineModes() {
    const ProgramState& s = conv_->State;
    sLabel1->setText(Q(std::string(kModbusCaption) + " (" + ModbusModeText(s) + ")"));
    sLabel2->setText(Q(std::string(kVeltCaption) + " (" + VeltModeText(s) + ")"));
}

void TF_ModbusVelt::E1Click() {
    if (dialogs_.nastroika) services_.dialogs->Run(*dialogs_.nastroika);
}

void TF_ModbusVelt::SpeedButton7Click() {
    if (dialogs_.spravka) services_.dialogs->Run(*dialogs_.spravka);
}

void TF_ModbusVelt::N2Click() {
    StopLines();
    if (dialogs_.ustCom) services_.dialogs->Run(*dialogs_.ustCom);
    // The ports are closed and opened afresh below: a lost port is no longer waited for.
    for (Side side : {Side::kModbus, Side::kVelt}) ForgetLoss(*conv_, side);
    ModbusReopen.stop();
    VeltReopen.stop();
    conv_->ModbusPort->Close();
    conv_->VeltPort->Close();
    OpenPortsInUse();
}

// The flag takes effect whether or not the file takes it, and the label always shows the flag
// in effect: a refused write must not leave "установлен" over a log that shows nothing.
void TF_ModbusVelt::SetLogFlag(int value) {
    conv_->Log.LogEnabled = value;
    ShowLogFlag();
    if (!Settings().WriteString(ini::kFlag, ini::kLog, std::to_string(value))) {
        ReportWriteError(*services_.boxes, Settings());
    }
}

void TF_ModbusVelt::N4Click() {
    SetLogFlag(1);
}
void TF_ModbusVelt::N5Click() {
    SetLogFlag(0);
}

void TF_ModbusVelt::E2Click() {
    if (!dialogs_.dostup) return;
    services_.dialogs->Run(*dialogs_.dostup);
    if (conv_->State.AccessGranted == 1 && dialogs_.parol) services_.dialogs->Run(*dialogs_.parol);
}

void TF_ModbusVelt::Timer1Timer() {
    if (Timer1Busy == 1) return;
    Timer1Busy = 1;
    Converter& c = *conv_;
    OprosModBus(c.Poll, c.Table, *c.ModbusPort, c.Log);
    TendPort(Side::kModbus);
    Timer1Busy = 0;
}

void TF_ModbusVelt::Timer2Timer() {
    if (Timer2Busy == 1) return;
    Timer2Busy = 1;
    Converter& c = *conv_;
    OprosVelt(c.Host, c.Table, *c.VeltPort, c.Log);
    TendPort(Side::kVelt);
    Timer2Busy = 0;
}

void TF_ModbusVelt::Timer3Timer() {
    if (Timer3Busy == 1) return;
    Timer3Busy = 1;
    PacingStep(conv_->Poll);
    Timer3Busy = 0;
    // The pacing may have started the cycle again, which a fast line must not wait a tick for.
    ModbusRunner.Poke();
}

// Their busy flags are the timers' own: a poll step never runs inside another, whichever drives it.
// Neither step opens a nested loop, so the retry after a millisecond is for safety only.
LineWait TF_ModbusVelt::ModbusFastTimer(MicroTime now) {
    if (Timer1Busy == 1) return {false, now + 1000};
    Timer1Busy = 1;
    const LineWait wait = FastLineStep(*conv_, Side::kModbus, now);
    Timer1Busy = 0;
    return wait;
}

LineWait TF_ModbusVelt::VeltFastTimer(MicroTime now) {
    if (Timer2Busy == 1) return {false, now + 1000};
    Timer2Busy = 1;
    const LineWait wait = FastLineStep(*conv_, Side::kVelt, now);
    Timer2Busy = 0;
    return wait;
}

bool TF_ModbusVelt::FormClose() {
    const std::optional<std::string> read =
        Settings().TryReadString(ini::kPassword, ini::kOperatorPassword, ini::kDefaultPassword);
    if (!read) {
        // The password that is set is unknown: taking the default would let anyone close past
        // it, so the program stays open and says why; once the file can be read again, closing
        // works as before. Polling and host service go on meanwhile.
        services_.boxes->Show(
            ReadFailureText(Settings(), "Пароль оператора проверить нельзя, программа не закрыта."),
            kAppTitle);
        return false;
    }
    const std::string& stored = *read;
    if (stored == ini::kDefaultPassword) {
        if (!services_.boxes->AskOkCancel(
                "При закрытии произойдет разрыв связи с датчиковой аппаратурой!!!",
                "Будьте внимательны!")) {
            return false;
        }
    } else {
        if (!dialogs_.parOperatora) return false;
        services_.dialogs->Run(*dialogs_.parOperatora);
        // Only what was confirmed with OK in this showing counts: closing the prompt by its
        // close box must not let an earlier confirmed text through.
        if (!dialogs_.parOperatora->ConfirmedThisShowing() ||
            conv_->State.EnteredOperatorPassword != stored) {
            return false;
        }
    }
    settingsFile_.reset();
    return true;
}

void TF_ModbusVelt::changeEvent(QEvent* e) {
    QMainWindow::changeEvent(e);
    if (e->type() == QEvent::WindowStateChange) {
        const bool minimised = isMinimized();
        sRichEdit1->SetHolding(minimised);
        sRichEdit2->SetHolding(minimised);
    }
}

void TF_ModbusVelt::closeEvent(QCloseEvent* e) {
    if (FormClose()) {
        e->accept();
    } else {
        e->ignore();
    }
}

}  // namespace conv
