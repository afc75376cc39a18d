// The main window tends its ports as the service does: a gauge port whose device has gone is
// closed at the next step, told in the left pane with the log off, and opened again by the
// window's own timer five seconds on, once the device is back.
#include <QTemporaryDir>
#include <QtTest>
#include <fstream>

#include "app/log_pane_widget.h"
#include "app/program_windows.h"
#include "settings/text_codec.h"
#include "support/scripted_ui.h"
#include "support/unpluggable_port.h"

using namespace conv;

class PortReturnTest : public QObject {
    Q_OBJECT
  private slots:
    void lostGaugePortIsOpenedAgainByTheWindow() {
        QTemporaryDir dir;
        test::RecordingBoxes boxes;
        test::ScriptedDialogs dialogs;
        test::UnpluggablePort* gauge = nullptr;
        AppServices services;
        services.boxes = &boxes;
        services.dialogs = &dialogs;
        services.settingsDir = dir.path().toStdString() + "/";
        services.makePort = [&gauge] {
            auto p = std::make_unique<test::UnpluggablePort>();
            if (!gauge) gauge = p.get();  // the first port made is the MODBUS side's
            return p;
        };
        std::ofstream(services.SettingsPath(), std::ios::binary) << Utf8ToCp1251(
            "[Резервуар]\r\n1=3\r\n[Флаг]\r\nПротокол=0\r\n[MODBUS]\r\nCom-порт=Com5\r\n"
            "Существует=1\r\n");
        Windows w(services);
        TF_ModbusVelt& m = *w.F_ModbusVelt;
        m.FormShow();
        m.Timer3Timer();
        m.Timer3Timer();  // the cycle starts
        m.Timer1Timer();  // the first request; the next step reads its reply

        gauge->present = false;
        m.Timer1Timer();
        QVERIFY(!gauge->IsOpen());
        QVERIFY(m.ModbusReopen.isActive() && m.ModbusReopen.remainingTime() > 4000);
        const QString lost = QStringLiteral(
            "\nПорт Com5 потерян: устройство отключено. Повторное открытие каждые 5 с");
        QCOMPARE(m.sRichEdit1->toPlainText(), lost);

        gauge->present = true;
        QTRY_VERIFY_WITH_TIMEOUT(gauge->IsOpen(), 15000);
        QCOMPARE(gauge->opens, 2);            // the start-up's and the one at its time
        m.setWindowState(Qt::WindowNoState);  // restored, the window shows what it held
        QCOMPARE(m.sRichEdit1->toPlainText(), lost + QStringLiteral("\nПорт Com5 снова открыт"));
        QVERIFY(!m.ModbusReopen.isActive() && boxes.shown.empty());
    }
};

QTEST_MAIN(PortReturnTest)
#include "port_return_test.moc"
