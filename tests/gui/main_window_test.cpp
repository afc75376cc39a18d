// The main window as the operator meets it: the start-up on the settings file it finds, every
// command by its menu item or button, the close guard, the password dialogs, the log panes and a
// lost gauge port opened again.
#include <QLineEdit>
#include <QMenuBar>
#include <QScrollBar>
#include <QTextCursor>
#include <QToolButton>
#include <QtTest>
#include <tuple>

#include "app/log_pane_widget.h"
#include "dialogs/string_grid.h"
#include "gui/dialog_env.h"
#include "support/unreadable_file.h"

using namespace conv;

namespace {

// Clicks the action where the operator finds it: on the menu bar, or in its menu once the menus
// that lead to it have been opened by clicks of their own. False when it is in no menu.
bool Click(QAction* a) {
    for (QObject* o : a->associatedObjects()) {
        if (auto* bar = qobject_cast<QMenuBar*>(o)) {
            QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(a).center());
            return true;
        }
        auto* menu = qobject_cast<QMenu*>(o);
        if (menu && Click(menu->menuAction()) &&
            QTest::qWaitFor([menu] { return menu->isVisible(); })) {
            QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(a).center());
            return true;
        }
    }
    return false;
}

// Types into the next prompt shown (the access code or the operator password) and presses Enter.
void TypeAtNextPrompt(test::DialogEnv& e, const char* text) {
    e.dialogs.Then([text](QDialog& d) {
        QTest::keyClicks(d.findChild<QLineEdit*>(), QString::fromUtf8(text));
        QTest::keyClick(d.findChild<QLineEdit*>(), Qt::Key_Return);
    });
}

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT
  private slots:
    // The main window's side of the start-up (the file's rules are the core's): each side's port
    // opened and its timer run even when the open fails, the panes, the window minimised; then the
    // timers drive the poll and the panel shows the tank asked.
    void startUpOpensThePortsAndThePollRuns() {
        test::DialogEnv e;
        e.WriteFile(
            "[Резервуар]\n1=3\n[Флаг]\nПротокол=2\n[MODBUS]\nСуществует=1\nБыстрый опрос=2\n"
            "Ожидание=30\nПауза=10.5\n[VELT]\nCom-порт=Com7\nСуществует=1\n");
        e.ports[1]->failOpen = true;
        TF_ModbusVelt& w = e.Main();
        w.show();  // the first showing starts the program
        QTRY_VERIFY(w.isMinimized());
        QVERIFY(w.Timer1.isActive() && w.Timer2.isActive());
        QCOMPARE(e.ports[0]->openedName + " " + e.ports[1]->openedName, "Com1 Com7");
        QCOMPARE(w.sRichEdit1->toPlainText() + " / " + w.sRichEdit2->toPlainText(),
                 "\nMODBUS - Com1\n19200,8,1,ODD / \nVELT - Com7\n9600,8,1,EVEN");
        // Each bad value gives its default and one box naming it.
        const std::string bad = "Неверное значение в файле настроек: [MODBUS] ";
        QCOMPARE(e.boxes.Texts(),
                 (std::vector<std::string>{
                     bad + "Быстрый опрос=\"2\". Допустимо 0 или 1, используется 0.",
                     bad + "Ожидание=\"30\". Допустимо от 50 до 5000, используется 800.",
                     bad + "Пауза=\"10.5\". Допустимо от 0 до 2000, используется 20.",
                     "Ошибка программирования СОМ(VELT)"}));
        QTRY_VERIFY_WITH_TIMEOUT(!e.ports[0]->writes.empty(), 10000);
        QCOMPARE(w.sPanel5->text(), QStringLiteral("1"));
        // While minimised the panes hold their lines, the 200-line rule counting them, until the
        // window is restored.
        const QString before = w.sRichEdit2->toPlainText();
        while (w.sRichEdit2->LineCount() < 200) e.conv.Log.LogVelt("line");
        QCOMPARE(w.sRichEdit2->toPlainText(), before);  // nothing laid out meanwhile
        e.conv.Log.LogVelt("first after clearing");
        e.conv.Log.LogVelt("second");
        w.showNormal();
        QCOMPARE(w.sRichEdit2->toPlainText(), QStringLiteral("first after clearing\nsecond"));
    }

    // Every menu item and tool button does its command when the operator clicks it, through
    // the menu bar and the buttons themselves, not through the handlers.
    void everyMenuItemAndToolButtonDoesItsCommand() {
        test::DialogEnv e;
        TF_ModbusVelt& w = e.Main();
        w.show();
        QTRY_VERIFY(w.isMinimized());
        w.showNormal();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        // What a command did: the dialogs it showed, the boxes it asked, the log flag's label
        // and the flag in the file.
        const auto did = [&e] {
            QStringList s;
            for (QDialog* d : e.dialogs.shownDialogs) s << d->windowTitle();
            for (const test::Box& b : e.boxes.shown) s << QString::fromStdString(b.caption);
            return s.join(", ") + " | " + e.Main().sLabel3->text().section(' ', -1) + " " +
                   e.Read("Флаг", "Протокол").c_str();
        };
        const std::pair<QObject*, const char*> cases[] = {
            {w.E1, "Настройка каналов датчиковой аппаратуры | установлен <absent>"},
            {w.N2, "Установка по COM-портам | установлен <absent>"},
            {w.N5, " | снят 0"},
            {w.N4, " | установлен 1"},
            {w.E2, "Код доступа | установлен 1"},
            {w.D1, "Будьте внимательны! | установлен 1"},  // answered Cancel
            {w.SpeedButton8, "Настройка каналов датчиковой аппаратуры | установлен 1"},
            {w.SpeedButton7, "Информация поступающая с ДА | установлен 1"},
            {w.SpeedButton6, "Будьте внимательны! | установлен 1"}};
        for (const auto& [control, done] : cases) {
            e.dialogs.shownDialogs.clear();
            e.boxes.shown.clear();
            if (auto* a = qobject_cast<QAction*>(control)) {
                QVERIFY(Click(a));
            } else {
                QTest::mouseClick(static_cast<QWidget*>(control), Qt::LeftButton);
            }
            QTRY_COMPARE(did(), QString::fromUtf8(done));
        }
        QVERIFY(w.isVisible());
    }

    // The default password asks to confirm; a password that is set must be typed in this very
    // showing of the prompt (closed by its close box, an earlier right entry does not count).
    void closingNeedsTheOperatorsConsent() {
        const struct {
            const char* file;
            bool okAnswered;
            const char* typed;  // at the prompt; none: closed by its close box
            bool closes;
        } cases[] = {
            {"", false, nullptr, false},
            {"", true, nullptr, true},
            {"[Пароль]\nоператора=4321\n", true, "1111", false},
            {"[Пароль]\nоператора=4321\n", true, "4321", true},
            {"[Пароль]\nоператора=4321\n", true, nullptr, false},
            {"[Пароль]\nоператора=\n", true, "", true},
        };
        for (const auto& c : cases) {
            test::DialogEnv e;
            e.WriteFile(c.file);
            e.Main().show();
            e.conv.State.EnteredOperatorPassword = "4321";  // confirmed at an earlier prompt
            e.boxes.answers = {c.okAnswered};
            if (c.typed) TypeAtNextPrompt(e, c.typed);
            QTest::mouseClick(e.Main().SpeedButton6, Qt::LeftButton);
            QCOMPARE(e.Main().isVisible(), !c.closes);
            QCOMPARE(e.boxes.shown.size(), size_t(*c.file ? 0 : 1));
        }
    }

    // The access code opens the password dialog. A password that would read back otherwise (the
    // rule is the settings file's) is refused with one message and nothing is written.
    void passwordsThatWouldNotReadBackAreRefused() {
        const struct {
            bool file;
            const char *code, *access, *operatorPassword, *box;
        } cases[] = {
            {true, "000000", "", "", "Код доступа введен неправильно!"},
            {false, "731904", "111", "222", "Информация сохранена!"},
            {true, "731904", "111", " 222", kPasswordWouldNotReadBack},
            {true, "731904", "\"11\"", "222", kPasswordWouldNotReadBack},
        };
        for (const auto& c : cases) {
            test::DialogEnv e;
            if (c.file) e.WriteFile("[Пароль]\r\nдоступа=731904\r\nоператора=731904\r\n");
            TypeAtNextPrompt(e, c.code);
            e.dialogs.Then([&](QDialog& d) {
                auto& dlg = static_cast<TF_Parol&>(d);
                dlg.sEdit1->setText(QString::fromUtf8(c.access));
                dlg.sEdit2->setText(QString::fromUtf8(c.operatorPassword));
                dlg.sButton1->click();
            });
            e.Main().E2->trigger();
            QCOMPARE(e.boxes.Texts(), std::vector<std::string>{c.box});
            const bool stored = c.box == std::string("Информация сохранена!");
            QCOMPARE(e.Read("Пароль", "доступа") + "|" + e.Read("Пароль", "оператора"),
                     stored ? std::string(c.access) + "|" + c.operatorPassword : "731904|731904");
        }
    }

    // A settings file that is there but cannot be read (the start-up's message is the core's):
    // no write goes over it, from the log flag (whose label shows the flag in use all the same)
    // or the channel setup (which keeps the tanks polled), and neither the close guard nor the
    // access prompt takes the default password for the one that is set.
    void unreadableFileIsNeverTakenForAMissingOne() {
        for (const test::UnreadableWay& way : test::UnreadableWays()) {
            test::DialogEnv e;
            const std::string path = e.IniPath();
            test::MakeUnreadable(path, way.kind);
            const std::string onDisk = test::DescribeOnDisk(path);
            const std::string cannotRead =
                "Не удалось прочитать файл настроек " + path + ": " + way.reason + ". ";
            const std::string refused = "Ошибка записи в файл настроек " + path +
                                        ": файл не удалось прочитать (" + way.reason + ")";
            e.Main().FormShow();
            e.Main().N5->trigger();
            QCOMPARE(e.Main().sLabel3->text(), "Флаг ведения протокола снят");
            e.boxes.answers = {true};
            QVERIFY(!e.Main().FormClose());
            TypeAtNextPrompt(e, "731904");
            e.Main().E2->trigger();
            e.conv.Table.Tank(3).Configured = 1;
            e.conv.Table.Tank(3).ChannelAddress = 4;
            TF_Nastroika& channels = *e.windows->F_Nastroika;
            channels.show();
            channels.sButton1->click();
            QCOMPARE(channels.StringGrid1->Cell(0, 1) + channels.StringGrid1->Cell(1, 1) + " " +
                         e.Polled(),
                     "34 3:4");
            QCOMPARE(e.boxes.Texts(),
                     (std::vector<std::string>{
                         e.boxes.shown[0].text, refused,
                         cannotRead + "Пароль оператора проверить нельзя, программа не закрыта.",
                         cannotRead + "Код доступа проверить нельзя.", refused}));
            QCOMPARE(e.dialogs.shownDialogs.size(), size_t(1));  // no password dialog
            QCOMPARE(test::DescribeOnDisk(path), onDisk);
            test::RemoveUnreadable(path);
        }
    }

    // The operator reads back and copies from a pane while the host keeps it busy: new lines
    // are followed only while the view is at the end and nothing is selected.
    void panesFollowNewLinesOnlyAtTheEndWithNothingSelected() {
        LogPaneWidget pane;
        pane.resize(300, 200);
        pane.show();
        QVERIFY(QTest::qWaitForWindowExposed(&pane));
        QScrollBar& bar = *pane.verticalScrollBar();
        const auto append = [&](const std::string& prefix, int count) {
            const int before = pane.LineCount();
            for (int i = 0; i < count; ++i) pane.AppendLine(prefix + std::to_string(i));
            QCOMPARE(pane.LineCount(), before + count);  // the 200-line rule counts them at once
            const QString last = QString::fromStdString(prefix + std::to_string(count - 1));
            QTRY_COMPARE(pane.toPlainText().section('\n', -1), last);
        };
        append("line ", 100);
        // Scrolled up to read; the last two lines selected to be copied; at the end.
        for (const auto& [scrolledUp, selecting, follows] :
             {std::tuple{true, false, false}, {false, true, false}, {false, false, true}}) {
            QTextCursor view = pane.textCursor();
            view.movePosition(QTextCursor::End);
            if (selecting) view.movePosition(QTextCursor::PreviousBlock, QTextCursor::KeepAnchor);
            pane.setTextCursor(view);
            bar.setValue(scrolledUp ? 10 : bar.maximum());
            const int at = bar.value();
            const QString selected = view.selectedText();
            append("new " + std::to_string(scrolledUp) + std::to_string(selecting) + " ", 5);
            QCOMPARE(pane.textCursor().selectedText(), selected);
            QCOMPARE(bar.value(), follows ? bar.maximum() : at);
        }
    }

    // A gauge port whose device has gone is closed at the next step and opened again by the
    // window's own timer five seconds on, once the device is back (the panes' lines are the
    // core's).
    void lostGaugePortIsOpenedAgainByTheWindow() {
        test::DialogEnv e;
        e.WriteFile(
            "[Резервуар]\n1=3\n[Флаг]\nПротокол=0\n[MODBUS]\nCom-порт=Com5\nСуществует=1\n");
        TF_ModbusVelt& m = e.Main();
        m.FormShow();
        test::UnpluggablePort& gauge = *e.ports[0];
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

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
