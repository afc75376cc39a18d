// Channel address setup dialog, driven through its handlers against a temporary settings file.
#include "dialogs/nastroika.h"

#include <signal.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <QLabel>
#include <QTest>
#include <fstream>
#include <functional>
#include <iterator>

#include "dialogs/string_grid.h"
#include "gui/dialog_env.h"
#include "modbus/poll.h"
#include "settings/ini_document.h"
#include "support/scripted_ui_qt.h"
#include "support/unreadable_file.h"

using namespace conv;

namespace {

const char* const kRange15 = "Проверьте правильность введенных данных!(0-15)";
const char* const kRange255 = "Проверьте правильность введенных данных!(0-255)";
const char* const kRecorded = "Информация зафиксирована!";

// The grid's data rows as "tank:address" texts.
QStringList Rows(const StringGrid& g) {
    QStringList out;
    for (int r = 1; r < g.RowCount(); ++r) out << g.Cell(0, r) + ":" + g.Cell(1, r);
    return out;
}

void Configure(TankTable& t, int tank, int address) {
    t.Tank(tank).Configured = 1;
    t.Tank(tank).ChannelAddress = address;
}

void SetRow(StringGrid& g, int row, const QString& tank, const QString& address) {
    g.SetCell(0, row, tank);
    g.SetCell(1, row, address);
}

// How many times the settings file was put in place in `dir` (renamed into it) while `act` ran.
// The moves away from the temporary names are watched too: the kernel merges an event into the
// one before it when the two are alike, and replaces alone would all be alike.
int ReplacesDuring(const std::string& dir, const std::function<void()>& act) {
    const int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0 || inotify_add_watch(fd, dir.c_str(), IN_MOVED_FROM | IN_MOVED_TO) < 0) return -1;
    act();
    int replaces = 0;
    alignas(inotify_event) char buf[4096];
    for (ssize_t got; (got = read(fd, buf, sizeof buf)) > 0;) {
        for (char* at = buf; at < buf + got;) {
            const auto* e = reinterpret_cast<const inotify_event*>(at);
            if ((e->mask & IN_MOVED_TO) && e->len > 0 &&
                std::string(e->name) == kSettingsFileName) {
                ++replaces;
            }
            at += sizeof(inotify_event) + e->len;
        }
    }
    close(fd);
    return replaces;
}

std::string Bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Clicks the number cell of a data row.
void Select(TF_Nastroika& d, int row) {
    QTableWidget& g = *d.StringGrid1;
    QTest::mouseClick(g.viewport(), Qt::LeftButton, {},
                      g.visualRect(g.model()->index(row - 1, 0)).center());
}

}  // namespace

class NastroikaTest : public QObject {
    Q_OBJECT

  private slots:
    void init() {
        env = std::make_unique<test::DialogEnv>();
        env->conv.Table.SlaveAddress = 80;
        dlg = std::make_unique<TF_Nastroika>(env->conv, env->services);
    }
    void cleanup() {
        dlg.reset();
        env.reset();
    }

    void showingWithoutFileWritesTankOneOnAddressOne() {
        dlg->show();
        QCOMPARE(env->Read("Резервуар", "1"), std::string("1"));
        QCOMPARE(Rows(*dlg->StringGrid1), QStringList{"1:1"});
        QCOMPARE(dlg->StringGrid1->Cell(0, 0), QString("N п/п"));
        QCOMPARE(dlg->StringGrid1->Cell(1, 0), QString("Адрес канала"));
        QCOMPARE(env->conv.Table.Tank(1).Configured, 1);
        QCOMPARE(env->conv.Table.Tank(1).ChannelAddress, 1);
        QCOMPARE(dlg->sMaskEdit1->text(), QString("080"));
        QCOMPARE(dlg->sLabel4->text(), QString("0x50"));
        QVERIFY(env->boxes.shown.empty());
    }

    // Each opening replaces the table's configuration with the file's; a value that is not a
    // number ends the reading there, quietly, and what memory holds after it stays listed.
    void showingReplacesTheConfigurationFromTheFile() {
        env->Write("Резервуар", "3", "5");
        env->Write("Резервуар", "9", "12");
        env->Write("Резервуар", "12", "x1");
        env->Write("Резервуар", "20", "4");
        TankTable& t = env->conv.Table;
        Configure(t, 1, 7);   // not in the file: dropped
        Configure(t, 30, 2);  // after the bad value: kept as it was
        t.SlaveAddress = 171;
        dlg->show();
        QCOMPARE(t.Tank(1).Configured, 0);
        QCOMPARE(t.Tank(1).ChannelAddress, 0);
        QCOMPARE(t.Tank(20).Configured, 0);
        QCOMPARE(Rows(*dlg->StringGrid1), (QStringList{"3:5", "9:12", "30:2"}));
        QCOMPARE(dlg->sMaskEdit1->text(), QString("171"));
        QCOMPARE(dlg->sLabel4->text(), QString("0xab"));
        QVERIFY(env->boxes.shown.empty());
    }

