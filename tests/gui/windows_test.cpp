// The program's windows as the operator meets them, on fake ports and a settings folder of their
// own. The main window: the start-up on the settings file it finds and a lost gauge port opened
// again, every command by its menu item or button, the close guard, the password dialogs, the log
// panes. Channel setup: what Save and Remove make of the grid in the poll and in the settings
// file, the slave address, and the keyboard path of an operator in mid-edit. Current data viewer:
// which tanks each grid lists (its own refresh shows them), values that reach their cells (their
// formats are the core's) and are never cut. Serial port setup: the ports each side may choose from
// (probed, scanned, configured), names that read whole, Apply, and the main window opening again
// what is in use afterwards.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QMenuBar>
#include <QScrollBar>
#include <QStyle>
#include <QToolButton>
#include <QtTest>
#include <tuple>

#include "app/log_pane_widget.h"
#include "dialogs/string_grid.h"
#include "dialogs/ustcom.h"
#include "gui/dialog_env.h"
#include "support/gauge_values.h"
#include "support/unreadable_file.h"

using namespace conv;
using namespace conv::test;

namespace {

// Clicks the action where the operator finds it: on the menu bar, or in its menu once the menus
// that lead to it have been opened by clicks of their own. False when it is in no menu.
bool Click(QAction* a) {
    for (QObject* o : a->associatedObjects()) {
        auto* bar = qobject_cast<QMenuBar*>(o);
        auto* menu = qobject_cast<QMenu*>(o);
        if (bar || (menu && Click(menu->menuAction()) &&
                    QTest::qWaitFor([menu] { return menu->isVisible(); }))) {
            const QRect at = bar ? bar->actionGeometry(a) : menu->actionGeometry(a);
            QTest::mouseClick(static_cast<QWidget*>(o), Qt::LeftButton, {}, at.center());
            return true;
        }
    }
    return false;
}

// Types into the next prompt shown (the access code or the operator password) and presses Enter.
void TypeAtNextPrompt(DialogEnv& e, const char* text) {
    e.dialogs.Then([text](QDialog& d) {
        QTest::keyClicks(d.findChild<QLineEdit*>(), QString::fromUtf8(text) + '\r');
    });
}

const char* const kRange15 = "Проверьте правильность введенных данных!(0-15)";
const char* const kRecorded = "Информация зафиксирована!";

// A grid's data rows as "tank:channel", as the fixture writes the tanks polled and those in the
// file; with `listed`, only those up to the first row without a tank.
QString Grid(const StringGrid& g, bool listed = false) {
    QStringList out;
    for (int r = 1; r < g.RowCount() && !(listed && g.Cell(0, r).isEmpty()); ++r) {
        out << g.Cell(0, r) + ":" + g.Cell(1, r);
    }
    return out.join(' ');
}

QString Items(const QComboBox& c) {
    QStringList out;
    for (int i = 0; i < c.count(); ++i) out << c.itemText(i);
    return out.join(' ');
}

}  // namespace

class WindowsTest : public QObject {
    Q_OBJECT

