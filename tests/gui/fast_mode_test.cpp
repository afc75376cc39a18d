// Fast mode as the operator meets it: bad values in the settings file, the port dialog's new fields
// worked by the keyboard, Apply, and the mode each side then runs in, shown on the main window.
#include <QApplication>
#include <QCheckBox>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>

#include "app/program_windows.h"
#include "dialogs/ustcom.h"
#include "settings/settings_file.h"
#include "support/fake_port.h"
#include "support/scripted_ui_qt.h"

using namespace conv;

class FastModeTest : public QObject {
    Q_OBJECT

    void Write(const char* section, const char* key, const char* value) {
        SettingsFile f(services.SettingsPath());
        QVERIFY(f.WriteString(section, key, value));
    }
    std::string Read(const char* section, const char* key) {
        return SettingsFile(services.SettingsPath()).ReadString(section, key, "<absent>");
    }

  private slots:
    void init() {
        boxes = test::RecordingBoxes();
        services.boxes = &boxes;
        services.dialogs = &dialogs;
        services.settingsDir = dir.path().toStdString() + "/";
        services.makePort = [] { return std::make_unique<test::FakePort>(); };
        services.probePort = [](const std::string&) { return 1; };
        QFile::remove(dir.filePath("Nastroika.ini"));
        Write("MODBUS", "Существует", "1");
        Write("VELT", "Существует", "1");
    }

    // Each bad value gives its default and one box naming it; the good one stands.
    void badValuesFallBackWithABoxEach() {
        Write("MODBUS", "Быстрый опрос", "2");
        Write("MODBUS", "Ожидание", "30");
        Write("MODBUS", "Пауза", "10.5");
        Write("VELT", "Быстрый ответ", "1");
        Windows w(services);
        w.F_ModbusVelt->FormShow();
        const std::string bad = "Неверное значение в файле настроек: [MODBUS] ";
        QCOMPARE(boxes.Texts(),
                 (std::vector<std::string>{
                     bad + "Быстрый опрос=\"2\". Допустимо 0 или 1, используется 0.",
                     bad + "Ожидание=\"30\". Допустимо от 50 до 5000, используется 800.",
                     bad + "Пауза=\"10.5\". Допустимо от 0 до 2000, используется 20."}));
        QCOMPARE(w.F_ModbusVelt->sLabel1->text(),
                 QString("Опрос по протоколу МОDBUS (такт 800 мс)"));
        QCOMPARE(w.F_ModbusVelt->sLabel2->text(),
                 QString("Опрос по протоколу VELT (быстрый ответ)"));
        QVERIFY(w.F_ModbusVelt->Timer1.isActive() && !w.F_ModbusVelt->ModbusRunner.IsActive());
        QVERIFY(!w.F_ModbusVelt->Timer2.isActive() && w.F_ModbusVelt->VeltRunner.IsActive());
    }

    // The dialog shows the modes in effect, the keyboard changes them, Alt+П applies, and the
    // lines reopen in their new modes.
    void dialogFieldsApplyAndTheModeShown() {
        Write("MODBUS", "Пауза", "40");
        Windows w(services);
        w.F_ModbusVelt->FormShow();
        dialogs.Then([&](QDialog& d) {
            auto& u = static_cast<TF_UstCom&>(d);
            QVERIFY(QTest::qWaitForWindowActive(&u));
            QVERIFY(!u.sCheckBox1->isChecked() && !u.sCheckBox2->isChecked());
            QCOMPARE(u.sSpinEdit1->value(), 800);
            QCOMPARE(u.sSpinEdit2->value(), 40);
            u.sCheckBox1->setFocus();
            QTest::keyClick(u.sCheckBox1, Qt::Key_Space);
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_A, Qt::ControlModifier);
            QTest::keyClicks(QApplication::focusWidget(), "250");
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_A, Qt::ControlModifier);
            QTest::keyClicks(QApplication::focusWidget(), "5");
            QTest::sendKeyEvent(QTest::Click, QApplication::focusWidget(), Qt::Key(u'П'),
                                QStringLiteral("п"), Qt::AltModifier);
            // The mnemonic clicks the button as it is drawn pressed, a moment later.
            QTRY_COMPARE(boxes.Texts(), std::vector<std::string>{"Информация зафиксирована!"});
        });
        w.F_ModbusVelt->N2Click();
        QCOMPARE(Read("MODBUS", "Быстрый опрос"), std::string("1"));
        QCOMPARE(Read("MODBUS", "Ожидание"), std::string("250"));
        QCOMPARE(Read("MODBUS", "Пауза"), std::string("5"));
        QCOMPARE(Read("VELT", "Быстрый ответ"), std::string("0"));
        QCOMPARE(w.F_ModbusVelt->sLabel1->text(),
                 QString("Опрос по протоколу МОDBUS (быстрый: ожидание 250 мс, пауза 5 мс)"));
        QCOMPARE(w.F_ModbusVelt->sLabel2->text(), QString("Опрос по протоколу VELT (такт 55 мс)"));
        QVERIFY(!w.F_ModbusVelt->Timer1.isActive() && w.F_ModbusVelt->ModbusRunner.IsActive());
        QVERIFY(w.F_ModbusVelt->Timer2.isActive() && !w.F_ModbusVelt->VeltRunner.IsActive());
        QCOMPARE(w.Conv().FastModbus.Timing.PauseUs, 5000);
    }

  private:
    QTemporaryDir dir;
    test::RecordingBoxes boxes;
    test::ScriptedDialogs dialogs;
    AppServices services;
};

QTEST_MAIN(FastModeTest)
#include "fast_mode_test.moc"