    void addThenRemoveAnEmptyRowDropsTheLastRowAndUnsavedEdits() {
        env->Write("Резервуар", "2", "4");
        dlg->show();
        dlg->N1Click();
        QCOMPARE(Rows(*dlg->StringGrid1), (QStringList{"2:4", ":"}));
        dlg->StringGrid1->SetCell(1, 1, "9");  // an edit that was never applied
        Select(*dlg, 1);
        QCOMPARE(dlg->SelectedRow(), 1);
        QTest::keyClick(dlg->StringGrid1, Qt::Key_Down);
        QCOMPARE(dlg->SelectedRow(), 2);
        dlg->N2Click();
        QCOMPARE(Rows(*dlg->StringGrid1), QStringList{"2:4"});
        QCOMPARE(env->conv.Table.Tank(2).ChannelAddress, 4);
        QVERIFY(env->boxes.shown.empty());
    }

    // Remove applies the whole grid at once: the selected row's tank goes, every other row's
    // edit takes effect; the file stays as it was.
    void removeUnconfiguresTheSelectedTankAndAppliesTheOthers() {
        env->Write("Резервуар", "2", "4");
        env->Write("Резервуар", "5", "6");
        env->Write("Резервуар", "8", "1");
        dlg->show();
        StringGrid& g = *dlg->StringGrid1;
        g.SetCell(1, 3, "3");      // tank 8 moves to address 3
        SetRow(g, 1, "17", "64");  // Remove's check takes tank 17 and address 64
        Select(*dlg, 2);
        dlg->N2Click();
        TankTable& t = env->conv.Table;
        QCOMPARE(t.Tank(5).Configured, 0);
        QCOMPARE(t.Tank(5).ChannelAddress, 0);
        QCOMPARE(t.Tank(8).ChannelAddress, 3);
        QCOMPARE(t.Tank(17).Configured, 1);
        QCOMPARE(t.Tank(2).Configured, 1);  // still configured: Remove never clears unlisted
        QCOMPARE(Rows(g), (QStringList{"2:4", "8:3", "17:64"}));
        QCOMPARE(env->Read("Резервуар", "5"), std::string("6"));
    }

    void removeChecksEveryRowWithItsOwnMessage() {
        env->Write("Резервуар", "2", "4");
        env->Write("Резервуар", "5", "6");
        dlg->show();
        StringGrid& g = *dlg->StringGrid1;
        g.SetCell(1, 1, "65");
        Select(*dlg, 2);
        dlg->N2Click();
        QCOMPARE(env->boxes.Texts(), std::vector<std::string>{kRange255});
        QCOMPARE(env->conv.Table.Tank(5).Configured, 1);
        QCOMPARE(env->conv.Table.Tank(2).ChannelAddress, 4);
        QCOMPARE(g.RowCount(), 3);

        for (const char* bad : {"0", "65", "x", ""}) {
            env->boxes.shown.clear();
            SetRow(g, 1, bad, "4");
            dlg->N2Click();
            QCOMPARE(env->boxes.Texts(), std::vector<std::string>{kRange255});
        }
    }

    void removeWithNothingSelectedDoesNothing() {
        env->Write("Резервуар", "2", "4");
        dlg->show();
        QVERIFY(QTest::qWaitForWindowActive(dlg.get()));
        dlg->StringGrid1->setFocus(Qt::TabFocusReason);  // the view makes a cell current
        QCOMPARE(dlg->SelectedRow(), 0);
        dlg->N2Click();
        QCOMPARE(Rows(*dlg->StringGrid1), QStringList{"2:4"});
        QCOMPARE(env->conv.Table.Tank(2).Configured, 1);
    }