  private slots:
    // The main window's side of the start-up (the file's rules are the core's): each side's port
    // opened and its timer run even when the open fails, the panes, the window minimised; then the
    // timers drive the poll. Then the window at work.
    void startUpAndTheWindowAtWork() {
        DialogEnv e;
        e.WriteFile(
            "[Резервуар]\n1=3\n[Флаг]\nПротокол=2\n[MODBUS]\nСуществует=1\nБыстрый опрос=2\n"
            "[VELT]\nCom-порт=Com7\nСуществует=1\n");
        e.ports[1]->failOpen = true;
        TF_ModbusVelt& w = e.Main();
        w.show();  // the first showing starts the program
        QTRY_VERIFY(w.isMinimized());
        QVERIFY(w.Timer1.isActive() && w.Timer2.isActive());
        QCOMPARE(w.sRichEdit1->toPlainText() + " / " + w.sRichEdit2->toPlainText(),
                 "\nMODBUS - Com1\n19200,8,1,ODD / \nVELT - Com7\n9600,8,1,EVEN");
        // A bad value gives its default and a box naming it (the rules are the core's).
        const std::string bad = "Неверное значение в файле настроек: [MODBUS] ";
        QCOMPARE(e.boxes.Texts(),
                 (std::vector<std::string>{
                     bad + "Быстрый опрос=\"2\". Допустимо 0 или 1, используется 0.",
                     "Ошибка программирования СОМ(VELT)"}));
        // While minimised the panes hold their lines, the 200-line rule counting them, until the
        // window is restored.
        const QString before = w.sRichEdit2->toPlainText();
        while (w.sRichEdit2->LineCount() < 200) e.conv.Log.LogVelt("line");
        QCOMPARE(w.sRichEdit2->toPlainText(), before);  // nothing laid out meanwhile
        e.conv.Log.LogVelt("first after clearing");
        w.showNormal();
        QCOMPARE(w.sRichEdit2->toPlainText(), QStringLiteral("first after clearing"));
        // A gauge port whose device has gone is closed at the next step and opened again once
        // the device is back (when, and what the panes are told, is the core's).
        e.ports[0]->present = false;
        QTRY_VERIFY_WITH_TIMEOUT(!e.ports[0]->IsOpen(), 10000);
        e.ports[0]->present = true;
        QTRY_VERIFY_WITH_TIMEOUT(e.ports[0]->IsOpen(), 15000);

        // Every menu item and tool button does its command when the operator clicks it, through
        // the menu bar and the buttons themselves, not through the handlers.
        QVERIFY(QTest::qWaitForWindowActive(&w));
        e.ports[1]->failOpen = false;  // the port dialog's closing opens the host side again
        // What a command did: the dialogs it showed, the boxes it asked, the log flag's label
        // and the flag in the file.
        const auto did = [&e] {
            QStringList s;
            for (QDialog* d : e.dialogs.shownDialogs) s << d->windowTitle();
            for (const Box& b : e.boxes.shown) s << QString::fromStdString(b.caption);
            return s.join(", ") + " | " + e.Main().sLabel3->text().section(' ', -1) + " " +
                   e.Read("Флаг", "Протокол").c_str();
        };
        const std::pair<QObject*, const char*> cases[] = {
            {w.E1, "Настройка каналов датчиковой аппаратуры | снят 2"},
            {w.N2, "Установка по COM-портам | снят 2"},
            {w.N5, " | снят 0"},
            {w.N4, " | установлен 1"},
            {w.E2, "Код доступа | установлен 1"},
            {w.D1, "Будьте внимательны! | установлен 1"},  // answered Cancel
            {w.SpeedButton8, "Настройка каналов датчиковой аппаратуры | установлен 1"},
            {w.SpeedButton7, "Информация поступающая с ДА | установлен 1"}};
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
    }

    // The default password asks to confirm; a password that is set must be typed in this very
    // showing of the prompt (closed by its close box, an earlier right entry does not count).
    void closingNeedsTheOperatorsConsent() {
        // The file, the confirmation's answer, what is typed at the prompt (none: closed by its
        // close box), whether the program closes.
        const std::tuple<const char*, bool, const char*, bool> cases[] = {
            {"", false, nullptr, false},
            {"", true, nullptr, true},
            {"[Пароль]\nоператора=4321\n", true, "1111", false},
            {"[Пароль]\nоператора=4321\n", true, "4321", true},
            {"[Пароль]\nоператора=4321\n", true, nullptr, false},
        };
        for (const auto& [file, okAnswered, typed, closes] : cases) {
            DialogEnv e;
            e.WriteFile(file);
            e.Main().show();
            e.conv.State.EnteredOperatorPassword = "4321";  // confirmed at an earlier prompt
            e.boxes.answers = {okAnswered};
            if (typed) TypeAtNextPrompt(e, typed);
            QTest::mouseClick(e.Main().SpeedButton6, Qt::LeftButton);
            QCOMPARE(e.Main().isVisible(), !closes);
        }
    }

