// Serial port setup dialog: the port lists against a scripted probe and a scanned device folder,
// and Apply against a temporary settings file.
#include "dialogs/ustcom.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QStyle>
#include <QTest>

#include "app/program_windows.h"
#include "gui/dialog_env.h"
#include "support/pty_pair.h"
#include "support/scripted_ui_qt.h"

using namespace conv;

namespace {

QStringList Items(const QComboBox& c) {
    QStringList out;
    for (int i = 0; i < c.count(); ++i) out << c.itemText(i);
    return out;
}

// Creates empty files standing in for device nodes under `root`.
void Touch(const QString& root, const QStringList& names) {
    for (const QString& n : names) {
        const QString path = root + "/" + n;
        QDir().mkpath(QFileInfo(path).path());
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
}

}  // namespace

class UstComTest : public QObject {
    Q_OBJECT

  private slots:
    void init() {
        env = std::make_unique<test::DialogEnv>();
        ProgramState& s = env->conv.State;
        s.ModbusPortName = "Com1";
        s.VeltPortName = "Com2";
        dlg = std::make_unique<TF_UstCom>(env->conv, env->services);
        dlg->DeviceRoot = devices.path().toStdString() + "/none";
    }
    void cleanup() {
        dlg.reset();
        env.reset();
    }

    void windowAsTheOperatorKnowsIt() {
        QCOMPARE(dlg->windowTitle(), QString("Установка по COM-портам"));
        QCOMPARE(dlg->size(), QSize(481, 261));
        QVERIFY(dlg->sComboBox1->isEditable());
        QCOMPARE(dlg->sComboBox2->maxVisibleItems(), 8);
    }

    // Free ports and the configured ones, held by this program or missing; both lists alike.
    void listsFreePortsAndTheConfiguredOnes() {
        env->ports = {{"Com1", 1}, {"Com3", 0}, {"Com7", 1}, {"Com254", 0}, {"Com255", 0}};
        env->conv.State.ModbusPortExists = 1;
        dlg->show();
        const QStringList expected{"Com1", "Com2", "Com3", "Com254"};
        QCOMPARE(Items(*dlg->sComboBox1), expected);
        QCOMPARE(Items(*dlg->sComboBox2), expected);
        QCOMPARE(env->probes, 254);
        QCOMPARE(dlg->sComboBox1->currentText(), QString("Com1"));
        QCOMPARE(dlg->sComboBox2->currentText(), QString("Com2"));
        QCOMPARE(dlg->sRadioGroup1->ItemIndex(), 1);
        QCOMPARE(dlg->sRadioGroup2->ItemIndex(), 0);
    }

    void bothSidesOnOneBusyPortListItTwice() {
        env->conv.State.ModbusPortName = "Com2";
        env->conv.State.VeltPortExists = 2;  // any value but 0 shows as "Существует"
        env->ports = {{"Com2", 1}, {"Com4", 0}};
        dlg->show();
        QCOMPARE(Items(*dlg->sComboBox1), (QStringList{"Com2", "Com2", "Com4"}));
        QCOMPARE(Items(*dlg->sComboBox2), (QStringList{"Com2", "Com2", "Com4"}));
        QCOMPARE(dlg->sRadioGroup2->ItemIndex(), 1);
    }

    // Names compare exactly: a busy COM2 is not listed, yet stands as the side's text.
    void aConfiguredNameInCapitalsStandsOnlyAsTheText() {
        env->conv.State.VeltPortName = "COM2";
        env->ports = {{"Com2", 1}, {"COM2", 1}};
        dlg->show();
        QCOMPARE(Items(*dlg->sComboBox2), QStringList{"Com1"});
        QCOMPARE(dlg->sComboBox2->currentText(), QString("COM2"));
    }

    // The list is built afresh at every showing: a port freed since then appears.
    void everyShowingProbesAgain() {
        env->ports = {{"Com5", 1}};
        dlg->show();
        QVERIFY(!Items(*dlg->sComboBox1).contains("Com5"));
        dlg->sButton2Click();
        env->ports["Com5"] = 0;
        dlg->show();
        QCOMPARE(Items(*dlg->sComboBox1), (QStringList{"Com1", "Com2", "Com5"}));
        QCOMPARE(env->probes, 2 * 254);
    }

