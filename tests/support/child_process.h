// A simulator run as a child process for the end-to-end tests: started with its arguments, its
// first output line ("PTY <path>") read, and ended with the test.
#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

namespace conv::test {

class Simulator {
  public:
    Simulator(const QString& program, const QStringList& args) {
        proc_.setProcessChannelMode(QProcess::MergedChannels);
        proc_.start(program, args);
    }
    ~Simulator() {
        proc_.terminate();
        if (!proc_.waitForFinished(2000)) proc_.kill();
        proc_.waitForFinished(2000);
    }
    // The path announced on the first line, or empty when none came within the time.
    QString WaitForPty(int ms = 20000) {
        while (!proc_.canReadLine()) {
            if (!proc_.waitForReadyRead(ms)) return {};
        }
        const QString line = QString::fromUtf8(proc_.readLine()).trimmed();
        return line.startsWith(QLatin1String("PTY ")) ? line.mid(4) : QString();
    }
    // Its output after the first line, and its input.
    QProcess& Process() { return proc_; }

  private:
    QProcess proc_;
};

}  // namespace conv::test
