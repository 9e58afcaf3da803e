// Download time of an image through the simulated sender, which paces both directions of the line
// at 115200 baud (10 bits a byte, each answer starting only once its request has arrived), against
// a bare peer: the same exchanges, frame for frame and with the same 500 ms wait for the
// bootloader, replayed by a minimal request/answer loop over the same kind of pty in the same
// run. The ratio is the engine's own overhead. Then, against that first flash (the image's version
// unknown, so every row is read first): a first flash of a new version, which writes whole rows
// unread; a re-flash of the same image; and a new version full of 0x3C bytes through an echoing
// line, against the same without echo.
#include "VX4interface.h"
#include "ptyendpoint.h"
#include "simulatedsender.h"
#include "vx4protocol.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cstdio>

using namespace VX4Protocol;

namespace {
constexpr int Baud = 115200;

/// One request as the sender read it and the bytes it sent back for it.
struct Exchange
{
    QByteArray request;
    int answerBytes = 0;
    qint64 arrivedMs = 0;
    bool settle = false; ///< sent only 500 ms after the APP CHANGE answer
};

/// Records every exchange of `sender` while it exists.
struct ExchangeLog
{
    QList<Exchange> exchanges;
    QElapsedTimer clock;
    QMetaObject::Connection requests, answers;

    explicit ExchangeLog(SimulatedSender &sender)
    {
        clock.start();
        requests = QObject::connect(&sender, &SimulatedSender::requestReceived,
                                    [this](const VX4Message &m) {
                                        exchanges.append({ m.frame, 0, clock.elapsed(), false });
                                    });
        answers
            = QObject::connect(&sender, &SimulatedSender::transmit, [this](const QByteArray &b) {
                  if (!exchanges.isEmpty())
                      exchanges.last().answerBytes += int(b.size());
              });
    }
    ~ExchangeLog() { stop(); }
    void stop()
    {
        QObject::disconnect(requests);
        QObject::disconnect(answers);
    }
    /// Marks the settle query: the first APP QUERY at least 450 ms after an APP CHANGE.
    void markSettle()
    {
        qint64 changedAt = -1;
        for (Exchange &e : exchanges) {
            const quint8 command = quint8(e.request.at(2));
            if (command == AppChange)
                changedAt = e.arrivedMs;
            else if (command == AppQuery && changedAt >= 0 && e.arrivedMs - changedAt >= 450) {
                e.settle = true;
                changedAt = -1;
            }
        }
    }
};

/// Replays `exchanges` with a minimal loop: write a request, wait for its answer's bytes, go on.
double bareSeconds(const QList<Exchange> &exchanges)
{
    SimulatedSender echo;
    echo.setSilent(true);
    echo.setStreamInterval(0);
    PtyEndpoint pty(&echo);
    pty.open();
    pty.setPacingBaud(Baud);
    int index = 0;
    QObject::connect(&echo, &SimulatedSender::requestReceived, [&](const VX4Message &) {
        const int bytes = exchanges.at(index).answerBytes;
        if (bytes > 0)
            echo.injectGarbage(QByteArray(bytes, '\x55'));
    });
    QSerialPort port(pty.slavePath());
    port.setBaudRate(Baud);
    port.open(QIODevice::ReadWrite);
    QEventLoop loop;
    QElapsedTimer clock;
    qint64 changeAnsweredNs = 0;
    qint64 received = 0;
    const auto send = [&] {
        if (index >= exchanges.size()) {
            loop.quit();
            return;
        }
        port.write(exchanges.at(index).request);
        received = 0;
        if (exchanges.at(index).answerBytes == 0) {
            ++index;
            QTimer::singleShot(0, &loop, [&] { QMetaObject::invokeMethod(&port, "readyRead"); });
        }
    };
    std::function<void()> next = [&] {
        if (index < exchanges.size() && exchanges.at(index).settle) {
            const qint64 waitMs = qMax<qint64>(
                0, BootloaderStartMs - (clock.nsecsElapsed() - changeAnsweredNs) / 1000000);
            QTimer::singleShot(int(waitMs), Qt::PreciseTimer, &loop, send);
            return;
        }
        send();
    };
    QObject::connect(&port, &QSerialPort::readyRead, [&] {
        received += port.readAll().size();
        if (index >= exchanges.size()) {
            loop.quit();
            return;
        }
        if (exchanges.at(index).answerBytes > 0 && received < exchanges.at(index).answerBytes)
            return;
        if (exchanges.at(index).answerBytes > 0) {
            if (quint8(exchanges.at(index).request.at(2)) == AppChange)
                changeAnsweredNs = clock.nsecsElapsed();
            ++index;
        }
        next();
    });
    clock.start();
    QTimer::singleShot(0, &loop, next);
    loop.exec();
    return clock.nsecsElapsed() / 1e9;
}

/// Waits until the engine has found the sender again and the line is quiet.
void waitIdle(VX4Interface &engine)
{
    (void)QTest::qWaitFor([&] { return engine.isConnected() && engine.queuedMessages().isEmpty(); },
                          10000);
    QTest::qWait(50);
}

/// One download of `rows`; its time in seconds, or a negative number when it failed or left
/// other memory than the rows.
double downloadSeconds(VX4Interface &engine, const SimulatedSender &sender,
                       const QList<ProgramMemoryRow> &rows, const QString &version = QString())
{
    QSignalSpy finished(&engine, &VX4Interface::vx4FirmwareUpdateFinished);
    QElapsedTimer clock;
    clock.start();
    engine.startFirmwareUpdate(rows, true, version);
    if (!finished.wait(600000) || !finished.first().at(0).toBool())
        return -1;
    const double seconds = clock.nsecsElapsed() / 1e9;
    for (const ProgramMemoryRow &row : rows) {
        for (int k = 0; k < ProgramRowWords; ++k) {
            if (sender.programWord(row.address + k) != row.words.at(k))
                return -1;
        }
    }
    return seconds;
}

/// `count` whole rows from address 0, different for each `seed`; with `marker`, each word holds
/// a 0x3C byte, the answers' start marker.
QList<ProgramMemoryRow> image(int count, int seed, bool marker = false)
{
    QList<ProgramMemoryRow> rows;
    for (int r = 0; r < count; ++r) {
        ProgramMemoryRow row(ProgramRowWords);
        row.address = quint32(r) * ProgramRowWords;
        for (int k = 0; k < ProgramRowWords; ++k) {
            const quint32 value = quint32((r * 7 + k + seed * 131) & 0xFFFF);
            row.words[k] = marker ? 0x3C00 | (value & 0xFF) : value;
        }
        rows.append(row);
    }
    return rows;
}

int failed(const char *what)
{
    std::fprintf(stderr, "%s failed\n", what);
    return 1;
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    const int rowCount = argc > 1 ? QByteArray(argv[1]).toInt() : 1024;

    SimulatedSender sender;
    // No stream and an immediate restart: neither is the engine's doing, and the bare peer
    // could not replay them.
    sender.setStreamInterval(0);
    sender.setRestartDelay(0);
    PtyEndpoint pty(&sender);
    pty.open();
    pty.setPacingBaud(Baud);
    PortSettings settings;
    settings.baudRate = Baud;
    VX4Interface engine(pty.slavePath(), settings);
    engine.open(QIODevice::ReadWrite);
    QSignalSpy connected(&engine, &VX4Interface::vx4ConnectedSignal);
    engine.startConnecting();
    if (!connected.wait(10000)) {
        std::fprintf(stderr, "the simulated sender did not connect\n");
        return 1;
    }

    // Flashes alternate with bare replays of their own exchanges, each with another image so
    // that every row is written: a loaded machine then slows both alike, and the median ratio
    // is the figure.
    const int repeats = argc > 2 ? qMax(1, QByteArray(argv[2]).toInt()) : 3;
    QList<double> ratios;
    QList<double> firsts;
    QList<ProgramMemoryRow> rows;
    for (int n = 0; n < repeats; ++n) {
        rows = image(rowCount, n);
        waitIdle(engine);
        ExchangeLog log(sender);
        const double first = downloadSeconds(engine, sender, rows);
        log.stop();
        // The timed part ends with the valid flag's answer: RESET and later polls are not in it.
        while (!log.exchanges.isEmpty()
               && quint8(log.exchanges.last().request.at(2)) != WriteEeprom)
            log.exchanges.removeLast();
        if (first < 0)
            return failed("the download");
        log.markSettle();
        const double bare = bareSeconds(log.exchanges);
        qint64 bytes = 0;
        for (const Exchange &e : log.exchanges)
            bytes += e.request.size() + e.answerBytes;
        const double line = double(bytes) * 10 / Baud + BootloaderStartMs / 1000.0;
        std::printf("download of %d rows at %d baud, verified: %.3f s for %lld bytes in %lld "
                    "exchanges (line alone %.3f s); bare peer %.3f s; ratio %.3f\n",
                    rowCount, Baud, first, static_cast<long long>(bytes),
                    static_cast<long long>(log.exchanges.size()), line, bare, first / bare);
        std::fflush(stdout);
        ratios.append(first / bare);
        firsts.append(first);
    }
    std::sort(ratios.begin(), ratios.end());
    std::sort(firsts.begin(), firsts.end());
    // The later figures are taken against the median first flash.
    const double first = firsts.at(firsts.size() / 2);
    std::printf("median download ratio over %d runs: %.3f; median first flash %.3f s\n", repeats,
                ratios.at(ratios.size() / 2), first);
    waitIdle(engine);
    const double again = downloadSeconds(engine, sender, rows);
    if (again < 0)
        return failed("the re-flash");
    std::printf("re-flash of the same image: %.3f s; re-flash ratio %.3f\n", again, again / first);
    // The sender reports 1.0: another version writes whole rows without reading them first.
    waitIdle(engine);
    const double newVersion = downloadSeconds(engine, sender, image(rowCount, repeats), "2.6");
    if (newVersion < 0)
        return failed("the first flash of a new version");
    std::printf("first flash of a new version: %.3f s; new-version ratio %.3f\n", newVersion,
                newVersion / first);
    std::fflush(stdout);
    waitIdle(engine);
    const double plain = downloadSeconds(engine, sender, image(rowCount, repeats + 1, true), "2.6");
    pty.setEcho(true);
    waitIdle(engine);
    const double echoed
        = downloadSeconds(engine, sender, image(rowCount, repeats + 2, true), "2.6");
    pty.setEcho(false);
    if (plain < 0 || echoed < 0)
        return failed("a download of rows full of 0x3C bytes");
    std::printf("rows full of 0x3C bytes: %.3f s, through an echoing line %.3f s; echo ratio "
                "%.3f\n",
                plain, echoed, echoed / plain);
    return 0;
}
