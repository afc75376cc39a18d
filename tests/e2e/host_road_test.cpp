// The whole road of a value: gauge-sim on one pseudo-terminal, the real converter program
// (offscreen) in the middle, host-sim on the other pseudo-terminal asking as a host would. The
// expected replies are the scenario's values in the host's encoding, worked out by hand here.
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <fstream>

#include "support/child_process.h"

using conv::test::Simulator;

namespace {

struct Reply {
    QString cmd, status, raw, verdict;
};
struct Answer {
    QList<Reply> replies;
    QMap<QString, QMap<QString, QString>> vals;  // "d4/1" -> st1, st2, value

    QString Raw(int i = 0) const { return replies.value(i).raw; }
    QString Status(int i = 0) const { return replies.value(i).status; }
    QString Value(const QString& key) const { return vals.value(key).value("value"); }
    QString St(const QString& key) const {
        return vals.value(key).value("st1") + "/" + vals.value(key).value("st2");
    }
};

QMap<QString, QString> Fields(const QString& line) {
    QMap<QString, QString> f;
    for (const QString& word : line.split(' ', Qt::SkipEmptyParts)) {
        const int eq = word.indexOf('=');
        if (eq > 0) f.insert(word.left(eq), word.mid(eq + 1));
    }
    return f;
}

// host-sim in its console mode: each line written is a set of requests, answered in turn.
class HostConsole {
  public:
    explicit HostConsole(Simulator& sim) : proc_(sim.Process()) {}

    Answer Ask(const QString& commands) {
        proc_.write((commands + "\n").toUtf8());
        Answer a;
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 30000) {
            if (!proc_.canReadLine() && !proc_.waitForReadyRead(1000)) continue;
            while (proc_.canReadLine()) {
                const QString line = QString::fromUtf8(proc_.readLine()).trimmed();
                if (line == QLatin1String("DONE")) return a;
                const auto f = Fields(line);
                if (line.startsWith(QLatin1String("REPLY "))) {
                    a.replies.append({f["cmd"], f["status"], f["raw"], f["verdict"]});
                } else if (line.startsWith(QLatin1String("VAL "))) {
                    a.vals.insert(f["cmd"] + "/" + f["grp"], f);
                }
            }
        }
        return a;
    }

  private:
    QProcess& proc_;
};

}  // namespace