    // Alt+С presses Save without taking the focus from an open cell editor, and "Убрать" can be
    // chosen while one is open: what was typed into the cell counts, as when the cell is left.
    void saveAndRemoveTakeTheCellStillBeingEdited() {
        env->Write("Резервуар", "2", "4");
        dlg->show();
        QVERIFY(QTest::qWaitForWindowActive(dlg.get()));
        StringGrid& g = *dlg->StringGrid1;
        const auto focus = [] { return QApplication::focusWidget(); };
        const auto editorOpen = [&] { return focus() && focus()->parentWidget() == g.viewport(); };
        g.setFocus();
        g.setCurrentCell(0, 1);
        QTest::keyClicks(focus(), "9");  // the first key opens the cell's editor
        QVERIFY(editorOpen());
        QTest::sendKeyEvent(QTest::Click, focus(), Qt::Key(u'С'), QStringLiteral("с"),
                            Qt::AltModifier);
        QTRY_COMPARE(env->boxes.Texts(), std::vector<std::string>{kRecorded});
        QCOMPARE(env->Read("Резервуар", "2"), std::string("9"));
        QCOMPARE(env->conv.Table.Tank(2).ChannelAddress, 9);

        // A row added, filled in by the keyboard and removed with its last cell still open.
        env->boxes.shown.clear();
        dlg->N1Click();
        g.setCurrentCell(1, 0);
        QTest::keyClicks(focus(), "7");
        QTest::keyClick(focus(), Qt::Key_Tab);
        QTest::keyClicks(focus(), "3");
        QVERIFY(editorOpen());
        QCOMPARE(dlg->SelectedRow(), 2);
        dlg->N2->trigger();
        QVERIFY(env->boxes.shown.empty());  // the row was whole: no range message
        QCOMPARE(Rows(g), QStringList{"2:9"});
        QCOMPARE(env->conv.Table.Tank(7).Configured, 0);
    }

    // The slave address is saved whatever the grid's checks say.
    void saveChecksTheGridInOrderAfterSavingTheSlaveAddress() {
        env->Write("Резервуар", "1", "0");
        dlg->show();
        StringGrid& g = *dlg->StringGrid1;
        dlg->N1Click();  // left empty
        dlg->sButton1Click();
        QCOMPARE(env->boxes.Texts(), std::vector<std::string>{kRange15});
        QCOMPARE(env->Read("SLAVE", "Адрес"), std::string("080"));

        struct Case {
            QString tank2, address2, expected;
        };
        const Case cases[] = {
            {"17", "2", kRange15},  // Remove would take 17; Save stops at 16
            {"2", "16", kRange15},
            {"2", "-1", kRange15},
            {"0", "2", kRange15},
            {"1", "0", "Номера резервуаров повторяются!"},  // both repeated: tank first
            {"01", "2", "Номера резервуаров повторяются!"},
            {"2", "0", "Адреса резервуаров повторяются!"},
        };
        for (const Case& c : cases) {
            env->boxes.shown.clear();
            SetRow(g, 2, c.tank2, c.address2);
            dlg->sButton1Click();
            QCOMPARE(env->boxes.Texts(), std::vector<std::string>{c.expected.toStdString()});
            QCOMPARE(env->Read("Резервуар", "1"), std::string("0"));  // nothing of the grid saved
        }
        env->boxes.shown.clear();
        SetRow(g, 2, "16", "15");
        dlg->sButton1Click();
        QCOMPARE(env->boxes.Texts(), std::vector<std::string>{kRecorded});
        QCOMPARE(env->Read("Резервуар", "16"), std::string("15"));
    }

    // Keys and values are the numbers the cells stand for, so that the next start finds them.
    void saveWritesWholeNumbersAndReplacesTheSection() {
        env->Write("Резервуар", "1", "0");
        env->Write("Резервуар", "40", "3");
        dlg->show();
        StringGrid& g = *dlg->StringGrid1;
        dlg->N1Click();
        SetRow(g, 1, "07", "03");
        SetRow(g, 2, " 12", "5");
        g.SetCell(1, 3, "1");
        g.SetCell(0, 3, "40");  // 40 is beyond Save's limit
        dlg->sButton1Click();
        QCOMPARE(env->boxes.Texts(), std::vector<std::string>{kRange15});
        g.SetCell(0, 3, "9");
        env->boxes.shown.clear();
        dlg->sButton1Click();
        QCOMPARE(env->boxes.Texts(), std::vector<std::string>{kRecorded});

        QCOMPARE(env->Read("Резервуар", "7"), std::string("3"));
        QCOMPARE(env->Read("Резервуар", "07"), std::string("<absent>"));
        QCOMPARE(env->Read("Резервуар", "12"), std::string("5"));
        QCOMPARE(env->Read("Резервуар", "9"), std::string("1"));
        QCOMPARE(env->Read("Резервуар", "1"), std::string("<absent>"));
        QCOMPARE(env->Read("Резервуар", "40"), std::string("<absent>"));
        // Saving sets flags, it never clears them: tank 1 and 40 stay polled until reopening.
        QCOMPARE(env->conv.Table.Tank(7).ChannelAddress, 3);
        QCOMPARE(env->conv.Table.Tank(1).Configured, 1);
        QCOMPARE(env->conv.Table.Tank(40).Configured, 1);

        dlg->close();
        dlg->show();
        QCOMPARE(Rows(g), (QStringList{"7:3", "9:1", "12:5"}));
        QCOMPARE(env->conv.Table.Tank(1).Configured, 0);
    }

