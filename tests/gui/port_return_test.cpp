// The main window tends its ports as the service does: a gauge port whose device has gone is
// closed at the next step, told in the left pane with the log off, and opened again by the
// window's own timer five seconds on, once the device is back.
#include <QtTest>

#include "app/log_pane_widget.h"
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
        const QString lost = QStringLiteral(
            "\nПорт Com5 потерян: устройство отключено. Повторное открытие каждые 5 с");
        QCOMPARE(m.sRichEdit1->toPlainText(), lost);

        m.Timer1.stop();  // only the reopen timer may bring the port back
        gauge.present = true;
        QTRY_VERIFY_WITH_TIMEOUT(gauge.IsOpen(), 15000);
        QCOMPARE(gauge.opens, 2);             // the start-up's and the one at its time
        m.setWindowState(Qt::WindowNoState);  // restored, the window shows what it held
        QCOMPARE(m.sRichEdit1->toPlainText(), lost + QStringLiteral("\nПорт Com5 снова открыт"));
        QVERIFY(!m.ModbusReopen.isActive() && e.boxes.shown.empty());
    }
};

QTEST_MAIN(PortReturnTest)
#include "port_return_test.moc"
