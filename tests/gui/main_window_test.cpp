// The main window through its handlers: the start-up sequence against real settings files, the
// log flag commands, the close guard's paths and the password dialogs.
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTextCursor>
#include <QToolButton>
#include <QtTest>
#include <fstream>
#include <functional>
#include <iterator>

#include "app/log_pane_widget.h"
#include "app/program_windows.h"
#include "settings/settings_file.h"
#include "settings/text_codec.h"
#include "support/fake_port.h"
#include "support/scripted_ui_qt.h"
#include "support/unreadable_file.h"

using namespace conv;

namespace {

// A program instance in a scratch folder, with fake serial ports.
struct Program {
    QTemporaryDir dir;
    test::RecordingBoxes boxes;
    test::ScriptedDialogs dialogs;
    AppServices services;
    std::vector<test::FakePort*> ports;
    std::unique_ptr<Windows> windows;

    explicit Program(const std::string& iniUtf8 = {}, bool failOpen = false) {
        services.boxes = &boxes;
        services.dialogs = &dialogs;
        services.settingsDir = dir.path().toStdString() + "/";
        services.makePort = [this, failOpen] {
            auto p = std::make_unique<test::FakePort>();
            p->failOpen = failOpen;
            p->Close();  // closed until the start-up opens it
            ports.push_back(p.get());
            return p;
        };
        if (!iniUtf8.empty()) {
            std::ofstream(services.SettingsPath(), std::ios::binary) << Utf8ToCp1251(iniUtf8);
        }
        windows = std::make_unique<Windows>(services);
    }
    TF_ModbusVelt& main() { return *windows->F_ModbusVelt; }
    Converter& conv() { return windows->Conv(); }
    std::string FileBytes() const {
        std::ifstream in(services.SettingsPath(), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    std::string Read(const char* section, const char* key) const {
        return SettingsFile(services.SettingsPath()).ReadString(section, key, "<absent>");
    }
};

QString Text(QLabel* l) {
    return l->text();
}

QAction* Named(const QList<QAction*>& actions, const QString& text) {
    for (QAction* a : actions) {
        if (a->text() == text) return a;
    }
    return nullptr;
}

// Chooses a menu item as the operator does: a click on the menu bar's entry, then a click on
// each item of the path in the menus it opens. A path of one entry is a command on the bar.
void ChooseFromMenu(QMainWindow& w, const QStringList& path) {
    QMenuBar& bar = *w.menuBar();
    QAction* entry = Named(bar.actions(), path[0]);
    QVERIFY2(entry, qPrintable(path[0]));
    QTest::mouseClick(&bar, Qt::LeftButton, {}, bar.actionGeometry(entry).center());
    QMenu* menu = entry->menu();
    for (const QString& item : path.mid(1)) {
        QVERIFY(menu);
        QTRY_VERIFY(menu->isVisible());
        QAction* a = Named(menu->actions(), item);
        QVERIFY2(a, qPrintable(item));
        QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(a).center());
        menu = a->menu();
    }
}

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT
  private slots:
    void windowLooksAsTheOperatorsKnowIt() {
        Program p;
        QCOMPARE(p.main().windowTitle(),
                 QStringLiteral("Конвертор Modbus Torvik+ -> Velt. Версия 00.08"));
        QCOMPARE(p.main().size(), QSize(807, 477));
        QCOMPARE(p.main().E1->text(), QStringLiteral("Установка адресов каналов"));
        QCOMPARE(p.main().N2->text(), QStringLiteral("Установка СОМ-порта"));
        QCOMPARE(p.main().E2->text(), QStringLiteral("Установка пароля для закрытия АРМа"));
        QCOMPARE(p.main().SpeedButton8->toolTip(), QStringLiteral("Установки по группам"));
        QCOMPARE(p.main().SpeedButton7->toolTip(), QStringLiteral("Просмотр текущих заправок"));
        QCOMPARE(p.main().SpeedButton6->width(), 91);
        QCOMPARE(Text(p.main().sLabel3), QStringLiteral("Флаг ведения протокола снят"));
        QCOMPARE(p.main().Timer1.interval(), 800);
        QCOMPARE(p.main().Timer2.interval(), 55);
        QCOMPARE(p.main().Timer2.timerType(), Qt::PreciseTimer);
        QVERIFY(p.main().Timer3.isActive());
        QVERIFY(!p.main().Timer1.isActive());
        QCOMPARE(p.windows->F_Nastroika->windowTitle(),
                 QStringLiteral("Настройка каналов датчиковой аппаратуры"));
    }