    // USB adapters follow the ComN names, so that one can be picked without typing its path.
    void usbAdaptersThatCanBeOpenedFollowTheComNames() {
        const QString root = devices.path();
        Touch(root, {"ttyUSB10", "ttyUSB2", "ttyUSB0", "ttyACM0", "ttyS3", "null",
                     "serial/by-id/usb-FTDI_FT232R-if00-port0", "serial/by-id/usb-Acme-if00"});
        const std::string r = root.toStdString();
        env->ports = {{"Com3", 0},
                      {r + "/ttyUSB0", 0},
                      {r + "/ttyUSB2", 0},
                      {r + "/ttyUSB10", 0},
                      {r + "/ttyACM0", 1},  // held by someone
                      {r + "/ttyS3", 0},
                      {r + "/serial/by-id/usb-FTDI_FT232R-if00-port0", 0},
                      {r + "/serial/by-id/usb-Acme-if00", 0}};
        // A side set on a busy adapter keeps it in the list, as for the ComN names.
        env->conv.State.VeltPortName = r + "/ttyACM0";
        dlg->DeviceRoot = r;
        dlg->show();
        const QString q = root;
        QCOMPARE(Items(*dlg->sComboBox1),
                 (QStringList{"Com1", "Com3", q + "/ttyUSB0", q + "/ttyUSB2", q + "/ttyUSB10",
                              q + "/ttyACM0", q + "/serial/by-id/usb-Acme-if00",
                              q + "/serial/by-id/usb-FTDI_FT232R-if00-port0"}));
        QCOMPARE(Items(*dlg->sComboBox2), Items(*dlg->sComboBox1));
    }

    // An adapter's stable name is long: the longest name listed reads whole in the box and in
    // its open list, measured as the line edit and the list's items draw their text.
    void theLongestNameListedReadsWholeInTheBoxAndTheList() {
        const QString root = devices.path();
        const QString adapter =
            "serial/by-id/usb-Silicon_Labs_CP2102N_USB_to_UART_Bridge_"
            "Controller_4a6e2f9c1d3bec11b3d4a1b2c3d4e5f6-if00-port0";
        Touch(root, {"ttyUSB0", adapter});
        const QString name = root + "/" + adapter;
        env->ports = {{(root + "/ttyUSB0").toStdString(), 0}, {name.toStdString(), 0}};
        dlg->DeviceRoot = root.toStdString();
        dlg->show();
        for (QComboBox* box : {dlg->sComboBox1, dlg->sComboBox2}) {
            const int at = box->findText(name);
            QVERIFY(at >= 0);
            box->setCurrentIndex(at);
            QLineEdit& edit = *box->lineEdit();
            // The line edit keeps 2 pixels on each side and one for the cursor.
            QTRY_VERIFY2(edit.width() >= edit.fontMetrics().horizontalAdvance(name) + 5,
                         qPrintable(QString::number(edit.width())));

            box->showPopup();
            QAbstractItemView& list = *box->view();
            QTRY_VERIFY(list.isVisible());
            const int margin =
                list.style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, &list) + 1;
            QVERIFY2(
                list.viewport()->width() >= list.fontMetrics().horizontalAdvance(name) + 2 * margin,
                qPrintable(QString::number(list.viewport()->width())));
            box->hidePopup();
        }
    }

    // A USB adapter's stable name is far longer than a ComN name; the real probe opens it
    // through its link, and it is listed like any other free port.
    void adapterByItsLongStableNameIsListed() {
        test::PtyPair pty;
        QVERIFY(pty.ok());
        const QString root = devices.path() + "/long";
        QDir().mkpath(root + "/serial/by-id");
        const QString link = root +
                             "/serial/by-id/usb-Silicon_Labs_CP2102N_USB_to_UART_Bridge_"
                             "Controller_d2a4c8e0b35fe91187e3f1c4a9b2d6e0-if00-port0";
        QVERIFY(QFile::link(QString::fromStdString(pty.SlavePath()), link));
        QVERIFY(link.size() > 128);
        // The machine's own ComN ports are left alone.
        env->services.probePort = [r = root.toStdString()](const std::string& name) {
            return name.rfind(r, 0) == 0 ? ProbePort(name) : 1;
        };
        dlg->DeviceRoot = root.toStdString();
        dlg->show();
        QCOMPARE(Items(*dlg->sComboBox1), (QStringList{"Com1", "Com2", link}));
        QCOMPARE(Items(*dlg->sComboBox2), Items(*dlg->sComboBox1));
    }

