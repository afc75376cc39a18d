// Pictures of every window: the main window, each dialog and each grid of the data viewer.
//
// Under ctest it takes them of a table filled here, into a temporary folder, and checks that
// every picture was written and shows its window. scripts/screenshots runs it live instead: the
// converter's windows on real pseudo-terminals between gauge-sim and host-sim, the pictures into
// docs/screenshots. The live run is chosen by these variables:
//   CONV_SCREENSHOTS_DIR   folder for the pictures
//   CONV_GAUGE_SIM, CONV_GAUGE_SCENARIO, CONV_HOST_SIM   the simulators and the gauge's scenario
#include <QApplication>
#include <QImage>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <fstream>
#include <functional>
#include <memory>
#include <vector>

#include "app/log_pane_widget.h"
#include "app/program_windows.h"
#include "dialogs/string_grid.h"
#include "support/child_process.h"
#include "support/fake_port.h"
#include "support/scripted_ui_qt.h"

using namespace conv;

namespace {

QString Env(const char* name) {
    return qEnvironmentVariable(name);
}

template <class Block>
void SetSlot(Block& b, int reg, float value, uint8_t flags = 0) {
    uint8_t w[6];
    FloatToWire(value, w);
    w[4] = 0;
    w[5] = flags;
    b.StoreWire(reg, w, 3);
    b.ConvertFloat(reg);
}

// Values of every kind for the configured tanks, for the pictures taken without the simulators.
void FillTable(TankTable& t) {
    for (int n = 1; n <= 5; ++n) {
        TankEntry& e = t.Tank(n);
        const uint8_t type[6] = {static_cast<uint8_t>(n == 4 ? 1 : n == 5 ? 2 : 0), 0, 0, 0, 0, 0};
        e.Type.StoreWire(0, type, 3);
        SetSlot(e.Main, 3, 1000.0f * n + 0.5f);
        SetSlot(e.Main, 15, 10.0f + n);
        SetSlot(e.Temp, TempBlock::PointReg(1), 9.5f + n);
        SetSlot(e.Density, DensityBlock::ProbeReg(1), 0.8f + 0.01f * n);
        SetSlot(e.Pressure, PressureBlock::SensorReg(1), 0.1f * n);
        SetSlot(e.Gas, GasBlock::SensorReg(1), 1.5f, 0x40);
    }
    t.FirstCycleDone = 1;
}

}  // namespace

class ScreenshotsTest : public QObject {
    Q_OBJECT