    void saveWithNoRowsDeletesEveryTankKey() {
        for (int n = 1; n <= 64; n += 9) env->Write("Резервуар", std::to_string(n), "1");
        dlg->show();
        while (dlg->StringGrid1->RowCount() > 1) dlg->StringGrid1->DeleteLastRow();
        dlg->sButton1Click();
        QCOMPARE(env->boxes.Texts(), std::vector<std::string>{kRecorded});
        for (int n = 1; n <= 64; ++n) {
            QCOMPARE(env->Read("Резервуар", std::to_string(n)), std::string("<absent>"));
        }
        QCOMPARE(env->conv.Table.Tank(10).Configured, 1);
    }

    // A refused write is reported and ends the Save: nothing after it is applied or shown.
    void saveOnAReadOnlyFileStopsAtTheFirstWrite() {
        env->Write("Резервуар", "1", "0");
        dlg->show();
        SetRow(*dlg->StringGrid1, 1, "3", "4");
        env->MakeReadOnly();
        dlg->sButton1Click();
        QCOMPARE(env->boxes.shown.size(), size_t(1));
        // In Russian, naming the file, without the platform's English words.
        QCOMPARE(env->boxes.shown[0].text, "Ошибка записи в файл настроек " + env->IniPath() +
                                               ": файл или диск только для чтения");
        QCOMPARE(env->conv.Table.Tank(3).Configured, 0);
        QCOMPARE(env->Read("Резервуар", "1"), std::string("0"));
        QCOMPARE(env->Read("SLAVE", "Адрес"), std::string("<absent>"));
    }

    // Save is one replace of the file: the slave address and the whole tank list together, or,
    // when the write is refused, nothing at all, wherever the refusal comes.
    void saveIsOneReplaceOfTheFile() {
        env->Write("SLAVE", "Адрес", "080");
        env->Write("Резервуар", "1", "0");
        env->Write("Резервуар", "2", "1");
        dlg->show();
        StringGrid& g = *dlg->StringGrid1;
        dlg->N1Click();
        SetRow(g, 1, "3", "2");
        SetRow(g, 2, "1", "0");
        SetRow(g, 3, "2", "1");

        // A file that may not grow: tank 3 does not fit. Deleting the two tanks and writing the
        // first two rows back would still fit, one by one.
        const std::string before = Bytes(env->IniPath());
        rlimit was{};
        getrlimit(RLIMIT_FSIZE, &was);
        rlimit small = was;
        small.rlim_cur = before.size();
        const auto previous = signal(SIGXFSZ, SIG_IGN);
        setrlimit(RLIMIT_FSIZE, &small);
        dlg->sButton1Click();
        setrlimit(RLIMIT_FSIZE, &was);
        signal(SIGXFSZ, previous);
        QCOMPARE(env->boxes.shown.size(), size_t(1));
        QVERIFY(env->boxes.shown[0].text.starts_with("Ошибка записи в файл настроек " +
                                                     env->IniPath() + ": "));
        QCOMPARE(Bytes(env->IniPath()), before);
        QCOMPARE(env->conv.Table.Tank(3).Configured, 0);

        env->boxes.shown.clear();
        const int replaces =
            ReplacesDuring(env->dir.path().toStdString(), [&] { dlg->sButton1Click(); });
        QCOMPARE(env->boxes.Texts(), std::vector<std::string>{kRecorded});
        QCOMPARE(replaces, 1);
        QCOMPARE(env->Read("Резервуар", "3"), std::string("2"));
        QCOMPARE(env->conv.Table.Tank(3).Configured, 1);
    }

    // A file that cannot be read says nothing about the tanks: the table keeps the tanks being
    // polled, the grid lists them, and a Save is refused without writing over the file.
    void unreadableFileLeavesTheTableAsItIs() {
        for (const test::UnreadableWay& way : test::UnreadableWays()) {
            cleanup();  // a fresh dialog and folder for each way
            init();
            Configure(env->conv.Table, 3, 4);
            Configure(env->conv.Table, 5, 7);
            test::MakeUnreadable(env->IniPath(), way.kind);
            const std::string onDisk = test::DescribeOnDisk(env->IniPath());
            dlg->show();
            QCOMPARE(Rows(*dlg->StringGrid1), (QStringList{"3:4", "5:7"}));
            QCOMPARE(env->conv.Table.Tank(3).Configured, 1);
            QCOMPARE(env->conv.Table.Tank(5).ChannelAddress, 7);
            QCOMPARE(env->conv.Table.Tank(1).Configured, 0);
            dlg->sButton1Click();
            QCOMPARE(env->boxes.Texts(),
                     std::vector<std::string>{"Ошибка записи в файл настроек " + env->IniPath() +
                                              ": файл не удалось прочитать (" + way.reason + ")"});
            QCOMPARE(test::DescribeOnDisk(env->IniPath()), onDisk);
        }
    }