class HostRoadTest : public QObject {
    Q_OBJECT
  private slots:
    void valuesReachTheHost() {
        Simulator gauge(QStringLiteral(CONV_TOOLS_DIR "/gauge-sim/gauge-sim"),
                        {QStringLiteral("--pty"), QStringLiteral("--quiet"),
                         QStringLiteral(CONV_SOURCE_DIR "/tools/gauge-sim/scenarios/e2e.json")});
        const QString gaugePty = gauge.WaitForPty();
        QVERIFY(!gaugePty.isEmpty());
        Simulator hostSim(
            QStringLiteral(CONV_TOOLS_DIR "/host-sim/host-sim"),
            {QStringLiteral("--pty"), QStringLiteral("--stdin"), QStringLiteral("--machine"),
             QStringLiteral("--timeout"), QStringLiteral("300")});
        const QString hostPty = hostSim.WaitForPty();
        QVERIFY(!hostPty.isEmpty());
        HostConsole host(hostSim);

        // The program reads its settings beside its executable: give it a folder of its own.
        QTemporaryDir dir;
        const QString program = dir.filePath(QStringLiteral("modbusvelt"));
        QVERIFY(QFile::copy(QStringLiteral(CONV_PROGRAM), program));
        {
            std::ofstream ini(dir.filePath(QStringLiteral("Nastroika.ini")).toStdString());
            // Tank 3 on channel 5 is the road of one value; 9 is a channel nobody answers.
            ini << "[Резервуар]\n1=10\n2=11\n3=5\n4=9\n5=3\n"
                << "[MODBUS]\nCom-порт=" << gaugePty.toStdString() << "\nСуществует=1\n"
                << "[VELT]\nCom-порт=" << hostPty.toStdString() << "\nСуществует=1\n";
        }
        QProcess converter;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        converter.setProcessEnvironment(env);
        converter.start(program, {});
        QVERIFY(converter.waitForStarted());
        auto stop = qScopeGuard([&] {
            converter.kill();
            converter.waitForFinished(3000);
        });

        // Until the first cycle has passed every tank, every request is answered 0xFE.
        Answer first;
        for (int i = 0; i < 100 && (first.Status().isEmpty() || first.Status() == "none"); ++i) {
            first = host.Ask(QStringLiteral("07"));
        }
        QCOMPARE(first.Raw(), QStringLiteral("fe"));
        QCOMPARE(host.Ask(QStringLiteral("c5 d4")).Raw(1), QStringLiteral("fe"));

        QElapsedTimer waited;
        waited.start();
        Answer ident;
        while (waited.elapsed() < 120000) {
            ident = host.Ask(QStringLiteral("07"));
            if (ident.Status() == QLatin1String("0")) break;
        }
        QCOMPARE(ident.Raw(), QStringLiteral("000a063c30"));
        QCOMPARE(host.Ask(QStringLiteral("10")).Raw(), QStringLiteral("0055"));

        // System table: level gauges on 3, 5 and 9 (never read, so type 0 and no error code),
        // pressure sensors on 10, gas sensors on 11.
        const Answer dd = host.Ask(QStringLiteral("dd"));
        QCOMPARE(dd.Raw(), QStringLiteral("000000008000800000008081820000000083"));

        // The road of one value: select channel 5, ask for its main parameters.
        Answer road = host.Ask(QStringLiteral("c5 d4"));
        QCOMPARE(road.Raw(0), QStringLiteral("00"));
        QCOMPARE(road.replies.value(1).verdict, QStringLiteral("ok"));
        QCOMPARE(road.St("d4/1"), QStringLiteral("38/0"));  // level state flags 0x02
        QCOMPARE(road.Value("d4/1"), QStringLiteral("9873"));
        QCOMPARE(road.Value("d4/2"), QStringLiteral("64003"));
        QCOMPARE(road.St("d4/3"), QStringLiteral("1/0"));  // no water sensor
        QCOMPARE(road.Value("d4/4"), QStringLiteral("0"));
        QCOMPARE(road.Value("d4/5"), QStringLiteral("7523"));
        QCOMPARE(road.Value("d4/6"), QStringLiteral("55005"));

        // Level gauge on channel 3, every block filled.
        Answer lg = host.Ask(QStringLiteral("c3 d2 dc d4 d7 d8 a0 d6 d3 d5 a1 d6 d5 a3 d5"));
        QCOMPARE(lg.Raw(1), QStringLiteral("00a0150101b5"));
        QCOMPARE(lg.Raw(2), QStringLiteral("00a000150101000000b5"));
        QCOMPARE(lg.Value("d4/1"), QStringLiteral("43215"));
        QCOMPARE(lg.Value("d4/2"), QStringLiteral("1501235"));
        QCOMPARE(lg.St("d4/3"), QStringLiteral("0/4d"));
        QCOMPARE(lg.Value("d4/3"), QStringLiteral("423"));
        QCOMPARE(lg.Value("d4/4"), QStringLiteral("-58"));
        QCOMPARE(lg.Value("d4/5"), QStringLiteral("8125"));
        QCOMPARE(lg.Value("d4/6"), QStringLiteral("1234568"));
        QCOMPARE(lg.Value("d7/1"), QStringLiteral("13"));  // 1.25 in tenths, rounded
        QCOMPARE(lg.St("d7/2"), QStringLiteral("1/0"));
        QCOMPARE(lg.Raw(5), QStringLiteral("00d204d007b80ba00f000000000000000000001d"));
        QCOMPARE(lg.Raw(6), QStringLiteral("00"));
        QVERIFY(lg.replies.value(7).verdict == QLatin1String("ok"));
        QCOMPARE(lg.Raw(8), QStringLiteral("00fa00f401ee02e803e204dc05d606d007ca08f2"));
        // The last answers of each kind win in the map: block 1 of d6, probe 4 of d5.
        QCOMPARE(lg.Value("d6/1"), QStringLiteral("-8"));  // T10 = -0.75
        QCOMPARE(lg.Value("d6/2"), QStringLiteral("155"));
        QCOMPARE(lg.St("d5/1"), QStringLiteral("0/4e"));
        QCOMPARE(lg.Value("d5/4"), QStringLiteral("40000"));
        Answer points = host.Ask(QStringLiteral("a0 d6 d5"));
        QCOMPARE(points.Value("d6/1"), QStringLiteral("105"));
        QCOMPARE(points.St("d6/5"), QStringLiteral("1/0"));
        QCOMPARE(points.St("d6/7"), QStringLiteral("0/49"));
        QCOMPARE(points.Value("d6/7"), QStringLiteral("135"));
        QCOMPARE(points.Value("d5/1"), QStringLiteral("8101"));
        QCOMPARE(points.Value("d5/2"), QStringLiteral("113"));
        QCOMPARE(points.Value("d5/4"), QStringLiteral("12345"));  // 1234 mm and 5 tenths
        QCOMPARE(host.Ask(QStringLiteral("a1 d5")).Value("d5/4"), QStringLiteral("19995"));
        QCOMPARE(host.Ask(QStringLiteral("a5 d5")).Raw(1), QStringLiteral("0c"));

        // Pressure sensors on channel 10.
        Answer pr = host.Ask(QStringLiteral("ca d2 d7 d4"));
        QCOMPARE(pr.Raw(1), QStringLiteral("008000000888"));
        const char* pressures[] = {"1", "3", "4", "5", "15", "28", "31", "125", "0"};
        for (int k = 1; k <= 9; ++k) {
            QCOMPARE(pr.Value(QStringLiteral("d7/%1").arg(k)),
                     QString::fromLatin1(pressures[k - 1]));
        }
        QCOMPARE(pr.St("d7/3"), QStringLiteral("38/0"));
        QCOMPARE(pr.St("d7/7"), QStringLiteral("32/0"));
        QCOMPARE(pr.St("d7/9"), QStringLiteral("1/0"));
        QCOMPARE(pr.Raw(3), QStringLiteral("ff"));  // not a level gauge

        // Gas sensors on channel 11.
        Answer gas = host.Ask(QStringLiteral("cb dc db df de"));
        QCOMPARE(gas.Raw(1), QStringLiteral("00800100000004000085"));
        QCOMPARE(gas.Value("db/1"), QStringLiteral("123"));
        QCOMPARE(gas.St("db/1"), QStringLiteral("0/1"));
        QCOMPARE(gas.St("db/2"), QStringLiteral("4d/1"));
        QCOMPARE(gas.Value("db/3"), QStringLiteral("33"));
        QCOMPARE(gas.St("db/3"), QStringLiteral("0/2"));
        QCOMPARE(gas.St("db/4"), QStringLiteral("1/2"));
        QCOMPARE(gas.St("db/5"), QStringLiteral("38/1"));
        QCOMPARE(gas.Value("db/5"), QStringLiteral("18"));
        QCOMPARE(gas.Value("df/1"), QStringLiteral("1"));
        QCOMPARE(gas.Value("df/2"), QStringLiteral("2"));
        QCOMPARE(gas.Value("df/3"), QStringLiteral("2"));
        QCOMPARE(gas.Value("df/5"), QStringLiteral("0"));
        QCOMPARE(gas.Raw(4), QStringLiteral("0001000100020002010138200020002000200038"));

        // The silent channel: the gauge never answered for it.
        QCOMPARE(host.Ask(QStringLiteral("c9 d4 d5")).Raw(1), QStringLiteral("04"));
        QCOMPARE(host.Ask(QStringLiteral("29 39")).Raw(1), QStringLiteral("06"));

        // Protocol 1.4 on channel 3 (and on 5, 10).
        Answer v14 = host.Ask(QStringLiteral("23 83 b3 53 43 33 63 25 85 2a 2c"));
        QCOMPARE(v14.Raw(0), QStringLiteral("00e11005f4"));
        QCOMPARE(v14.Raw(1), QStringLiteral("006b4a2504"));
        QCOMPARE(v14.Raw(2), QStringLiteral("0040e218ba"));
        QCOMPARE(v14.Raw(3), QStringLiteral("002c03052a"));
        QCOMPARE(v14.Raw(4), QStringLiteral("04"));  // water level flagged 0x01
        QCOMPARE(v14.Raw(5), QStringLiteral("001516178c98"));
        QCOMPARE(v14.Raw(6), QStringLiteral("0019"));
        QCOMPARE(v14.Raw(7), QStringLiteral("04"));  // level flagged 0x02
        QCOMPARE(v14.Raw(8), QStringLiteral("000019031a"));
        QCOMPARE(v14.Raw(9), QStringLiteral("ff"));   // pressure tank: not served in 1.4
        QCOMPARE(v14.Raw(10), QStringLiteral("ff"));  // no tank on channel 12
        for (const Reply& r : v14.replies) QCOMPARE(r.verdict, QStringLiteral("ok"));

        QCOMPARE(converter.state(), QProcess::Running);
    }
};

QTEST_GUILESS_MAIN(HostRoadTest)
#include "host_road_test.moc"
