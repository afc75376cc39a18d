// Fast mode as the operator meets it: bad values in the settings file, the port dialog's new fields
// worked by the keyboard, Apply, and the mode each side then runs in, shown on the main window.
#include <QApplication>
#include <QCheckBox>
#include <QSpinBox>
#include <QTest>

#include "dialogs/ustcom.h"
#include "gui/dialog_env.h"

using namespace conv;

class FastModeTest : public QObject {
    Q_OBJECT

  private slots:
    // Each bad value gives its default and one box naming it; the good one stands.
    void badValuesFallBackWithABoxEach() {
        test::DialogEnv e;
        e.WriteFile(
            "[MODBUS]\nСуществует=1\nБыстрый опрос=2\nОжидание=30\nПауза=10.5\n"
            "[VELT]\nСуществует=1\nБыстрый ответ=1\n");
        TF_ModbusVelt& m = e.Main();
        m.FormShow();
        const std::string bad = "Неверное значение в файле настроек: [MODBUS] ";
        QCOMPARE(e.boxes.Texts(),
                 (std::vector<std::string>{
                     bad + "Быстрый опрос=\"2\". Допустимо 0 или 1, используется 0.",
                     bad + "Ожидание=\"30\". Допустимо от 50 до 5000, используется 800.",
                     bad + "Пауза=\"10.5\". Допустимо от 0 до 2000, используется 20."}));
        QCOMPARE(m.sLabel1->text(), QString("Опрос по протоколу МОDBUS (такт 800 мс)"));
        QCOMPARE(m.sLabel2->text(), QString("Опрос по протоколу VELT (быстрый ответ)"));
        QVERIFY(m.Timer1.isActive() && !m.ModbusRunner.IsActive());
        QVERIFY(!m.Timer2.isActive() && m.VeltRunner.IsActive());
    }

    // The dialog shows the modes in effect, the keyboard changes them, Alt+П applies, and the
    // lines reopen in their new modes.
    void dialogFieldsApplyAndTheModeShown() {
        test::DialogEnv e;
        e.WriteFile("[MODBUS]\nСуществует=1\nПауза=40\n[VELT]\nСуществует=1\n");
        TF_ModbusVelt& m = e.Main();
        m.FormShow();
        e.dialogs.Then([&](QDialog& d) {
            auto& u = static_cast<TF_UstCom&>(d);
            QVERIFY(QTest::qWaitForWindowActive(&u));
            QVERIFY(!u.sCheckBox1->isChecked() && !u.sCheckBox2->isChecked());
            QCOMPARE(u.sSpinEdit1->value(), 800);
            QCOMPARE(u.sSpinEdit2->value(), 40);
            u.sCheckBox1->setFocus();
            QTest::keyClick(u.sCheckBox1, Qt::Key_Space);
            for (const char* value : {"250", "5"}) {
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_A, Qt::ControlModifier);
                QTest::keyClicks(QApplication::focusWidget(), value);
            }
            QTest::sendKeyEvent(QTest::Click, QApplication::focusWidget(), Qt::Key(u'П'),
                                QStringLiteral("п"), Qt::AltModifier);
            // The mnemonic clicks the button as it is drawn pressed, a moment later.
            QTRY_COMPARE(e.boxes.Texts(), std::vector<std::string>{"Информация зафиксирована!"});
        });
        m.N2Click();
        QCOMPARE(e.Read("MODBUS", "Быстрый опрос") + e.Read("MODBUS", "Ожидание") + " " +
                     e.Read("MODBUS", "Пауза") + " " + e.Read("VELT", "Быстрый ответ"),
                 std::string("1250 5 0"));
        QCOMPARE(m.sLabel1->text(),
                 QString("Опрос по протоколу МОDBUS (быстрый: ожидание 250 мс, пауза 5 мс)"));
        QCOMPARE(m.sLabel2->text(), QString("Опрос по протоколу VELT (такт 55 мс)"));
        QVERIFY(!m.Timer1.isActive() && m.ModbusRunner.IsActive());
        QVERIFY(m.Timer2.isActive() && !m.VeltRunner.IsActive());
        QCOMPARE(e.conv.FastModbus.Timing.PauseUs, 5000);
    }
};

QTEST_MAIN(FastModeTest)
#include "fast_mode_test.moc"
