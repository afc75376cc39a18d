// Serial port setup: the ports each side may choose from (probed, scanned, configured), names
// that read whole, Apply, and the main window opening again what is in use afterwards.
#include "dialogs/ustcom.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QTest>

#include "gui/dialog_env.h"

using namespace conv;

namespace {

QString Items(const QComboBox& c) {
    QStringList out;
    for (int i = 0; i < c.count(); ++i) out << c.itemText(i);
    return out.join(' ');
}

// Empty files standing in for device nodes under `root`.
void Touch(const QString& root, const QStringList& names) {
    for (const QString& n : names) {
        QDir().mkpath(QFileInfo(root + "/" + n).path());
        QFile(root + "/" + n).open(QIODevice::WriteOnly);
    }
}

// A USB adapter's stable name is far longer than a ComN name.
const char* const kAdapter =
    "serial/by-id/usb-Silicon_Labs_CP2102N_USB_to_UART_Bridge_Controller_"
    "4a6e2f9c1d3bec11b3d4a1b2c3d4e5f6-if00-port0";

}  // namespace

class UstComTest : public QObject {
    Q_OBJECT

  private slots:
    // Both lists offer the free ports and, held by this program or missing, the one each side
    // is set to (names compare exactly); USB adapters follow the ComN names, busy ones only when
    // a side is set to them. A long adapter name reads whole in its box (the line edit keeps 2
    // pixels on each side and one for the cursor).
    void bothListsOfferTheFreePortsAndTheConfiguredOnes() {
        QTemporaryDir devices;
        const QString r = devices.path(), adapter = r + "/" + kAdapter;
        Touch(r, {"ttyUSB10", "ttyUSB2", "ttyUSB0", "ttyACM0", "ttyACM1", "ttyS3", "null",
                  "serial/by-id/usb-FTDI-if00", kAdapter});
        const struct {
            const char *modbus, *velt;
            int modbusExists, veltExists;
            const char* free;  // what the probe says of each port: 0 = can be opened
            const char* shown;
        } cases[] = {
            {"Com1", "Com2", 1, 0, "Com1:1 Com3:0 Com7:1 Com254:0",
             "Com1 Com2 Com3 Com254 | Com1 1 | Com2 0"},
            {"Com2", "Com2", 0, 2, "Com2:1 Com4:0", "Com2 Com2 Com4 | Com2 0 | Com2 1"},
            {"Com1", "COM2", 0, 0, "Com2:1 COM2:1", "Com1 | Com1 0 | COM2 0"},
            {"Com3", "%1/ttyACM0", 0, 0,
             "Com3:0 %1/ttyUSB0:0 %1/ttyUSB2:0 %1/ttyUSB10:0 %1/ttyS3:0 "
             "%1/serial/by-id/usb-FTDI-if00:0 %2:0",
             "Com3 %1/ttyUSB0 %1/ttyUSB2 %1/ttyUSB10 %1/ttyACM0 %1/serial/by-id/usb-FTDI-if00 "
             "%2 | Com3 0 | %1/ttyACM0 0"}};
        for (const auto& c : cases) {
            test::DialogEnv e;
            e.conv.State = {c.modbus, c.modbusExists, QString(c.velt).arg(r).toStdString(),
                            c.veltExists};
            for (const QString& port : QString(c.free).arg(r, adapter).split(' ')) {
                e.free[port.section(':', 0, 0).toStdString()] = port.section(':', 1).toInt();
            }
            TF_UstCom& dlg = *e.windows->F_UstCom;
            dlg.DeviceRoot = r.toStdString();
            dlg.show();
            QCOMPARE(QString("%1 | %2 %3 | %4 %5")
                         .arg(Items(*dlg.sComboBox1), dlg.sComboBox1->currentText())
                         .arg(dlg.sRadioGroup1->ItemIndex())
                         .arg(dlg.sComboBox2->currentText())
                         .arg(dlg.sRadioGroup2->ItemIndex()),
                     QString(c.shown).arg(r, adapter));
            QCOMPARE(Items(*dlg.sComboBox2), Items(*dlg.sComboBox1));
            QLineEdit& edit = *dlg.sComboBox2->lineEdit();
            dlg.sComboBox2->setCurrentIndex(dlg.sComboBox2->findText(adapter));
            QTRY_VERIFY(edit.width() >= edit.fontMetrics().horizontalAdvance(edit.text()) + 5);
            // Built afresh at every showing: a port freed since then appears.
            dlg.close();
            e.free["Com200"] = 0;
            dlg.show();
            QVERIFY(Items(*dlg.sComboBox1).contains("Com200"));
        }
    }

    // Apply, from the main window's menu and by the keyboard, writes both sides and their modes
    // and says so; then the main window opens what is in use, in its mode (the host side switched
    // off stays closed). A refused write ends Apply, and what was set in memory before it stays.
    void applyAndTheMainWindowOpensWhatIsInUse() {
        for (const bool readOnly : {false, true}) {
            test::DialogEnv e;
            e.WriteFile("[MODBUS]\nСуществует=1\n[VELT]\nCom-порт=Com2\nСуществует=1\n");
            TF_ModbusVelt& m = e.Main();
            m.FormShow();
            if (readOnly) e.MakeReadOnly();
            e.dialogs.Then([&e](QDialog& d) {
                auto& u = static_cast<TF_UstCom&>(d);
                QVERIFY(QTest::qWaitForWindowActive(&u));
                u.sComboBox1->setEditText("/dev/ttyUSB9");  // typed, not in the list
                u.sRadioGroup2->SetItemIndex(0);
                u.sCheckBox1->setFocus();
                QTest::keyClick(u.sCheckBox1, Qt::Key_Space);  // MODBUS fast, then its times
                for (const char* value : {"250", "5"}) {
                    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
                    QTest::keyClick(QApplication::focusWidget(), Qt::Key_A, Qt::ControlModifier);
                    QTest::keyClicks(QApplication::focusWidget(), value);
                }
                QTest::sendKeyEvent(QTest::Click, QApplication::focusWidget(), Qt::Key(u'П'),
                                    QStringLiteral("п"), Qt::AltModifier);
                // The mnemonic clicks the button as it is drawn pressed, a moment later.
                QTRY_VERIFY(!e.boxes.shown.empty());
            });
            m.N2->trigger();
            const auto side = [](test::FakePort* p, bool runs) {
                return p->openedName + (p->IsOpen() && runs ? " on" : " off");
            };
            QCOMPARE(e.boxes.Texts().at(0) + " | " + e.Read("MODBUS", "Com-порт") + " " +
                         e.Read("MODBUS", "Пауза") + " " + e.Read("VELT", "Существует") + " | " +
                         side(e.ports[0], m.Timer1.isActive() || m.ModbusRunner.IsActive()) +
                         " | " + side(e.ports[1], m.Timer2.isActive() || m.VeltRunner.IsActive()),
                     std::string(readOnly ? "Проблемы с записью в INI-файл | <absent> <absent> 1 | "
                                            "/dev/ttyUSB9 on | Com2 on"
                                          : "Информация зафиксирована! | /dev/ttyUSB9 5 0 | "
                                            "/dev/ttyUSB9 on | Com2 off"));
            QCOMPARE(m.sLabel1->text(),
                     readOnly ? "Опрос по протоколу МОDBUS (такт 800 мс)"
                              : "Опрос по протоколу МОDBUS (быстрый: ожидание 250 мс, пауза 5 мс)");
            QCOMPARE(m.ModbusRunner.IsActive(), !readOnly);
        }
    }
};

QTEST_MAIN(UstComTest)
#include "ustcom_test.moc"