    void firstStartWithoutFileCreatesItAndOpensNothing() {
        Program p;
        p.main().show();  // the first showing runs FormShow
        QCOMPARE(p.FileBytes(), std::string("[\xD0\xE5\xE7\xE5\xF0\xE2\xF3\xE0\xF0]\r\n1=0\r\n"));
        const TankTable& t = p.conv().Table;
        QCOMPARE(t.Tank(1).Configured, 1);
        QCOMPARE(t.Tank(1).ChannelAddress, 0);
        QCOMPARE(t.Tank(2).Configured, 0);
        QCOMPARE(t.SlaveAddress, 80);
        QCOMPARE(t.FirstCycleDone, 0);
        QCOMPARE(p.conv().Log.LogEnabled, 1);
        QCOMPARE(Text(p.main().sLabel3), QStringLiteral("Флаг ведения протокола установлен"));
        QVERIFY(!p.main().Timer1.isActive());
        QVERIFY(!p.main().Timer2.isActive());
        QVERIFY(p.main().Timer3.isActive());
        QVERIFY(!p.conv().ModbusPort->IsOpen());
        QVERIFY(p.boxes.shown.empty());
        QTRY_VERIFY(p.main().isMinimized());
    }

    void fullFileConfiguresTanksPortsAndLogs() {
        Program p(
            "[Резервуар]\r\n1=0\r\n3=5\r\n64=300\r\n"
            "[SLAVE]\r\nАдрес=081\r\n[Флаг]\r\nПротокол=2\r\n"
            "[MODBUS]\r\nCom-порт=/dev/ttyS4\r\nСуществует=1\r\n"
            "[VELT]\r\nCom-порт=Com7\r\nСуществует=1\r\n");
        p.main().FormShow();
        const TankTable& t = p.conv().Table;
        QCOMPARE(t.SlaveAddress, 81);
        QCOMPARE(t.Tank(3).Configured, 1);
        QCOMPARE(t.Tank(3).ChannelAddress, 5);
        QCOMPARE(t.Tank(64).ChannelAddress, 300);
        QCOMPARE(t.Tank(2).Configured, 0);
        // 2 logs but the label reads "снят": only 1 counts as set.
        QCOMPARE(p.conv().Log.LogEnabled, 2);
        QCOMPARE(Text(p.main().sLabel3), QStringLiteral("Флаг ведения протокола снят"));
        QVERIFY(p.main().Timer1.isActive());
        QVERIFY(p.main().Timer2.isActive());
        QCOMPARE(p.ports[0]->openedName, std::string("/dev/ttyS4"));
        QCOMPARE(p.ports[1]->openedName, std::string("Com7"));
        QCOMPARE(p.main().sRichEdit1->toPlainText(),
                 QStringLiteral("\nMODBUS - /dev/ttyS4\n19200,8,1,ODD"));
        QCOMPARE(p.main().sRichEdit2->toPlainText(),
                 QStringLiteral("\nVELT - Com7\n9600,8,1,EVEN"));
    }

    void portThatCannotOpenStillStartsItsTimerAndLogs() {
        Program p("[MODBUS]\r\nСуществует=1\r\n", /*failOpen=*/true);
        p.main().FormShow();
        QCOMPARE(p.ports[0]->openedName, std::string("Com1"));  // the default name
        QCOMPARE(p.boxes.Texts(), std::vector<std::string>{"Ошибка программирования СОМ(MODBUS)"});
        QCOMPARE(p.boxes.shown[0].caption, std::string(" OUT "));
        QVERIFY(p.main().Timer1.isActive());
        QVERIFY(p.main().sRichEdit1->toPlainText().contains(QStringLiteral("MODBUS - Com1")));
    }

