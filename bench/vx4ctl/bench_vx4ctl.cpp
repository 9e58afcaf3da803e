// vx4ctl as a script runs it, timed from the start of the process to its exit, against simulated
// senders this program serves on pseudo-terminals, each on a thread of its own (pacing the line
// as a real one):
//   status at 9600 baud, the line a sender starts with          goal: under 300 ms
//   flash of ROWS rows at BAUD to four senders at once           goal: at most 1.1 x one sender
//   SIGINT to exit during a flash at 9600 baud                   goal: at most 1.5 s
//   SIGINT to exit when the sender has fallen silent, 9600 baud  goal: at most one send's time-out
//                                                                (a row write: 1146 ms) + 0.5 s
//   bench_vx4ctl [RUNS] [ROWS] [BAUD]      default 15 status runs, 32 rows, 9600 baud (the line
//                                          every run starts with); the interruptions 5 runs each
#include "ptyendpoint.h"
#include "simulatedsender.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include <csignal>
#include <sys/resource.h>

namespace {

struct Sender
{
    SimulatedSender sim;
    PtyEndpoint pty { &sim };
};

/// A sender served on a thread of its own, as each real sender is its own machine: the pacing
/// spins to the exact moment, and senders sharing one thread would hold each other up.
class ThreadedSender
{
public:
    explicit ThreadedSender(int baud)
    {
        QSemaphore ready;
        thread.reset(QThread::create([this, baud, &ready] {
            Sender sender;
            sender.pty.open();
            sender.pty.setPacingBaud(baud);
            path = sender.pty.slavePath();
            sim = &sender.sim;
            ready.release();
            QEventLoop loop;
            loop.exec();
        }));
        thread->start();
        ready.acquire();
    }
    ~ThreadedSender()
    {
        thread->quit();
        thread->wait();
    }
    QString slavePath() const { return path; }
    /// Stops answering from now on, as a sender whose cable is pulled.
    void fallSilent()
    {
        QMetaObject::invokeMethod(
            sim, [this] { sim->setSilent(true); }, Qt::BlockingQueuedConnection);
    }

private:
    std::unique_ptr<QThread> thread;
    QString path;
    SimulatedSender *sim = nullptr;
};

/// CPU seconds (user and system) of the finished child processes so far.
double childCpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_CHILDREN, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec
        + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

/// Milliseconds from start to exit; negative when vx4ctl failed.
double timeRun(const QStringList &args)
{
    QProcess process;
    QEventLoop loop;
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&process, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
    QElapsedTimer clock;
    clock.start();
    process.start(QStringLiteral(VX4CTL_PATH), args);
    loop.exec();
    const double ms = clock.nsecsElapsed() / 1e6;
    if (process.state() != QProcess::NotRunning || process.exitCode() != 0) {
        std::fprintf(stderr, "vx4ctl %s failed: %s\n", qPrintable(args.join(' ')),
                     process.readAllStandardError().constData());
        return -1;
    }
    return ms;
}

/// Milliseconds from SIGINT to exit of a flash of `hexPath`, the signal sent once the first
/// progress line shows rows being written; the sender falls silent first when `silent`. Negative
/// when vx4ctl did not end with 130.
double interruptRun(const QString &hexPath, bool silent)
{
    ThreadedSender sender(9600);
    QProcess process;
    QEventLoop loop;
    QElapsedTimer clock;
    double ms = -1;
    QByteArray messages;
    QObject::connect(&process, &QProcess::readyReadStandardError, &loop, [&] {
        messages += process.readAllStandardError();
        if (clock.isValid()
            || !QString::fromUtf8(messages).contains(QRegularExpression(": row [1-9]")))
            return;
        if (silent)
            sender.fallSilent();
        clock.start();
        ::kill(pid_t(process.processId()), SIGINT);
    });
    QObject::connect(&process, &QProcess::finished, &loop, [&] {
        if (clock.isValid() && process.exitCode() == 130)
            ms = clock.nsecsElapsed() / 1e6;
        loop.quit();
    });
    process.start(QStringLiteral(VX4CTL_PATH), { "--port", sender.slavePath(), "flash", hexPath });
    loop.exec();
    return ms;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values.at(values.size() / 2);
}

QByteArray hexRecord(quint32 address, quint8 type, const QByteArray &data)
{
    QByteArray bytes;
    bytes.append(char(data.size()));
    bytes.append(char((address >> 8) & 0xFF));
    bytes.append(char(address & 0xFF));
    bytes.append(char(type));
    bytes.append(data);
    quint8 sum = 0;
    for (char b : std::as_const(bytes))
        sum += quint8(b);
    bytes.append(char(quint8(-sum)));
    return ':' + bytes.toHex().toUpper() + "\r\n";
}

/// `rows` whole rows of program memory from address 0 (under 64 KiB of bytes per segment).
QByteArray hexImage(int rows)
{
    QByteArray text;
    const quint32 bytes = quint32(rows) * 128;
    for (quint32 a = 0; a < bytes; a += 16) {
        if (a % 0x10000 == 0)
            text += hexRecord(
                0, 4, QByteArray::fromHex(QByteArray::number(a >> 16, 16).rightJustified(4, '0')));
        QByteArray data;
        for (int i = 0; i < 16; ++i)
            data.append(char((a + i) * 13));
        text += hexRecord(a & 0xFFFF, 0, data);
    }
    return text + hexRecord(0, 1, {});
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    const int runs = argc > 1 ? qMax(1, QByteArray(argv[1]).toInt()) : 15;
    const int rows = argc > 2 ? qMax(1, QByteArray(argv[2]).toInt()) : 32;
    const int baud = argc > 3 ? qMax(300, QByteArray(argv[3]).toInt()) : 9600;

    // status
    {
        Sender sender;
        sender.pty.open();
        sender.pty.setPacingBaud(9600);
        std::vector<double> times;
        for (int i = 0; i < runs; ++i) {
            const double ms = timeRun({ "--port", sender.pty.slavePath(), "status" });
            if (ms < 0)
                return 1;
            times.push_back(ms);
        }
        std::printf("vx4ctl status, start to exit, 9600 baud, %d runs: median %.1f ms, min %.1f "
                    "ms, max %.1f ms\n",
                    runs, median(times), *std::min_element(times.begin(), times.end()),
                    *std::max_element(times.begin(), times.end()));
    }

    // flash: one sender, then four at once
    QTemporaryDir dir;
    const QString hexPath = dir.filePath(QStringLiteral("image.hex"));
    QFile hex(hexPath);
    if (!hex.open(QIODevice::WriteOnly) || hex.write(hexImage(rows)) < 0)
        return 1;
    hex.close();
    double oneMs = 0;
    for (int count : { 1, 4 }) {
        std::vector<std::unique_ptr<ThreadedSender>> senders;
        QStringList args { "--baud", QString::number(baud) };
        for (int i = 0; i < count; ++i) {
            senders.push_back(std::make_unique<ThreadedSender>(baud));
            args << "--port" << senders.back()->slavePath();
        }
        const double cpuBefore = childCpuSeconds();
        const double ms = timeRun(args << "flash" << hexPath);
        if (ms < 0)
            return 1;
        if (count == 1)
            oneMs = ms;
        std::printf("vx4ctl flash of %d rows at %d baud to %d sender%s: %.3f s, vx4ctl CPU "
                    "%.2f s\n",
                    rows, baud, count, count == 1 ? "" : "s", ms / 1000,
                    childCpuSeconds() - cpuBefore);
        if (count > 1)
            std::printf("four senders at once over one: ratio %.3f\n", ms / oneMs);
    }

    // Interrupted: once the download writes rows, and once its sender has gone silent.
    for (const bool silent : { false, true }) {
        std::vector<double> times;
        for (int i = 0; i < 5; ++i) {
            const double ms = interruptRun(hexPath, silent);
            if (ms < 0) {
                std::fprintf(stderr, "vx4ctl did not end with 130 after SIGINT\n");
                return 1;
            }
            times.push_back(ms);
        }
        std::printf("vx4ctl flash at 9600 baud, SIGINT to exit%s, 5 runs: median %.0f ms, max "
                    "%.0f ms\n",
                    silent ? " with the sender silent" : "", median(times),
                    *std::max_element(times.begin(), times.end()));
    }
    return 0;
}