    // The access code opens the password dialog. A password that would read back otherwise (the
    // rule is the settings file's) is refused with one message and nothing is written.
    void passwordsThatWouldNotReadBackAreRefused() {
        // A file with both passwords set, the access code typed, the passwords given, the message,
        // the passwords then in the file.
        using Text = const char*;
        const std::tuple<bool, Text, Text, Text, Text, std::string> cases[] = {
            {true, "000000", "", "", "Код доступа введен неправильно!", "731904|731904"},
            {false, "731904", "111", "222", "Информация сохранена!", "111|222"},
            {true, "731904", "111", " 222", kPasswordWouldNotReadBack, "731904|731904"},
        };
        for (const auto& [file, code, access, operatorPassword, box, kept] : cases) {
            DialogEnv e;
            if (file) e.WriteFile("[Пароль]\r\nдоступа=731904\r\nоператора=731904\r\n");
            TypeAtNextPrompt(e, code);
            e.dialogs.Then([&](QDialog& d) {
                auto& dlg = static_cast<TF_Parol&>(d);
                dlg.sEdit1->setText(QString::fromUtf8(access));
                dlg.sEdit2->setText(QString::fromUtf8(operatorPassword));
                dlg.sButton1->click();
            });
            e.Main().E2->trigger();
            QCOMPARE(e.boxes.Texts(), std::vector<std::string>{box});
            QCOMPARE(e.Read("Пароль", "доступа") + "|" + e.Read("Пароль", "оператора"), kept);
        }
    }