    void nonNumericValuesEndTheirBlockOnly() {
        Program p(
            "[Резервуар]\r\n1=2\r\n2=x\r\n3=4\r\n[SLAVE]\r\nАдрес=81\r\n"
            "[Флаг]\r\nПротокол=on\r\n"
            "[MODBUS]\r\nСуществует=да\r\n[VELT]\r\nCom-порт=Com3\r\nСуществует=1\r\n");
        p.main().FormShow();
        const TankTable& t = p.conv().Table;
        QCOMPARE(t.SlaveAddress, 81);
        QCOMPARE(t.Tank(1).Configured, 1);
        QCOMPARE(t.Tank(2).Configured, 0);  // the block ended at tank 2
        QCOMPARE(t.Tank(3).Configured, 0);
        QCOMPARE(p.conv().Log.LogEnabled, 0);
        QCOMPARE(Text(p.main().sLabel3), QStringLiteral("Флаг ведения протокола снят"));
        // The bad "Существует" is named in a box, that side stays unused, the rest goes on.
        QCOMPARE(p.boxes.shown.size(), size_t(1));
        const QString box = QString::fromStdString(p.boxes.shown[0].text);
        QVERIFY(box.contains(QStringLiteral("MODBUS")));
        QVERIFY(box.contains(QStringLiteral("Существует")));
        QVERIFY(box.contains(QStringLiteral("да")));
        QVERIFY(!p.main().Timer1.isActive());
        QVERIFY(p.main().Timer2.isActive());
        QCOMPARE(p.ports[1]->openedName, std::string("Com3"));
        QTRY_VERIFY(p.main().isMinimized());
    }

