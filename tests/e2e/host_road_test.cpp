// The whole road of a value: gauge-sim on one pseudo-terminal, the real converter program
// (offscreen) in the middle, host-sim on the other pseudo-terminal asking as a host would. The
// gauge serves the channels of e2e.json and of e2e-faults.json, whose faults the program meets in
// its first poll cycles. The road is a table of steps, run once for each mode: what the settings
// file adds to each side.
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>
#include <fstream>
#include <memory>

#include "support/child_process.h"

using conv::test::Simulator;

namespace {

// The settings file's lines added to [MODBUS] and [VELT]: fast lines give the host the same
// answers as the ticks, only sooner.
const struct Mode {
    const char *name, *modbusKeys, *veltKeys;
} kModes[] = {{"ticks", "", ""}, {"fast", "Быстрый опрос=1\n", "Быстрый ответ=1\n"}};

// Asks host-sim `ask` and expects each "key=value" of the answer: "#i" the raw reply i in hex,
// "cmd/g" a group's value (host-sim gives values only of a reply with status 0x00). How the host
// encodes each block and what each fault of a reply decides are the unit tests'; here the road
// itself: the first cycle, the values that came over the gauge line, and faults on a real line on
// the way.
struct Step {
    const char *what, *ask;
    QStringList expect;
    bool untilSo = false;  // asked again until so: the program is starting or ending a cycle
};

const Step kSteps[] = {
    {"0xFE until the first cycle", "07 c5 d4", {"#0=fe", "#2=fe"}, true},
    {"identification", "07 10", {"#0=000a063c30", "#1=0055"}, true},
    // Level gauges on 3, 5, 6, 9 (never read: type 0, no error code), 12 to 14; pressure sensors
    // on 10; gas sensors on 11; on 15 a level gauge that reported an error.
    {"system table", "dd", {"#0=000000008000808000008081828080800083"}},
    {"a level", "c5 d4", {"#0=00", "d4/1=9873", "d4/2=64003"}},
    {"a channel nobody answers", "c9 d4 29", {"#1=04", "#2=06"}},
    {"split reply, bad CRC: retried",
     "cc d4 a0 d3",
     {"d4/1=25005", "#3=002c015802000000000000000000000000000077"}},
    {"echoed zero byte twice: 0x04", "c6 d4 26", {"#1=04", "#2=06"}, true}};

}  // namespace

class HostRoadTest : public QObject {
    Q_OBJECT
  public:
    explicit HostRoadTest(const Mode& mode) : mode_(mode) {}

  private slots:
    void initTestCase() {
        qInfo("mode: %s", mode_.name);
        // One gauge line for both scenarios: the channels of each, the faults of e2e-faults.json.
        const auto scenario = [](const char* name) {
            QFile f(QString(CONV_SOURCE_DIR "/tools/gauge-sim/scenarios/") + name);
            return f.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(f.readAll()).object()
                                               : QJsonObject();
        };
        QJsonObject road = scenario("e2e.json"), faults = scenario("e2e-faults.json");
        QJsonArray channels = road["channels"].toArray();
        for (const QJsonValue& ch : faults["channels"].toArray()) channels.append(ch);
        road["channels"] = channels;
        road["faults"] = faults["faults"];
        const QString roadFile = dir_.filePath("road.json");
        std::ofstream(roadFile.toStdString()) << QJsonDocument(road).toJson().toStdString();

        gauge_ = std::make_unique<Simulator>(CONV_TOOLS_DIR "/gauge-sim/gauge-sim",
                                             QStringList{"--pty", roadFile});
        host_ = std::make_unique<Simulator>(
            CONV_TOOLS_DIR "/host-sim/host-sim",
            QStringList{"--pty", "--stdin", "--machine", "--timeout", "300"});
        const QString gaugePty = gauge_->WaitForPty(), hostPty = host_->WaitForPty();
        QVERIFY(!gaugePty.isEmpty() && !hostPty.isEmpty());

        // The program reads its settings beside its executable: a folder of its own. Tank 3 on
        // channel 5 is the road of one value; 9 is a channel nobody answers; tanks 6 to 10 meet
        // the faults of e2e-faults.json, channel 6 last of the ten.
        const QString program = dir_.filePath("modbusvelt");
        QVERIFY(QFile::copy(CONV_PROGRAM, program));
        std::ofstream(dir_.filePath("Nastroika.ini").toStdString())
            << "[Резервуар]\n1=10\n2=11\n3=5\n4=9\n5=3\n6=12\n7=13\n8=14\n9=15\n10=6\n[MODBUS]\n"
            << "Com-порт=" << gaugePty.toStdString() << "\nСуществует=1\n"
            << mode_.modbusKeys << "[VELT]\nCom-порт=" << hostPty.toStdString()
            << "\nСуществует=1\n"
            << mode_.veltKeys;
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
        QStringList got;
        for (int tries = 0; tries < (s.untilSo ? 200 : 1) && got != s.expect; ++tries) {
            const QMap<QString, QString> answer = Ask(s.ask);
            got.clear();
            for (const QString& e : s.expect)
                got << e.section('=', 0, 0) + "=" + answer.value(e.section('=', 0, 0), "<none>");
        }
        QCOMPARE(got, s.expect);
    }

  private:
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
            if (line.startsWith("REPLY ")) a["#" + QString::number(replies++)] = f["raw"];
            if (line.startsWith("VAL ")) a[f["cmd"] + "/" + f["grp"]] = f["value"];
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