    void applyWritesBothSidesAndSaysSo() {
        env->ports = {{"Com3", 0}};
        dlg->show();
        dlg->sComboBox1->setCurrentIndex(Items(*dlg->sComboBox1).indexOf("Com3"));
        dlg->sRadioGroup1->SetItemIndex(1);
        dlg->sComboBox2->setEditText("/dev/ttyUSB0");  // typed, not in the list
        dlg->sRadioGroup2->SetItemIndex(0);
        dlg->sButton1Click();
        dlg->sButton1Click();  // twice: the same values again, the message again
        const std::vector<std::string> recorded(2, "Информация зафиксирована!");
        QCOMPARE(env->boxes.Texts(), recorded);
        QVERIFY(dlg->isVisible());

        const ProgramState& s = env->conv.State;
        QCOMPARE(s.ModbusPortName, std::string("Com3"));
        QCOMPARE(s.ModbusPortExists, 1);
        QCOMPARE(s.VeltPortName, std::string("/dev/ttyUSB0"));
        QCOMPARE(s.VeltPortExists, 0);
        QCOMPARE(env->Read("MODBUS", "Com-порт"), std::string("Com3"));
        QCOMPARE(env->Read("MODBUS", "Существует"), std::string("1"));
        QCOMPARE(env->Read("VELT", "Com-порт"), std::string("/dev/ttyUSB0"));
        QCOMPARE(env->Read("VELT", "Существует"), std::string("0"));
    }

    // The first refused write ends Apply; what was set in memory before it stays set.
    void applyOnAReadOnlyFileReportsTheProblem() {
        env->Write("MODBUS", "Com-порт", "Com1");
        env->MakeReadOnly();
        dlg->show();
        dlg->sComboBox1->setEditText("Com9");
        dlg->sRadioGroup1->SetItemIndex(1);
        dlg->sButton1Click();
        QCOMPARE(env->boxes.Texts(), std::vector<std::string>{"Проблемы с записью в INI-файл"});
        QCOMPARE(env->conv.State.ModbusPortName, std::string("Com9"));
        QCOMPARE(env->conv.State.ModbusPortExists, 0);
        QCOMPARE(env->Read("MODBUS", "Com-порт"), std::string("Com1"));
        QCOMPARE(env->Read("MODBUS", "Существует"), std::string("<absent>"));
    }

    // Through the main window: the Velt side switched off is closed and its timer stays off,
    // the MODBUS side is reopened on its new name.
    void theMainWindowReopensWhatIsInUseAfterwards() {
        test::DialogEnv e;
        std::vector<test::FakePort*> made;
        e.services.makePort = [&made] {
            auto p = std::make_unique<test::FakePort>();
            made.push_back(p.get());
            return p;
        };
        e.Write("MODBUS", "Существует", "1");
        e.Write("VELT", "Существует", "1");
        e.ports = {{"Com4", 0}};
        Windows w(e.services);
        w.F_ModbusVelt->FormShow();
        QVERIFY(w.F_ModbusVelt->Timer2.isActive());
        e.dialogs.Then([](QDialog& d) {
            auto& u = static_cast<TF_UstCom&>(d);
            u.sComboBox1->setCurrentIndex(u.sComboBox1->findText("Com4"));
            u.sRadioGroup2->SetItemIndex(0);
            u.sButton1Click();
            u.sButton2Click();
        });
        w.F_ModbusVelt->N2Click();
        QCOMPARE(e.dialogs.shownDialogs.size(), size_t(1));
        QCOMPARE(e.Read("VELT", "Существует"), std::string("0"));
        QVERIFY(!w.Conv().VeltPort->IsOpen());
        QVERIFY(!w.F_ModbusVelt->Timer2.isActive());
        QVERIFY(w.F_ModbusVelt->Timer1.isActive());
        QCOMPARE(made.at(0)->openedName, std::string("Com4"));
    }

  private:
    QTemporaryDir devices;
    std::unique_ptr<test::DialogEnv> env;
    std::unique_ptr<TF_UstCom> dlg;
};

QTEST_MAIN(UstComTest)
#include "ustcom_test.moc"