    void logFlagCommandsWriteTheFileAndTheLabel() {
        Program p;
        p.main().FormShow();
        p.main().N5Click();
        QCOMPARE(p.conv().Log.LogEnabled, 0);
        QCOMPARE(p.Read("Флаг", "Протокол"), std::string("0"));
        QCOMPARE(Text(p.main().sLabel3), QStringLiteral("Флаг ведения протокола снят"));
        const QString before = p.main().sRichEdit1->toPlainText();
        p.conv().Log.LogModbus("not shown");
        QCOMPARE(p.main().sRichEdit1->toPlainText(), before);
        p.main().N4Click();
        QCOMPARE(p.Read("Флаг", "Протокол"), std::string("1"));
        QCOMPARE(Text(p.main().sLabel3), QStringLiteral("Флаг ведения протокола установлен"));
        p.conv().Log.LogModbus("shown");
        QVERIFY(p.main().sRichEdit1->toPlainText().endsWith(QStringLiteral("shown")));

        // A refused write: the box, and the flag in use changed all the same; the label shows
        // the flag the program logs by, whatever the file holds.
        QFile::setPermissions(QString::fromStdString(p.services.SettingsPath()),
                              QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
        p.main().N5Click();
        QCOMPARE(p.boxes.shown.size(), size_t(1));
        QCOMPARE(p.conv().Log.LogEnabled, 0);
        QCOMPARE(Text(p.main().sLabel3), QStringLiteral("Флаг ведения протокола снят"));
        p.main().N4Click();
        QCOMPARE(p.boxes.shown.size(), size_t(2));
        QCOMPARE(p.conv().Log.LogEnabled, 1);
        QCOMPARE(Text(p.main().sLabel3), QStringLiteral("Флаг ведения протокола установлен"));
        QCOMPARE(p.Read("Флаг", "Протокол"), std::string("1"));
    }

    // Every menu item and tool button does its command when the operator uses it, through the
    // menu bar and the buttons themselves, not through the handlers.
    void everyMenuItemAndToolButtonDoesItsCommand() {
        Program p;
        TF_ModbusVelt& w = p.main();
        w.show();
        QTRY_VERIFY(w.isMinimized());
        w.showNormal();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        Windows& all = *p.windows;
        const auto shown = [&](QDialog* d) {
            return std::function<bool()>([&p, d] {
                return p.dialogs.shownDialogs == std::vector<QDialog*>{d} && p.boxes.shown.empty();
            });
        };
        const auto logFlag = [&](int32_t value, const char* label) {
            return std::function<bool()>([&p, value, label] {
                return p.conv().Log.LogEnabled == value &&
                       p.main().sLabel3->text() == QString::fromUtf8(label) &&
                       p.dialogs.shownDialogs.empty();
            });
        };
        // The close guard asked and, answered Cancel, kept the program running.
        const std::function<bool()> closeAsked = [&p] {
            return p.boxes.shown.size() == 1 && p.boxes.shown[0].okCancel && p.main().isVisible() &&
                   p.dialogs.shownDialogs.empty();
        };
        const QString setup = QStringLiteral("&Установка");
        const QString flag = QStringLiteral("Флаг ведения протокола");
        struct Case {
            QStringList menuPath;
            QToolButton* button;
            std::function<bool()> done;
        };
        const Case cases[] = {
            {{setup, "Установка адресов каналов"}, nullptr, shown(all.F_Nastroika.get())},
            {{setup, "Установка СОМ-порта"}, nullptr, shown(all.F_UstCom.get())},
            {{setup, flag, "Снять"}, nullptr, logFlag(0, "Флаг ведения протокола снят")},
            {{setup, flag, "Установить"}, nullptr, logFlag(1, "Флаг ведения протокола установлен")},
            {{setup, "Установка пароля для закрытия АРМа"}, nullptr, shown(all.F_Dostup.get())},
            {{"&Выход"}, nullptr, closeAsked},
            {{}, w.SpeedButton8, shown(all.F_Nastroika.get())},
            {{}, w.SpeedButton7, shown(all.F_SpravkaPPP.get())},
            {{}, w.SpeedButton6, closeAsked},
        };
        for (const Case& c : cases) {
            p.dialogs.shownDialogs.clear();
            p.boxes.shown.clear();
            if (c.button) {
                QTest::mouseClick(c.button, Qt::LeftButton);
            } else {
                ChooseFromMenu(w, c.menuPath);
                if (QTest::currentTestFailed()) return;
            }
            const QString what = c.button ? c.button->toolTip() : c.menuPath.join(" > ");
            QTRY_VERIFY2(c.done(), qPrintable(what));
        }
    }

    void closeWithDefaultPasswordAsksFirst() {
        Program p;
        p.main().FormShow();
        p.boxes.answers = {false};
        QVERIFY(!p.main().FormClose());
        QCOMPARE(p.boxes.shown.back().text,
                 std::string("При закрытии произойдет разрыв связи с датчиковой аппаратурой!!!"));
        QCOMPARE(p.boxes.shown.back().caption, std::string("Будьте внимательны!"));
        QVERIFY(p.boxes.shown.back().okCancel);
        QVERIFY(p.main().Timer3.isActive());  // a cancelled close leaves everything running
        p.boxes.answers = {true};
        QVERIFY(p.main().FormClose());
    }

    void closeWithOperatorPasswordNeedsItConfirmedNow() {
        Program p("[Пароль]\r\nоператора=4321\r\n");
        p.main().FormShow();
        auto type = [&](const char* text) {
            p.dialogs.Then([text](QDialog& d) {
                auto& prompt = static_cast<TF_ParOperatora&>(d);
                QVERIFY(prompt.sEdit1->text().isEmpty());
                prompt.sEdit1->setText(QString::fromUtf8(text));
                prompt.sButton1Click();
            });
        };
        type("1111");
        QVERIFY(!p.main().FormClose());
        QVERIFY(p.boxes.shown.empty());  // no box on this path
        type("4321");
        QVERIFY(p.main().FormClose());
        // Closed by its close box: nothing confirmed in this showing, so no close, even though
        // the right password was confirmed before.
        p.dialogs.Then({});
        QVERIFY(!p.main().FormClose());
        QCOMPARE(p.conv().State.EnteredOperatorPassword, std::string("4321"));
    }

    void emptyOperatorPasswordIsConfirmedWithAnEmptyField() {
        Program p("[Пароль]\r\nоператора=\r\n");
        p.main().FormShow();
        p.dialogs.Then([](QDialog& d) { static_cast<TF_ParOperatora&>(d).sButton1Click(); });
        QVERIFY(p.main().FormClose());
        p.dialogs.Then({});
        QVERIFY(!p.main().FormClose());
    }

    void closeEventFollowsTheGuard() {
        Program p;
        p.main().show();
        p.boxes.answers = {false};
        QVERIFY(!p.main().close());
        QVERIFY(p.main().isVisible());
        p.boxes.answers = {true};
        QVERIFY(p.main().close());
    }

    void accessPromptThenPasswordDialog() {
        Program p;
        p.main().FormShow();
        // Wrong code, then the right one (the default while the file holds none).
        p.dialogs.Then([&](QDialog& d) {
            auto& prompt = static_cast<TF_Dostup&>(d);
            prompt.sEdit1->setText(QStringLiteral("000000"));
            prompt.sButton1Click();
            QCOMPARE(p.conv().State.AccessGranted, 0);
            QVERIFY(prompt.sEdit1->text().isEmpty());
            QVERIFY(prompt.isVisible());
            prompt.sEdit1->setText(QStringLiteral("731904"));
            prompt.sButton1Click();
        });
        p.dialogs.Then([&](QDialog& d) {
            auto& dlg = static_cast<TF_Parol&>(d);
            QCOMPARE(dlg.sEdit1->text(), QStringLiteral("731904"));
            QCOMPARE(dlg.sEdit2->text(), QStringLiteral("731904"));
            dlg.sEdit1->setText(QStringLiteral("111"));
            dlg.sEdit2->setText(QStringLiteral("222"));
            dlg.sButton1Click();
            dlg.sButton3Click();
        });
        p.main().E2Click();
        QCOMPARE(p.boxes.Texts(), (std::vector<std::string>{"Код доступа введен неправильно!",
                                                            "Информация сохранена!"}));
        QCOMPARE(p.Read("Пароль", "доступа"), std::string("111"));
        QCOMPARE(p.Read("Пароль", "оператора"), std::string("222"));
        QCOMPARE(p.dialogs.shownDialogs.size(), size_t(2));

        // The prompt closed by its close box grants nothing: the password dialog is not shown.
        p.dialogs.Then({});
        p.main().E2Click();
        QCOMPARE(p.conv().State.AccessGranted, 0);
        QCOMPARE(p.dialogs.shownDialogs.size(), size_t(3));
    }

    // A password that would read back otherwise could never be typed at the close prompt: it
    // is refused with one message and nothing is written; what reads back is stored.
    void passwordsThatWouldNotReadBackAreRefused() {
        const std::string file = "[Пароль]\r\nдоступа=731904\r\nоператора=731904\r\n";
        struct Case {
            bool utf8File;
            const char* access;
            const char* operatorPassword;
            bool stored;
        };
        const Case cases[] = {
            {false, "111", " 222", false},   {false, "111 ", "222", false},
            {false, "\"11\"", "222", false}, {false, "111", "'22'", false},
            {false, "111", "日本", false},   {false, "a b", "\"1", true},
            {false, "пароль", "№€", true},   {true, "111", "日本", true},
        };
        for (const Case& c : cases) {
            Program p;
            std::ofstream(p.services.SettingsPath(), std::ios::binary)
                << (c.utf8File ? file : Utf8ToCp1251(file));
            TF_Parol& dlg = *p.windows->F_Parol;
            dlg.show();
            dlg.sEdit1->setText(QString::fromUtf8(c.access));
            dlg.sEdit2->setText(QString::fromUtf8(c.operatorPassword));
            const std::string before = p.FileBytes();
            dlg.sButton1->click();
            QCOMPARE(p.boxes.shown.size(), size_t(1));
            if (c.stored) {
                QCOMPARE(p.boxes.shown[0].text, std::string("Информация сохранена!"));
                QCOMPARE(p.Read("Пароль", "доступа"), std::string(c.access));
                QCOMPARE(p.Read("Пароль", "оператора"), std::string(c.operatorPassword));
            } else {
                QCOMPARE(p.boxes.shown[0].text, std::string(kPasswordWouldNotReadBack));
                QCOMPARE(p.FileBytes(), before);
            }
        }
    }

    void passwordDialogCreatesAMissingFile() {
        Program p;
        QFile::remove(QString::fromStdString(p.services.SettingsPath()));
        p.windows->F_Parol->FormShow();
        QCOMPARE(p.Read("Пароль", "доступа"), std::string("731904"));
        QCOMPARE(p.Read("Пароль", "оператора"), std::string("731904"));
        QCOMPARE(p.windows->F_Parol->sEdit2->text(), QStringLiteral("731904"));
        QCOMPARE(p.windows->F_Dostup->sEdit1->maxLength(), 6);
        QCOMPARE(p.windows->F_Dostup->sEdit1->echoMode(), QLineEdit::Password);
    }

    // A settings file that is there but cannot be read: the start-up says so once and runs on
    // the defaults without touching it, no write goes over it, and neither the close guard nor
    // the access prompt takes the default password for the one that is set.
    void unreadableFileIsReportedAndNeverTakenForAMissingOne() {
        for (const test::UnreadableWay& way : test::UnreadableWays()) {
            Program p;
            const std::string path = p.services.SettingsPath();
            test::MakeUnreadable(path, way.kind);
            const std::string onDisk = test::DescribeOnDisk(path);
            const std::string cannotRead =
                "Не удалось прочитать файл настроек " + path + ": " + way.reason + ". ";

            p.main().FormShow();
            QCOMPARE(p.boxes.Texts(),
                     std::vector<std::string>{
                         cannotRead +
                         "Программа работает с настройками по умолчанию, файл не изменён."});
            const TankTable& t = p.conv().Table;
            QCOMPARE(t.Tank(1).Configured, 0);  // not the first start's tank 1
            QCOMPARE(t.SlaveAddress, 80);
            QCOMPARE(p.conv().Log.LogEnabled, 1);
            QVERIFY(!p.main().Timer1.isActive());
            QVERIFY(!p.main().Timer2.isActive());

            p.main().N5Click();
            QCOMPARE(p.boxes.shown.back().text, "Ошибка записи в файл настроек " + path +
                                                    ": файл не удалось прочитать (" + way.reason +
                                                    ")");

            p.boxes.answers = {true};
            QVERIFY(!p.main().FormClose());
            QCOMPARE(p.boxes.shown.back().text,
                     cannotRead + "Пароль оператора проверить нельзя, программа не закрыта.");
            QVERIFY(!p.boxes.shown.back().okCancel);
            QVERIFY(p.dialogs.shownDialogs.empty());

            p.dialogs.Then([](QDialog& d) {
                auto& prompt = static_cast<TF_Dostup&>(d);
                prompt.sEdit1->setText(QStringLiteral("731904"));
                prompt.sButton1Click();
            });
            p.main().E2Click();
            QCOMPARE(p.conv().State.AccessGranted, 0);
            QCOMPARE(p.boxes.shown.back().text, cannotRead + "Код доступа проверить нельзя.");
            QCOMPARE(p.dialogs.shownDialogs.size(), size_t(1));  // no password dialog

            TF_Parol& parol = *p.windows->F_Parol;
            parol.sEdit1->setText(QStringLiteral("старый"));
            parol.sEdit2->setText(QStringLiteral("старый"));
            parol.FormShow();
            QVERIFY(parol.sEdit1->text().isEmpty());
            QVERIFY(parol.sEdit2->text().isEmpty());
            QCOMPARE(p.boxes.shown.back().text, cannotRead + "Пароли не показаны.");
            QCOMPARE(test::DescribeOnDisk(path), onDisk);

            // Once the file can be read again, closing asks for the password that is set.
            test::RemoveUnreadable(path);
            std::ofstream(path, std::ios::binary) << "[Пароль]\r\nоператора=4321\r\n";
            p.dialogs.Then([](QDialog& d) {
                auto& prompt = static_cast<TF_ParOperatora&>(d);
                prompt.sEdit1->setText(QStringLiteral("4321"));
                prompt.sButton1Click();
            });
            QVERIFY(p.main().FormClose());
        }
    }

    void minimisedPanesHoldTheirLinesUntilRestored() {
        Program p;
        p.main().show();
        QTRY_VERIFY(p.main().isMinimized());
        Converter& c = p.conv();
        const QString before = p.main().sRichEdit2->toPlainText();
        c.Log.LogVelt("held");
        QCOMPARE(p.main().sRichEdit2->toPlainText(), before);  // nothing laid out meanwhile
        QCOMPARE(p.main().sRichEdit2->LineCount(), 2);
        // The line rule counts the held lines: the pane starts over while minimised as well.
        while (p.main().sRichEdit2->LineCount() < 200) c.Log.LogVelt("line");
        c.Log.LogVelt("first after clearing");
        c.Log.LogVelt("second");
        p.main().showNormal();
        QCOMPARE(p.main().sRichEdit2->toPlainText(),
                 QStringLiteral("first after clearing\nsecond"));
        QCOMPARE(p.main().sRichEdit2->LineCount(), 2);
        c.Log.LogVelt("live");
        QVERIFY(p.main().sRichEdit2->toPlainText().endsWith(QStringLiteral("second\nlive")));
    }

    // The operator reads back and copies from a pane while the host keeps it busy: new lines
    // are followed only while the view is at the end and nothing is selected.
    void panesFollowNewLinesOnlyAtTheEndWithNothingSelected() {
        LogPaneWidget pane;
        pane.resize(300, 200);
        pane.show();
        QScrollBar& bar = *pane.verticalScrollBar();
        int n = 0;
        const auto add = [&](int lines) {
            for (int i = 0; i < lines; ++i) pane.AppendLine("line " + std::to_string(++n));
        };
        add(100);
        QVERIFY(bar.maximum() > 10);
        QCOMPARE(bar.value(), bar.maximum());

        bar.setValue(10);  // scrolled up to read
        add(5);
        QCOMPARE(bar.value(), 10);

        bar.setValue(bar.maximum());
        QTextCursor selection = pane.textCursor();
        selection.movePosition(QTextCursor::End);
        selection.movePosition(QTextCursor::PreviousBlock, QTextCursor::KeepAnchor);
        pane.setTextCursor(selection);  // the last two lines, about to be copied
        const QString selected = pane.textCursor().selectedText();
        const int at = bar.value();
        add(5);
        QCOMPARE(pane.textCursor().selectedText(), selected);
        QCOMPARE(bar.value(), at);
        QVERIFY(bar.value() < bar.maximum());

        selection.clearSelection();
        pane.setTextCursor(selection);
        bar.setValue(bar.maximum());
        add(5);
        QCOMPARE(bar.value(), bar.maximum());
        QVERIFY(pane.toPlainText().endsWith(QStringLiteral("line 115")));
        pane.resize(300, 120);  // a shorter pane still follows
        add(1);
        QCOMPARE(bar.value(), bar.maximum());
    }

    // The left pane keeps its width; the right one takes what the window gains or loses.
    void theRightPaneTakesTheWindowsNewWidth() {
        Program p;
        TF_ModbusVelt& w = p.main();
        w.show();
        QTRY_VERIFY(w.isMinimized());
        w.showNormal();
        QTRY_COMPARE(w.width(), 807);
        const int left = w.sRichEdit1->width();
        const int right = w.sRichEdit2->width();
        QVERIFY(left >= 390 && left <= 393);
        for (const int grow : {400, 100, -50}) {
            w.resize(807 + grow, 477);
            QTRY_COMPARE(w.width(), 807 + grow);
            QCOMPARE(w.sRichEdit1->width(), left);
            QCOMPARE(w.sRichEdit2->width(), right + grow);
        }
    }

    void paneStartsOverAfter200Lines() {
        Program p;
        p.main().FormShow();
        Converter& c = p.conv();
        c.Log.LogEnabled = 1;
        while (p.main().sRichEdit2->LineCount() < 200) c.Log.LogVelt("line");
        c.Log.LogVelt("after");
        QCOMPARE(p.main().sRichEdit2->toPlainText(), QStringLiteral("after"));
        QCOMPARE(p.main().sRichEdit2->LineCount(), 1);
    }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
