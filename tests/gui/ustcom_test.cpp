// Serial port setup: the ports each side may choose from (probed, scanned, configured), names
// that read whole, Apply, and the main window opening again what is in use afterwards.
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

    // Apply, from the main window's menu, writes both sides and says so; then the main window
    // opens what is in use (the host side switched off stays closed, its timer off). A refused
    // write ends Apply, and what was set in memory before it stays set.
    void applyAndTheMainWindowOpensWhatIsInUse() {
        for (const bool readOnly : {false, true}) {
            test::DialogEnv e;
            e.WriteFile("[MODBUS]\nСуществует=1\n[VELT]\nCom-порт=Com2\nСуществует=1\n");
            e.Main().FormShow();
            if (readOnly) e.MakeReadOnly();
            e.dialogs.Then([](QDialog& d) {
                auto& u = static_cast<TF_UstCom&>(d);
                u.sComboBox1->setEditText("/dev/ttyUSB9");  // typed, not in the list
                u.sRadioGroup2->SetItemIndex(0);
                u.sButton1->click();
            });
            e.Main().N2->trigger();
            const auto side = [](test::FakePort* p, const QTimer& t) {
                return QString::fromStdString(p->openedName) +
                       (p->IsOpen() && t.isActive() ? " on" : " off");
            };
            QCOMPARE(
                QString::fromStdString(e.boxes.Texts().at(0) + " | " +
                                       e.Read("MODBUS", "Com-порт") + " " +
                                       e.Read("VELT", "Существует")) +
                    " | " + side(e.ports[0], e.Main().Timer1) + " | " +
                    side(e.ports[1], e.Main().Timer2),
                readOnly
                    ? "Проблемы с записью в INI-файл | <absent> 1 | /dev/ttyUSB9 on | Com2 on"
                    : "Информация зафиксирована! | /dev/ttyUSB9 0 | /dev/ttyUSB9 on | Com2 off");
        }
    }
};

QTEST_MAIN(UstComTest)
#include "ustcom_test.moc"