    // A settings file that is there but cannot be read (the start-up's message is the core's):
    // no write goes over it from the channel setup (which keeps the tanks polled), and neither the
    // close guard nor the access prompt takes the default password for the one that is set.
    void unreadableFileIsNeverTakenForAMissingOne() {
        const UnreadableWay way = UnreadableWays().front();  // the ways are the core's
        DialogEnv e;
        const std::string path = e.IniPath();
        MakeUnreadable(path, way.kind);
        const std::string onDisk = DescribeOnDisk(path);
        const std::string cannotRead =
            "Не удалось прочитать файл настроек " + path + ": " + way.reason + ". ";
        const std::string refused = "Ошибка записи в файл настроек " + path +
                                    ": файл не удалось прочитать (" + way.reason + ")";
        e.Main().FormShow();
        e.boxes.answers = {true};
        QVERIFY(!e.Main().FormClose());
        TypeAtNextPrompt(e, "731904");
        e.Main().E2->trigger();
        ConfigureTank(e.conv.Table, 3, 4);
        TF_Nastroika& channels = *e.windows->F_Nastroika;
        channels.show();
        channels.sButton1->click();
        QCOMPARE(Grid(*channels.StringGrid1, true) + " | " + e.Tanks(), "3:4 | 3:4 | ");
        // The port setup's Apply never says its refused write was done.
        e.dialogs.Then([](QDialog& d) { static_cast<TF_UstCom&>(d).sButton1->click(); });
        e.Main().N2->trigger();
        QCOMPARE(e.boxes.Texts(),
                 (std::vector<std::string>{
                     e.boxes.shown[0].text,
                     cannotRead + "Пароль оператора проверить нельзя, программа не закрыта.",
                     cannotRead + "Код доступа проверить нельзя.", refused,
                     "Проблемы с записью в INI-файл"}));
        QCOMPARE(DescribeOnDisk(path), onDisk);
        RemoveUnreadable(path);
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
            for (int i = 0; i < count; ++i) pane.AppendLine(prefix + std::to_string(i));
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
            append(std::to_string(scrolledUp) + std::to_string(selecting) + " ", 5);
            QCOMPARE(pane.textCursor().selectedText(), QString(selecting ? "10 3\u202910 4" : ""));
            QCOMPARE(bar.value(), follows ? bar.maximum() : at);
        }
    }

    // From the tanks 1:0 2:4 40:3 in the file, each showing taking them in place of what the
    // poll had, the grid as the operator left it and a command: Save, or Remove with the row
    // selected (0: none; the view's own current cell is no choice). Then the grid, the tanks
    // polled and those in the file. The slave address typed takes effect at once; Save writes it
    // whatever the checks say and, when they pass, the grid's tanks by their numbers in place of
    // every tank in the file; it unconfigures nothing (40, beyond its limits, stays polled).
    // Remove takes the selected row's tank out of the poll and applies every other row; an added
    // row never filled goes, every unapplied edit with it.
    void saveAndRemoveApplyTheGrid() {
        // The grid, the row removed (-1: Save instead), the message, and after (none: the grid as
        // typed, nothing applied).
        const std::tuple<const char*, int, const char*, const char*> cases[] = {
            {"1:0 :", -1, kRange15, nullptr},
            {"1:0 17:2", -1, kRange15, nullptr},
            {"1:0 2:16", -1, kRange15, nullptr},
            {"1:0 01:2", -1, "Номера резервуаров повторяются!", nullptr},
            {"1:0 2:0", -1, "Адреса резервуаров повторяются!", nullptr},
            {"07:03 16:15 9:1", -1, kRecorded,
             "07:03 16:15 9:1 | 1:0 2:4 7:3 9:1 16:15 40:3 | 7:3 9:1 16:15"},
            {"", -1, kRecorded, " | 1:0 2:4 40:3 | "},
            {"17:64 2:4 40:3", 2, nullptr, "1:0 17:64 40:3 | 1:0 17:64 40:3 | 1:0 2:4 40:3"},
            {"1:65 2:4 40:3", 2, "Проверьте правильность введенных данных!(0-255)", nullptr},
            {"1:9 2:4 40:3 :", 4, nullptr, "1:0 2:4 40:3 | 1:0 2:4 40:3 | 1:0 2:4 40:3"},
            {"1:9 2:4 40:3", 0, nullptr, nullptr},
        };
        for (const auto& [grid, removed, box, after] : cases) {
            DialogEnv e;
            e.WriteFile("[Резервуар]\n1=0\n2=4\n40=3\n[SLAVE]\nАдрес=80\n");
            e.Main().FormShow();                  // the program started on this file
            e.conv.Table.Tank(5).Configured = 1;  // not in the file: the showing drops it
            TF_Nastroika& dlg = *e.windows->F_Nastroika;
            StringGrid& g = *dlg.StringGrid1;
            dlg.show();
            QVERIFY(QTest::qWaitForWindowActive(&dlg));
            dlg.sMaskEdit1->selectAll();
            QTest::keyClicks(dlg.sMaskEdit1, "81");  // the slave address takes effect as typed
            // The rows, written as Grid() writes them, put in as the operator's typing would.
            const QStringList rows = QString(grid).split(' ', Qt::SkipEmptyParts);
            g.SetRowCount(rows.size() + 1);
            for (int i = 0; i < rows.size(); ++i) {
                g.SetCell(0, i + 1, rows[i].section(':', 0, 0));
                g.SetCell(1, i + 1, rows[i].section(':', 1));
            }
            if (removed > 0) {
                QTest::mouseClick(g.viewport(), Qt::LeftButton, {},
                                  g.visualRect(g.model()->index(removed - 1, 0)).center());
            }
            (removed < 0 ? dlg.sButton1->click() : dlg.N2->trigger());
            QCOMPARE(e.boxes.Texts(),
                     box ? std::vector<std::string>{box} : std::vector<std::string>{});
            QCOMPARE(Grid(g) + " | " + e.Tanks() + " | " + e.Read("SLAVE", "Адрес").c_str() + " " +
                         QString::number(e.conv.Table.SlaveAddress),
                     (after ? after : grid + QString(" | 1:0 2:4 40:3 | 1:0 2:4 40:3")) +
                         (removed < 0 ? " | 081 81" : " | 80 81"));
        }
    }

    // Alt+С presses Save without taking the focus from an open cell editor, and "Убрать" can be
    // chosen while one is open: what was typed into the cell counts, as when the cell is left.
    void theKeyboardPathInMidEdit() {
        DialogEnv e;
        e.WriteFile("[Резервуар]\n2=4\n");
        TF_Nastroika& dlg = *e.windows->F_Nastroika;
        dlg.show();
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        StringGrid& g = *dlg.StringGrid1;
        const auto focus = [] { return QApplication::focusWidget(); };
        const auto editorOpen = [&] { return focus() && focus()->parentWidget() == g.viewport(); };
        g.setFocus();
        g.setCurrentCell(0, 1);
        QTest::keyClicks(focus(), "9");  // the first key opens the cell's editor
        QVERIFY(editorOpen());
        QTest::sendKeyEvent(QTest::Click, focus(), Qt::Key(u'С'), QStringLiteral("с"),
                            Qt::AltModifier);
        QTRY_COMPARE(e.boxes.Texts(), std::vector<std::string>{kRecorded});
        QCOMPARE(e.Tanks(), "2:9 | 2:9");

        // A row added, filled in by the keyboard and removed with its last cell still open.
        dlg.N1->trigger();
        g.setCurrentCell(1, 0);
        QTest::keyClicks(focus(), "7");
        QTest::keyClick(focus(), Qt::Key_Tab);
        QTest::keyClicks(focus(), "3");
        QVERIFY(editorOpen());
        dlg.N2->trigger();
        QCOMPARE(Grid(g) + " | " + e.Tanks(), "2:9 | 2:9 | 2:9");
    }

    // Each grid, as its button shows it, lists the configured tanks of its type in ascending
    // number; a tank whose type changed moves at the next tick, the rows below moving up; all 64
    // of one type get rows. A value reaches its cell in every grid and is not cut: a column grows
    // to fit what it shows, large values too, measured as the style draws: the text between the
    // cell's margins, inside the grid line.
    void eachGridListsTheTanksOfItsTypeWithTheirValuesWhole() {
        DialogEnv e;
        TF_SpravkaPPP& v = *e.windows->F_SpravkaPPP;
        TankTable& t = e.conv.Table;
        for (const auto& [tank, address, type] :
             {std::tuple{2, 11, 0}, {5, 3, 1}, {7, 4, 2}, {9, 300, 0}, {11, 6, 3}}) {
            ConfigureTank(t, tank, address, type);
        }
        PutSlot(t.Tank(2).Main, 3, 10412303.0f);
        PutSlot(t.Tank(2).Temp, TempBlock::PointReg(21), -16261.5f);
        PutProbe(t.Tank(2).Probe, ProbeBlock::HeightReg(5), 65530, -16245.5f);
        PutSlot(t.Tank(5).Pressure, PressureBlock::SensorReg(9), 10412309.0f);
        PutSlot(t.Tank(7).Gas, GasBlock::SensorReg(5), 104128.45f);
        const std::pair<QToolButton*, StringGrid*> shows[] = {{v.sSpeedButton3, v.StringGrid4},
                                                              {v.sSpeedButton4, v.StringGrid5},
                                                              {v.sSpeedButton2, v.StringGrid2},
                                                              {v.SpeedButton3, v.StringGrid3},
                                                              {v.sSpeedButton1, v.StringGrid1}};
        const auto grids = [&] {
            QStringList s;
            for (const auto& [button, grid] : shows) {
                QTest::mouseClick(button, Qt::LeftButton);
                s << (grid->isVisible() ? Grid(*grid, true) : "hidden");
            }
            return s.join(" | ");
        };
        v.show();
        QTRY_COMPARE_WITH_TIMEOUT(grids(), "2:11 9:300 | 2:11 9:300 | 7:4 | 5:3 | 2:11 9:300",
                                  10000);
        const std::tuple<StringGrid*, const char*, const char*> cells[] = {
            {v.StringGrid1, "Н ,мм", "10412303.00"},
            {v.StringGrid4, "T21,C", "-16261.50"},
            {v.StringGrid5, "Temp.ДП5,C", "-16245.50"},
            {v.StringGrid2, "ДЗО 05,%", "104128.453"},
            {v.StringGrid3, "ДД9,мПа", "10412309.00"}};
        for (const auto& [g, header, text] : cells) {
            int c = 0;
            while (c < g->ColCount() && g->Cell(c, 0) != header) ++c;
            QCOMPARE(g->Cell(c, 1), QString::fromUtf8(text));
            const int margin = g->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, 0, g) + 1;
            QVERIFY2(g->fontMetrics().horizontalAdvance(g->Cell(c, 1)) + 2 * margin <=
                         g->columnWidth(c) - 1,
                     header);
        }
        ConfigureTank(t, 2, 11, 1);
        v.Timer1Timer();
        QCOMPARE(grids(), "9:300 | 9:300 | 7:4 | 2:11 5:3 | 9:300");
        for (int n = 1; n <= kTankCount; ++n) ConfigureTank(t, n, n, 0);
        v.Timer1Timer();
        QCOMPARE(v.StringGrid1->Cell(0, 64), QStringLiteral("64"));
    }

    // Both lists offer the free ports and, held by this program or missing, the one each side
    // is set to (names compare exactly); USB adapters follow the ComN names, busy ones only when
    // a side is set to them. A long adapter name reads whole in its box (the line edit keeps 2
    // pixels on each side and one for the cursor).
    void bothListsOfferTheFreePortsAndTheConfiguredOnes() {
        QTemporaryDir devices;
        // A USB adapter's stable name is far longer than a ComN name.
        const QString r = devices.path(), adapter = r + "/serial/by-id/usb-" + QString(80, 'x');
        // Empty files standing in for device nodes.
        for (const QString& n :
             QStringList{"ttyUSB10", "ttyUSB2", "ttyUSB0", "ttyACM0", "ttyACM1", "ttyS3", "null",
                         "serial/by-id/usb-FTDI-if00", adapter.mid(r.size() + 1)}) {
            QDir().mkpath(QFileInfo(r + "/" + n).path());
            QFile(r + "/" + n).open(QIODevice::WriteOnly);
        }
        // The MODBUS side on a port this program holds, the host side on a busy adapter.
        DialogEnv e;
        e.conv.State.ModbusPortName = "Com1";
        e.conv.State.ModbusPortExists = 1;
        e.conv.State.VeltPortName = (r + "/ttyACM0").toStdString();
        TF_UstCom& dlg = *e.windows->F_UstCom;
        dlg.DeviceRoot = r.toStdString();
        dlg.show();  // built afresh at every showing, from what is free then
        dlg.close();
        for (const QString& port :
             QString("Com1:1 Com3:0 Com7:1 Com254:0 %1/ttyUSB0:0 %1/ttyUSB2:0 %1/ttyUSB10:0 "
                     "%1/ttyS3:0 %1/serial/by-id/usb-FTDI-if00:0 %2:0")
                 .arg(r, adapter)
                 .split(' ')) {
            e.free[port.section(':', 0, 0).toStdString()] = port.section(':', 1).toInt();
        }
        dlg.show();
#ifdef _WIN32
        // Windows names its ports ComN only: there is no device folder to scan.
        const char* const offered = "Com1 Com3 Com254 | Com1 1 | %1/ttyACM0 0";
#else
        const char* const offered =
            "Com1 Com3 Com254 %1/ttyUSB0 %1/ttyUSB2 %1/ttyUSB10 %1/ttyACM0 "
            "%1/serial/by-id/usb-FTDI-if00 %2 | Com1 1 | %1/ttyACM0 0";
#endif
        QCOMPARE(QString("%1 | %2 %3 | %4 %5")
                     .arg(Items(*dlg.sComboBox1), dlg.sComboBox1->currentText())
                     .arg(dlg.sRadioGroup1->ItemIndex())
                     .arg(dlg.sComboBox2->currentText())
                     .arg(dlg.sRadioGroup2->ItemIndex()),
                 QString(offered).arg(r, adapter));
        QCOMPARE(Items(*dlg.sComboBox2), Items(*dlg.sComboBox1));
#ifndef _WIN32
        QLineEdit& edit = *dlg.sComboBox2->lineEdit();
        dlg.sComboBox2->setCurrentIndex(dlg.sComboBox2->findText(adapter));
        QTRY_VERIFY(edit.width() >= edit.fontMetrics().horizontalAdvance(edit.text()) + 5);
#endif
    }

    // Apply, from the main window's menu and by the keyboard, writes both sides and their modes
    // and says so; then the main window opens what is in use, in its mode (the host side switched
    // off stays closed).
    void applyAndTheMainWindowOpensWhatIsInUse() {
        DialogEnv e;
        e.WriteFile("[MODBUS]\nСуществует=1\n[VELT]\nCom-порт=Com2\nСуществует=1\n");
        TF_ModbusVelt& m = e.Main();
        m.FormShow();
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
            QTRY_COMPARE(e.boxes.Texts(), std::vector<std::string>{kRecorded});
        });
        m.N2->trigger();
        QCOMPARE(e.Read("MODBUS", "Com-порт") + " " + e.Read("MODBUS", "Пауза") + " " +
                     e.Read("VELT", "Существует") + " | " + e.ports[0]->openedName,
                 std::string("/dev/ttyUSB9 5 0 | /dev/ttyUSB9"));
        QVERIFY(e.ports[0]->IsOpen() && m.ModbusRunner.IsActive() && !m.Timer1.isActive());
        QVERIFY(!e.ports[1]->IsOpen() || !(m.Timer2.isActive() || m.VeltRunner.IsActive()));
        QCOMPARE(m.sLabel1->text(),
                 "Опрос по протоколу МОDBUS (быстрый: ожидание 250 мс, пауза 5 мс)");
    }
};

QTEST_MAIN(WindowsTest)
#include "windows_test.moc"
