// The real main window (offscreen, POSIX serial backend) polls gauge-sim over a pseudo-terminal
// for one whole cycle; afterwards the tank table must hold what the scenario says.
#include <QTemporaryDir>
#include <QtTest>
#include <fstream>

#include "app/log_pane_widget.h"
#include "app/program_windows.h"
#include "support/child_process.h"
#include "support/scripted_ui_qt.h"

using namespace conv;

class ModbusRoadTest : public QObject {
    Q_OBJECT
  private slots:
    void oneCycleFillsTheTable() {
        test::Simulator gauge(
            QStringLiteral(CONV_TOOLS_DIR "/gauge-sim/gauge-sim"),
            {QStringLiteral("--pty"),
             QStringLiteral(CONV_SOURCE_DIR "/tools/gauge-sim/scenarios/e2e.json")});
        const QString gaugePty = gauge.WaitForPty();
        QVERIFY2(!gaugePty.isEmpty(), "gauge-sim announced no pseudo-terminal");

        QTemporaryDir dir;
        test::RecordingBoxes boxes;
        test::ScriptedDialogs dialogs;
        AppServices services;
        services.boxes = &boxes;
        services.dialogs = &dialogs;
        services.settingsDir = dir.path().toStdString() + "/";
        {
            // Tank 1: level gauge on 3; 2: pressure sensors on 10; 3: gas sensors on 11;
            // 4: channel 9, which the gauge does not have.
            std::ofstream ini(services.SettingsPath(), std::ios::binary);
            ini << "[Резервуар]\n1=3\n2=10\n3=11\n4=9\n[SLAVE]\nАдрес=080\n"
                << "[MODBUS]\nCom-порт=" << gaugePty.toStdString() << "\nСуществует=1\n";
        }
        Windows windows(services);
        windows.F_ModbusVelt->show();
        const TankTable& t = windows.Conv().Table;
        QVERIFY(windows.F_ModbusVelt->Timer1.isActive());
        QTRY_VERIFY_WITH_TIMEOUT(t.FirstCycleDone == 1, 90000);
        QVERIFY2(boxes.shown.empty(), "no box expected");

        const TankEntry& level = t.Tank(1);
        QCOMPARE(level.LinkState, 0);
        QCOMPARE(level.GaugeErrorCode, 0);
        QCOMPARE(level.TankType(), 0);
        QCOMPARE(level.ConfigWord(), uint16_t(0x0005));
        QCOMPARE(level.Main.Level().Value, 4321.5f);
        QCOMPARE(level.Main.Mass().Value, 123456.75f);
        QCOMPARE(level.Main.Volume().Value, 150123.5f);
        QCOMPARE(level.Main.MeanDensity().Value, 0.8125f);
        QCOMPARE(level.Main.MeanTemp().Value, -5.75f);
        QCOMPARE(level.Main.WaterLevel().Value, 42.25f);
        QCOMPARE(level.Main.WaterLevel().FlagsByte, uint8_t(0x01));
        QCOMPARE(level.Main.Ppf().Value, 0.8203125f);
        QCOMPARE(level.Main.VolumeMax().Value, 200000.0f);
        QCOMPARE(level.Main.VolumeMax().State(), uint16_t(0x0100));
        QCOMPARE(level.Main.SoftwareNumber(), std::string("TV3-07"));
        QCOMPARE(int(level.Main.SoftwareVersion()), 7);
        QCOMPARE(int(level.Main.ProductIndex()), 12);
        QCOMPARE(level.Temp.Point(1).Value, 10.5f);
        QCOMPARE(level.Temp.Point(5).FlagsByte, uint8_t(0x40));
        QCOMPARE(level.Temp.Point(10).Value, -0.75f);
        QCOMPARE(level.Temp.Point(21).Value, 21.25f);
        QCOMPARE(int(level.Temp.HeaderByte()), 0x15);
        QCOMPARE(int(level.TempCoords.PointHeight(1)), 250);
        QCOMPARE(int(level.TempCoords.PointHeight(21)), 5250);
        QCOMPARE(int(level.Density.HeaderByte()), 0x85);
        QCOMPARE(level.Density.Probe(1).Value, 0.8101f);
        QCOMPARE(int(level.Density.HeightRefinement(1)), 5);
        QCOMPARE(int(level.Density.HeightRefinement(2)), -5);
        QCOMPARE(int(level.Probe.ProbeHeight(1)), 1234);
        QCOMPARE(level.Probe.ProbeTemp(2), 12.25f);

        const TankEntry& pressure = t.Tank(2);
        QCOMPARE(pressure.LinkState, 0);
        QCOMPARE(pressure.TankType(), 1);
        QCOMPARE(pressure.Pressure.Sensor(1).Value, 0.125f);
        QCOMPARE(pressure.Pressure.Sensor(3).State(), uint16_t(0x0002));
        QCOMPARE(pressure.Pressure.Sensor(8).Value, 12.5f);
        QCOMPARE(pressure.Pressure.Sensor(9).FlagsByte, uint8_t(0x40));

        const TankEntry& gas = t.Tank(3);
        QCOMPARE(gas.LinkState, 0);
        QCOMPARE(gas.TankType(), 2);
        QCOMPARE(gas.Gas.Sensor(1).Value, 12.3456f);
        QCOMPARE(int(gas.Gas.Sensor(1).StateFirstByte), 0x12);
        QCOMPARE(gas.Gas.Sensor(5).State(), uint16_t(0x0202));

        QCOMPARE(t.Tank(4).LinkState, 2);  // silent channel
        QCOMPARE(t.GaugeLinkOk, 0);        // its channel select failed for good

        windows.F_ModbusVelt->showNormal();  // the operator restores the window to look
        const QString left = windows.F_ModbusVelt->sRichEdit1->toPlainText();
        QVERIFY(left.contains(QStringLiteral("3 - адрес опрашиваемого канала")));
        QVERIFY(left.contains(QStringLiteral("OUT запрос основных параметров V,H,M,P,T")));
        QVERIFY(left.contains(QStringLiteral("\n89  50 4 54 ")));  // the stored main reply
        QVERIFY(left.contains(QStringLiteral("OUT запрос DZO")));
        QVERIFY(left.contains(QStringLiteral("\nIN \n")));
        QCOMPARE(windows.F_ModbusVelt->sPanel5->text(), QStringLiteral("63"));
    }
};

QTEST_MAIN(ModbusRoadTest)
#include "modbus_road_test.moc"