  private slots:
    void everyWindowAndGrid() {
        QTemporaryDir scratch;
        const bool live = !Env("CONV_GAUGE_SIM").isEmpty();
        const QString out =
            Env("CONV_SCREENSHOTS_DIR").isEmpty() ? scratch.path() : Env("CONV_SCREENSHOTS_DIR");

        QTemporaryDir settingsDir;
        test::RecordingBoxes boxes;
        test::ScriptedDialogs dialogs;
        AppServices services;
        services.boxes = &boxes;
        services.dialogs = &dialogs;
        services.settingsDir = settingsDir.path().toStdString() + "/";
        std::unique_ptr<test::Simulator> gauge;
        std::unique_ptr<test::Simulator> host;
        std::string ports;
        if (live) {
            gauge = std::make_unique<test::Simulator>(
                Env("CONV_GAUGE_SIM"), QStringList{"--pty", "--quiet", Env("CONV_GAUGE_SCENARIO")});
            host = std::make_unique<test::Simulator>(Env("CONV_HOST_SIM"),
                                                     QStringList{"--pty", "--poll"});
            const QString gaugePty = gauge->WaitForPty();
            const QString hostPty = host->WaitForPty();
            QVERIFY2(!gaugePty.isEmpty() && !hostPty.isEmpty(), "a simulator did not start");
            ports = "[MODBUS]\r\nCom-порт=" + gaugePty.toStdString() + "\r\nСуществует=1\r\n" +
                    "[VELT]\r\nCom-порт=" + hostPty.toStdString() + "\r\nСуществует=1\r\n";
        } else {
            services.makePort = [] { return std::make_unique<test::FakePort>(); };
        }
        {
            // As the demo has it: tanks 1 to 6 on channels 1 to 6 (the gauge has no 6).
            std::ofstream ini(services.SettingsPath(), std::ios::binary);
            ini << "[Резервуар]\r\n1=1\r\n2=2\r\n3=3\r\n4=4\r\n5=5\r\n6=6\r\n"
                << "[SLAVE]\r\nАдрес=080\r\n[Флаг]\r\nПротокол=1\r\n"
                << ports;
        }

        Windows w(services);
        TF_ModbusVelt& main = *w.F_ModbusVelt;
        main.show();
        // The program minimises itself at start-up; the pictures show it restored, as the
        // operator sees it, with its panes filling.
        QTRY_VERIFY(main.isMinimized());
        main.showNormal();
        if (live) {
            QTRY_VERIFY_WITH_TIMEOUT(w.Conv().Table.FirstCycleDone == 1, 180000);
            // The host served from the table, not only told that the converter is starting.
            QTRY_VERIFY_WITH_TIMEOUT(main.sRichEdit2->toPlainText().contains(
                                         QStringLiteral("Передача основных параметров")),
                                     60000);
        } else {
            FillTable(w.Conv().Table);
            main.sRichEdit1->AppendLine("MODBUS - Com1");
            main.sRichEdit2->AppendLine("VELT - Com2");
        }
        QVERIFY2(boxes.shown.empty(), boxes.shown.empty() ? "" : boxes.shown[0].text.c_str());

        std::vector<QString> written;
        const auto take = [&](QWidget& window, const QString& name) {
            QApplication::processEvents();
            const QString path = out + "/" + name + ".png";
            QVERIFY2(window.grab().save(path), qPrintable(path));
            written.push_back(path);
        };
        const auto dialog = [&](QDialog& d, const QString& name,
                                const std::function<void()>& before = {}) {
            d.show();
            if (before) before();
            take(d, name);
            d.close();
        };

        QApplication::processEvents();  // the start-up minimises the window
        main.showNormal();
        // Appending a long dump scrolls a pane sideways; the picture shows the lines' beginnings.
        for (LogPaneWidget* pane : {main.sRichEdit1, main.sRichEdit2}) {
            pane->horizontalScrollBar()->setValue(0);
        }
        take(main, "main-window");
        dialog(*w.F_Nastroika, "nastroika");
        dialog(*w.F_UstCom, "ustcom");
        dialog(*w.F_Dostup, "dostup");
        dialog(*w.F_Parol, "parol");
        dialog(*w.F_ParOperatora, "paroperatora");

        TF_SpravkaPPP& viewer = *w.F_SpravkaPPP;
        viewer.show();
        // The density grid is first filled by the viewer's first tick.
        QTRY_VERIFY_WITH_TIMEOUT(!viewer.StringGrid5->Cell(2, 0).isEmpty(), 5000);
        const std::pair<QToolButton*, const char*> grids[] = {
            {viewer.sSpeedButton1, "viewer-main"},
            {viewer.sSpeedButton3, "viewer-temperature"},
            {viewer.sSpeedButton4, "viewer-density"},
            {viewer.sSpeedButton2, "viewer-gas"},
            {viewer.SpeedButton3, "viewer-pressure"}};
        for (const auto& [button, name] : grids) {
            button->click();
            take(viewer, name);
        }
        viewer.SpeedButton6Click();

        QCOMPARE(written.size(), size_t(11));
        for (const QString& path : written) {
            const QImage image(path);
            QVERIFY2(!image.isNull() && image.width() > 100 && image.height() > 50,
                     qPrintable(path));
        }
        // The viewer's picture shows its grid: the main grid and the gas grid differ.
        QVERIFY(QImage(out + "/viewer-main.png") != QImage(out + "/viewer-gas.png"));
    }
};

QTEST_MAIN(ScreenshotsTest)
#include "screenshots_test.moc"