    // Typed digits fill the three positions from the right: 80 is 080, never 800 or 8.
    void typingTheSlaveAddressAppliesItAtOnce() {
        dlg->show();
        SlaveAddressEdit& e = *dlg->sMaskEdit1;
        e.selectAll();
        QTest::keyClicks(&e, "300");
        QCOMPARE(env->conv.Table.SlaveAddress, 300);
        QCOMPARE(dlg->sLabel4->text(), QString("0x12c"));
        // The poll's next request to the gauge carries the low byte, 44.
        Converter& c = env->conv;
        c.Poll.CycleState = kCycleRunning;
        c.Poll.PollChannel = 0;  // tank 1, from the file the showing created
        c.Poll.PollGroup = 1;    // its channel select
        c.Poll.RetryBudget = 3;
        OprosModBus(c.Poll, c.Table, *c.ModbusPort, c.Log);
        const auto sent = env->ModbusPort().TakeWrites();
        QCOMPARE(sent.size(), size_t(1));
        QCOMPARE(test::ToHex(sent[0]).substr(0, 5), std::string("2C 06"));

        e.selectAll();
        QTest::keyClicks(&e, "80");
        QCOMPARE(env->conv.Table.SlaveAddress, 80);
        QCOMPARE(e.ThreeDigitText(), QString("080"));
        QTest::keyClick(&e, Qt::Key_Return);  // leaving the field shows all three positions
        QCOMPARE(e.text(), QString("080"));
        QTest::keyClicks(&e, "1");  // no fourth digit
        QTest::keyClick(&e, Qt::Key_Home);
        QTest::keyClicks(&e, "7x");
        QCOMPARE(e.text(), QString("080"));
        QCOMPARE(env->conv.Table.SlaveAddress, 80);

        e.selectAll();
        QTest::keyClick(&e, Qt::Key_Delete);
        QCOMPARE(e.ThreeDigitText(), QString("000"));
        QCOMPARE(env->conv.Table.SlaveAddress, 0);

        e.selectAll();
        QTest::keyClicks(&e, "7");
        dlg->sButton1Click();  // no grid row can stop the slave address
        QCOMPARE(env->Read("SLAVE", "Адрес"), std::string("007"));
        int back = -1;
        QVERIFY(ParseWholeNumber(env->Read("SLAVE", "Адрес"), back));
        QCOMPARE(back, 7);
    }

    void anUnconvertibleSlaveTextKeepsTheAddress() {
        dlg->show();
        env->conv.Table.SlaveAddress = 80;
        dlg->sMaskEdit1->setText("1a");  // only a program can put this there
        QCOMPARE(env->conv.Table.SlaveAddress, 80);
        QCOMPARE(dlg->sLabel4->text(), QString("0x50"));
        QCOMPARE(env->boxes.shown.size(), size_t(1));
        env->boxes.shown.clear();
        dlg->sButton1Click();
        QCOMPARE(env->boxes.shown.size(), size_t(1));  // the conversion error, not "recorded"
        QVERIFY(env->boxes.shown[0].text != kRecorded);
        QCOMPARE(env->conv.Table.SlaveAddress, 80);
    }

    // The selected row and the table outlive a showing; closing saves nothing.
    void closingKeepsAppliedEditsAndSavesNothing() {
        env->Write("Резервуар", "2", "4");
        dlg->show();
        dlg->sMaskEdit1->selectAll();
        QTest::keyClicks(dlg->sMaskEdit1, "12");
        Select(*dlg, 1);
        dlg->sButton2Click();
        QVERIFY(!dlg->isVisible());
        QCOMPARE(env->conv.Table.SlaveAddress, 12);
        QCOMPARE(env->Read("SLAVE", "Адрес"), std::string("<absent>"));
        QCOMPARE(dlg->SelectedRow(), 1);
    }

  private:
    std::unique_ptr<test::DialogEnv> env;
    std::unique_ptr<TF_Nastroika> dlg;
};

QTEST_MAIN(NastroikaTest)
#include "nastroika_test.moc"
