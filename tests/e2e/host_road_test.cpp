// The whole road of a value: gauge-sim on one pseudo-terminal, the real converter program
// (offscreen) in the middle, host-sim on the other pseudo-terminal asking as a host would. The
// gauge serves the channels of e2e.json and of e2e-faults.json, whose faults the program meets in
// its first poll cycles; gauge-sim's line per request tells when a fault has been met. The road is
// a table of steps, run once for each mode: a program and what its settings file adds to each side.
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>
#include <fstream>
#include <memory>

#include "support/child_process.h"

using conv::test::Simulator;

namespace {

struct Mode {
    const char* name;
    const char* program;
    const char* modbusKeys;  // lines added to [MODBUS] and [VELT]
    const char* veltKeys;
};
// Fast lines give the host the same answers as the ticks, only sooner.
const Mode kModes[] = {{"ticks", CONV_PROGRAM, "", ""},
                       {"fast", CONV_PROGRAM, "Быстрый опрос=1\n", "Быстрый ответ=1\n"}};

// Waits for gauge-sim lines that match `waits` in turn ("N*pattern": the N-th match), then asks
// host-sim `ask` and expects each "key=value" of the answer: "#i" the raw reply i in hex, "#i?"
// its status, "#i!" host-sim's verdict on it, "cmd/g" a group's value, "cmd/g.st" its states.
struct Step {
    const char* what;
    QStringList waits;
    const char* ask;
    QStringList expect;
    bool untilSo = false;  // asked again until so: the program is starting or ending a cycle
};

const QString kCycleEnd = "^REQ 00 \\(zero.*\\) -> FAULT stray";  // channel 6, last of the ten
const QString kRequest = "^REQ ";
// Level gauges on 3, 5, 6, 9 (never read: type 0, no error code), 12 to 14; pressure sensors on
// 10; gas sensors on 11; on 15 a level gauge that reported an error.
const QString kSystemTable = "000000008000808000008081828080800083";

const Step kSteps[] = {
    {"0xFE until the first cycle", {}, "07 c5 d4", {"#0=fe", "#2=fe"}, true},
    {"identification", {kCycleEnd}, "07 10", {"#0=000a063c30", "#1=0055"}, true},
    {"system table", {}, "dd", {"#0=" + kSystemTable}},
    {"a level", {}, "c5 d4", {"#0=00", "d4/1=9873", "d4/1.st=38/0", "d4/2=64003"}},
    {"a level gauge's blocks",
     {},
     "c3 d4 d7 a0 d6 d8",
     {"d4/1=43215", "d4/4=-58", "d7/1=13", "d6/1=105",
      "#5=00d204d007581ba00f00000000000000000000ed"}},
    {"a probe above 6553.6 mm", {}, "a2 d5", {"#1!=ok", "d5/4=70003"}},
    {"a probe at 0 refined below", {}, "a4 d5", {"#1!=ok", "d5/1=8105", "d5/4=-3"}},
    {"pressure sensors", {}, "ca d7 d4", {"d7/1=1", "d7/8=125", "d7/3.st=38/0", "#2=ff"}},
    {"gas sensors", {}, "cb db", {"db/1=123", "db/1.st=0/1", "db/5=18"}},
    {"a channel nobody answers", {}, "c9 d4 29", {"#1=04", "#2=06"}},
    {"protocol 1.4", {}, "23 43 83 2a", {"#0=00e11005f4", "#1=04", "#2=006b4a2504", "#3=ff"}},
    {"split reply, bad CRC: retried",
     {},
     "cc d4 a0 d3",
     {"#1?=0", "d4/1=25005", "#3=002c015802000000000000000000000000000077"}},
    {"silent: 0x04, heights kept",
     {"5*\\(main ch 13\\) -> FAULT silent$", kRequest},
     "cd d4 a0 d3 2d",
     {"#1=04", "#3=00e803d00700000000000000000000000000003c", "#4=06"}},
    {"wrong length: values kept",
     {"5*\\(temp ch 14\\) -> FAULT length", "\\(probes ch 14\\) -> REPLY", kRequest},
     "ce d4 a0 d6",
     {"#1?=0", "#3?=0", "d6/1=73", "d6/3=83"}},
    {"gauge error: 0xFF",
     {"\\(density ch 15\\) -> FAULT exception 150$", kCycleEnd},
     "cf d4 2f dd",
     {"#1=ff", "#2=ff", "#3=" + kSystemTable}},
    {"echoed zero byte twice: 0x04", {kRequest}, "c6 d4 26", {"#1=04", "#2=06"}}};

}  // namespace

class HostRoadTest : public QObject {
    Q_OBJECT
  public:
    explicit HostRoadTest(const Mode& mode) : mode_(mode) {}

