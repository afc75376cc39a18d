// Pictures of the program at work for the README: the converter's windows, offscreen, on
// pseudo-terminals between gauge-sim and host-sim, once the first poll cycle has filled the
// tables. Every window, dialog and viewer grid is saved as a PNG; scripts/screenshots runs it.
//   screenshots OUT_DIR GAUGE_SIM GAUGE_SCENARIO HOST_SIM     (QT_QPA_PLATFORM=offscreen)
#include <QApplication>
#include <QEventLoop>
#include <QProcess>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <cstdio>
#include <fstream>
#include <functional>

#include "app/log_pane_widget.h"
#include "app/program_windows.h"
#include "dialogs/string_grid.h"

namespace {

// Nobody answers a box in a picture run: each is printed and counts as a failed run.
class PrintedBoxes : public conv::MessageBoxes {
  public:
    void Show(const std::string& text, const std::string& caption) override {
        std::fprintf(stderr, "box: %s: %s\n", caption.c_str(), text.c_str());
        ++shown;
    }
    bool AskOkCancel(const std::string& text, const std::string& caption) override {
        Show(text, caption);
        return false;
    }
    int shown = 0;
};

// The dialogs are shown one by one below, never modally from the main window.
class NoModalDialogs : public conv::DialogRunner {
  public:
    void Run(QDialog&) override {}
};

// A simulator as a child process; its pseudo-terminal is announced on its first line.
class Simulator {
  public:
    Simulator(const QString& program, const QStringList& args) { proc_.start(program, args); }
    ~Simulator() {
        proc_.terminate();
        proc_.waitForFinished();
    }
    QString Pty() {
        while (!proc_.canReadLine() && proc_.waitForReadyRead(20000)) {
        }
        const QString line = QString::fromUtf8(proc_.readLine()).trimmed();
        return line.startsWith("PTY ") ? line.mid(4) : QString();
    }

  private:
    QProcess proc_;
};

// Runs the event loop until `done` holds (looked at every 200 ms) or `ms` have passed.
bool RunUntil(const std::function<bool()>& done, int ms) {
    QEventLoop loop;
    QTimer look;
    QObject::connect(&look, &QTimer::timeout, [&] {
        if (done()) loop.quit();
    });
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    look.start(200);
    if (!done()) loop.exec();
    return done();
}

bool Take(QWidget& window, const QString& path) {
    QApplication::processEvents();  // the layout of a window just shown
    const bool saved = window.grab().save(path);
    if (!saved) std::fprintf(stderr, "not written: %s\n", qPrintable(path));
    return saved;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 5) {
        std::fprintf(stderr, "usage: screenshots OUT_DIR GAUGE_SIM GAUGE_SCENARIO HOST_SIM\n");
        return 2;
    }
    const QString out = argv[1];
    Simulator gauge(argv[2], {"--pty", "--quiet", argv[3]});
    Simulator host(argv[4], {"--pty", "--poll"});
    const QString gaugePty = gauge.Pty(), hostPty = host.Pty();
    if (gaugePty.isEmpty() || hostPty.isEmpty()) {
        std::fprintf(stderr, "a simulator did not start\n");
        return 1;
    }

    QTemporaryDir settingsDir;
    PrintedBoxes boxes;
    NoModalDialogs dialogs;
    conv::AppServices services;
    services.boxes = &boxes;
    services.dialogs = &dialogs;
    services.settingsDir = settingsDir.path().toStdString() + "/";
    // As the demo has it: tanks 1 to 6 on channels 1 to 6 (the gauge has no 6).
    std::ofstream(services.SettingsPath(), std::ios::binary)
        << "[Резервуар]\r\n1=1\r\n2=2\r\n3=3\r\n4=4\r\n5=5\r\n6=6\r\n"
        << "[SLAVE]\r\nАдрес=080\r\n[Флаг]\r\nПротокол=1\r\n"
        << "[MODBUS]\r\nCom-порт=" << gaugePty.toStdString() << "\r\nСуществует=1\r\n"
        << "[VELT]\r\nCom-порт=" << hostPty.toStdString() << "\r\nСуществует=1\r\n";

    conv::Windows w(services);
    conv::TF_ModbusVelt& main = *w.F_ModbusVelt;
    main.show();
    // The program minimises itself at start-up; the pictures show it restored, as the operator
    // sees it, its panes filling, once the host is served from the table.
    RunUntil([&] { return main.isMinimized(); }, 5000);
    main.showNormal();
    const bool ready =
        RunUntil([&] { return w.Conv().Table.FirstCycleDone == 1; }, 180000) &&
        RunUntil(
            [&] { return main.sRichEdit2->toPlainText().contains("Передача основных параметров"); },
            60000);
    if (!ready || boxes.shown > 0) {
        std::fprintf(stderr, "the converter did not serve the host from a full table\n");
        return 1;
    }
    main.showNormal();
    // Appending a long dump scrolls a pane sideways; the picture shows the lines' beginnings.
    for (conv::LogPaneWidget* pane : {main.sRichEdit1, main.sRichEdit2}) {
        pane->horizontalScrollBar()->setValue(0);
    }
    bool written = Take(main, out + "/main-window.png");
    const std::pair<QDialog*, const char*> windows[] = {{w.F_Nastroika.get(), "nastroika"},
                                                        {w.F_UstCom.get(), "ustcom"},
                                                        {w.F_Dostup.get(), "dostup"},
                                                        {w.F_Parol.get(), "parol"},
                                                        {w.F_ParOperatora.get(), "paroperatora"}};
    for (const auto& [dialog, name] : windows) {
        dialog->show();
        written &= Take(*dialog, out + "/" + name + ".png");
        dialog->close();
    }

    conv::TF_SpravkaPPP& viewer = *w.F_SpravkaPPP;
    viewer.show();
    // The density grid is first filled by the viewer's first tick.
    RunUntil([&] { return !viewer.StringGrid5->Cell(2, 0).isEmpty(); }, 5000);
    const std::pair<QToolButton*, const char*> grids[] = {
        {viewer.sSpeedButton1, "viewer-main"},
        {viewer.sSpeedButton3, "viewer-temperature"},
        {viewer.sSpeedButton4, "viewer-density"},
        {viewer.sSpeedButton2, "viewer-gas"},
        {viewer.SpeedButton3, "viewer-pressure"}};
    for (const auto& [button, name] : grids) {
        button->click();
        written &= Take(viewer, out + "/" + name + ".png");
    }
    viewer.SpeedButton6Click();
    return written && boxes.shown == 0 ? 0 : 1;
}
