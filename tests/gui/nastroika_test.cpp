// Channel setup: what Save and Remove make of the grid in the poll and in the settings file, the
// slave address, and the keyboard path of an operator in mid-edit.
#include <QApplication>
#include <QTest>

#include "dialogs/string_grid.h"
#include "gui/dialog_env.h"

using namespace conv;

namespace {

const char* const kRange15 = "Проверьте правильность введенных данных!(0-15)";
const char* const kRange255 = "Проверьте правильность введенных данных!(0-255)";
const char* const kRecorded = "Информация зафиксирована!";

// The data rows as "tank:channel", as the fixture writes the tanks polled and those in the file.
QString Grid(const StringGrid& g) {
    QStringList out;
    for (int r = 1; r < g.RowCount(); ++r) out << g.Cell(0, r) + ":" + g.Cell(1, r);
    return out.join(' ');
}

// Rows written as Grid() writes them, put into the grid as the operator's typing would.
void Fill(StringGrid& g, const QString& rows) {
    const QStringList r = rows.split(' ', Qt::SkipEmptyParts);
    g.SetRowCount(r.size() + 1);
    for (int i = 0; i < r.size(); ++i) {
        g.SetCell(0, i + 1, r[i].section(':', 0, 0));
        g.SetCell(1, i + 1, r[i].section(':', 1));
    }
}

}  // namespace

class NastroikaTest : public QObject {
    Q_OBJECT

  private slots:
    // From the tanks 1:0 2:4 40:3 in the file, each showing taking them in place of what the
    // poll had, the grid as the operator left it and a command: Save, or Remove with the row
    // selected (0: none; the view's own current cell is no choice). Then the grid, the tanks
    // polled and those in the file. Save writes the slave address whatever the checks say and,
    // when they pass, the grid's tanks by their numbers in place of every tank in the file; it
    // unconfigures nothing (40, beyond its limits, stays polled). Remove takes the selected
    // row's tank out of the poll and applies every other row; an added row never filled goes,
    // every unapplied edit with it.
    void saveAndRemoveApplyTheGrid() {
        const struct {
            const char* grid;
            int removed;  // -1: Save
            const char* box;
            const char* after;  // none: the grid as typed, nothing applied
        } cases[] = {
            {"1:0 :", -1, kRange15, nullptr},
            {"1:0 17:2", -1, kRange15, nullptr},
            {"1:0 2:16", -1, kRange15, nullptr},
            {"0:2", -1, kRange15, nullptr},
            {"1:0 1:1", -1, "Номера резервуаров повторяются!", nullptr},
            {"1:0 01:2", -1, "Номера резервуаров повторяются!", nullptr},
            {"1:0 2:0", -1, "Адреса резервуаров повторяются!", nullptr},
            {"07:03 16:15 9:1", -1, kRecorded,
             "07:03 16:15 9:1 | 1:0 2:4 7:3 9:1 16:15 40:3 | 7:3 9:1 16:15"},
            {"", -1, kRecorded, " | 1:0 2:4 40:3 | "},
            {"17:64 2:4 40:3", 2, nullptr, "1:0 17:64 40:3 | 1:0 17:64 40:3 | 1:0 2:4 40:3"},
            {"1:65 2:4 40:3", 2, kRange255, nullptr},
            {"x:0 2:4 40:3", 2, kRange255, nullptr},
            {"1:9 2:4 40:3 :", 4, nullptr, "1:0 2:4 40:3 | 1:0 2:4 40:3 | 1:0 2:4 40:3"},
            {"1:9 2:4 40:3", 0, nullptr, nullptr},
        };
        for (const auto& c : cases) {
            test::DialogEnv e;
            e.WriteFile("[Резервуар]\n1=0\n2=4\n40=3\n[SLAVE]\nАдрес=80\n");
            e.Main().FormShow();                  // the program started on this file
            e.conv.Table.Tank(5).Configured = 1;  // not in the file: the showing drops it
            TF_Nastroika& dlg = *e.windows->F_Nastroika;
            StringGrid& g = *dlg.StringGrid1;
            dlg.show();
            QVERIFY(QTest::qWaitForWindowActive(&dlg));
            g.setFocus(Qt::TabFocusReason);
            Fill(g, c.grid);
            if (c.removed > 0) {
                QTest::mouseClick(g.viewport(), Qt::LeftButton, {},
                                  g.visualRect(g.model()->index(c.removed - 1, 0)).center());
            }
            (c.removed < 0 ? dlg.sButton1->click() : dlg.N2->trigger());
            QCOMPARE(e.boxes.Texts(),
                     c.box ? std::vector<std::string>{c.box} : std::vector<std::string>{});
            QCOMPARE(Grid(g) + " | " + e.Polled() + " | " + e.FileTanks(),
                     c.after ? c.after : c.grid + QString(" | 1:0 2:4 40:3 | 1:0 2:4 40:3"));
            QCOMPARE(e.Read("SLAVE", "Адрес"), std::string(c.removed < 0 ? "080" : "80"));
        }
    }

    // Alt+С presses Save without taking the focus from an open cell editor, and "Убрать" can be
    // chosen while one is open: what was typed into the cell counts, as when the cell is left.
    void theKeyboardPathInMidEdit() {
        test::DialogEnv e;
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
        QCOMPARE(e.FileTanks() + " | " + e.Polled(), "2:9 | 2:9");

        // A row added, filled in by the keyboard and removed with its last cell still open.
        e.boxes.shown.clear();
        dlg.N1->trigger();
        g.setCurrentCell(1, 0);
        QTest::keyClicks(focus(), "7");
        QTest::keyClick(focus(), Qt::Key_Tab);
        QTest::keyClicks(focus(), "3");
        QVERIFY(editorOpen());
        QCOMPARE(dlg.SelectedRow(), 2);
        dlg.N2->trigger();
        QVERIFY(e.boxes.shown.empty());  // the row was whole: no range message
        QCOMPARE(Grid(g) + " | " + e.Polled(), "2:9 | 2:9");

        // The slave address takes effect as it is typed (the poll sends what the table holds);
        // closing saves nothing.
        dlg.sMaskEdit1->selectAll();
        QTest::keyClicks(dlg.sMaskEdit1, "7");
        QTest::mouseClick(dlg.sButton2, Qt::LeftButton);
        QCOMPARE(QString::fromStdString(e.Read("SLAVE", "Адрес")) + " " +
                     QString::number(e.conv.Table.SlaveAddress),
                 "000 7");  // as the Save above left it
        dlg.show();
        dlg.sButton1->click();
        QCOMPARE(e.Read("SLAVE", "Адрес"), std::string("007"));
    }
};

QTEST_MAIN(NastroikaTest)
#include "nastroika_test.moc"
