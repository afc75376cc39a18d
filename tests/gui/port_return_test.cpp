// The main window tends its ports by a timer of its own: a gauge port whose device has gone is
// closed at the next step and opened again five seconds on, once the device is back (what the
// panes are told and when is the core's).
#include <QtTest>

#include "gui/dialog_env.h"

using namespace conv;

class PortReturnTest : public QObject {
    Q_OBJECT
  private slots:
    void lostGaugePortIsOpenedAgainByTheWindow() {
        test::DialogEnv e(true);
        e.WriteFile(
            "[Резервуар]\n1=3\n[Флаг]\nПротокол=0\n[MODBUS]\nCom-порт=Com5\nСуществует=1\n");
        TF_ModbusVelt& m = e.Main();
        m.FormShow();
        auto& gauge = static_cast<test::UnpluggablePort&>(*e.ports[0]);
        m.Timer3Timer();
        m.Timer3Timer();  // the cycle starts
        m.Timer1Timer();  // the first request; the next step reads its reply

        gauge.present = false;
        m.Timer1Timer();
        QVERIFY(!gauge.IsOpen());
        QVERIFY(m.ModbusReopen.isActive() && m.ModbusReopen.remainingTime() > 4000);
        m.Timer1.stop();  // only the reopen timer may bring the port back
        gauge.present = true;
        QTRY_VERIFY_WITH_TIMEOUT(gauge.IsOpen(), 15000);
        QCOMPARE(gauge.opens, 2);  // the start-up's and the one at its time
        QVERIFY(!m.ModbusReopen.isActive() && e.boxes.shown.empty());
    }
};

QTEST_MAIN(PortReturnTest)
#include "port_return_test.moc"