  private slots:
    void initTestCase() {
        qInfo("mode: %s", mode_.name);
        // One gauge line for both scenarios: the channels of each, the faults of e2e-faults.json.
        QJsonObject road = Scenario("e2e.json"), faults = Scenario("e2e-faults.json");
        QJsonArray channels = road["channels"].toArray();
        for (const QJsonValue& ch : faults["channels"].toArray()) channels.append(ch);
        road["channels"] = channels;
        road["faults"] = faults["faults"];
        QFile scenario(dir_.filePath("road.json"));
        QVERIFY(scenario.open(QIODevice::WriteOnly));
        scenario.write(QJsonDocument(road).toJson());
        scenario.close();

        gauge_ = std::make_unique<Simulator>(CONV_TOOLS_DIR "/gauge-sim/gauge-sim",
                                             QStringList{"--pty", scenario.fileName()});
        host_ = std::make_unique<Simulator>(
            CONV_TOOLS_DIR "/host-sim/host-sim",
            QStringList{"--pty", "--stdin", "--machine", "--timeout", "300"});
        const QString gaugePty = gauge_->WaitForPty(), hostPty = host_->WaitForPty();
        QVERIFY(!gaugePty.isEmpty() && !hostPty.isEmpty());

        // The program reads its settings beside its executable: a folder of its own. Tank 3 on
        // channel 5 is the road of one value; 9 is a channel nobody answers; tanks 6 to 10 meet
        // the faults of e2e-faults.json, channel 6 last of the ten.
        const QString program = dir_.filePath("modbusvelt");
        QVERIFY(QFile::copy(mode_.program, program));
        std::ofstream(dir_.filePath("Nastroika.ini").toStdString())
            << "[Резервуар]\n1=10\n2=11\n3=5\n4=9\n5=3\n6=12\n7=13\n8=14\n9=15\n10=6\n[MODBUS]\n"
            << "Com-порт=" << gaugePty.toStdString() << "\nСуществует=1\n"
            << mode_.modbusKeys << "[VELT]\nCom-порт=" << hostPty.toStdString()
            << "\nСуществует=1\n"
            << mode_.veltKeys;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        converter_.setProcessEnvironment(env);
        converter_.start(program, {});
        QVERIFY(converter_.waitForStarted());
    }

    void cleanupTestCase() {
        QCOMPARE(converter_.state(), QProcess::Running);
        converter_.kill();
        converter_.waitForFinished();
    }

    void road_data() {
        QTest::addColumn<int>("step");
        for (int i = 0; i < int(std::size(kSteps)); ++i) QTest::newRow(kSteps[i].what) << i;
    }

    void road() {
        QFETCH(int, step);
        const Step& s = kSteps[step];
        for (const QString& wait : s.waits) QVERIFY2(GaugeLogged(wait), qPrintable(wait));
        QStringList got;
        for (int tries = 0; tries < (s.untilSo ? 200 : 1) && got != s.expect; ++tries) {
            const QMap<QString, QString> answer = Ask(s.ask);
            got.clear();
            for (const QString& e : s.expect) {
                const QString key = e.section('=', 0, 0);
                got << key + "=" + answer.value(key, "<none>");
            }
        }
        QCOMPARE(got, s.expect);
    }

  private:
    static QJsonObject Scenario(const char* name) {
        QFile f(QString(CONV_SOURCE_DIR "/tools/gauge-sim/scenarios/") + name);
        return f.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(f.readAll()).object()
                                           : QJsonObject();
    }

    // Reads gauge-sim's lines until the N-th that matches; false when none came in 3 minutes.
    bool GaugeLogged(const QString& wait) {
        const QRegularExpressionMatch counted = QRegularExpression("^(\\d+)\\*(.*)").match(wait);
        int count = counted.hasMatch() ? counted.captured(1).toInt() : 1;
        const QRegularExpression re(counted.hasMatch() ? counted.captured(2) : wait);
        QProcess& p = gauge_->Process();
        for (QDeadlineTimer t(180000); !t.hasExpired();) {
            while (p.canReadLine()) {
                if (re.match(QString::fromUtf8(p.readLine())).hasMatch() && --count == 0) {
                    return true;
                }
            }
            p.waitForReadyRead(int(t.remainingTime()));
        }
        return false;
    }

    // host-sim in its console mode: a line of requests, answered in turn, then DONE.
    QMap<QString, QString> Ask(const QString& requests) {
        QProcess& p = host_->Process();
        p.write((requests + "\n").toUtf8());
        QMap<QString, QString> a;
        int replies = 0;
        for (QDeadlineTimer t(30000); !t.hasExpired();) {
            if (!p.canReadLine() && !p.waitForReadyRead(int(t.remainingTime()))) continue;
            const QString line = QString::fromUtf8(p.readLine()).trimmed();
            if (line == "DONE") break;
            QMap<QString, QString> f;
            for (const QString& word : line.split(' '))
                f[word.section('=', 0, 0)] = word.section('=', 1);
            if (line.startsWith("REPLY ")) {
                const QString i = "#" + QString::number(replies++);
                a[i] = f["raw"];
                a[i + "?"] = f["status"];
                a[i + "!"] = f["verdict"];
            } else if (line.startsWith("VAL ")) {
                a[f["cmd"] + "/" + f["grp"]] = f["value"];
                a[f["cmd"] + "/" + f["grp"] + ".st"] = f["st1"] + "/" + f["st2"];
            }
        }
        return a;
    }

    const Mode& mode_;
    QTemporaryDir dir_;
    std::unique_ptr<Simulator> gauge_, host_;
    QProcess converter_;
};

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int failed = 0;
    for (const Mode& mode : kModes) {
        HostRoadTest road(mode);
        failed += QTest::qExec(&road, argc, argv);
    }
    return failed;
}

#include "host_road_test.moc"
