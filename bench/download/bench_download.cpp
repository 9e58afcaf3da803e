// Download time of a 1,024-row image through the simulated sender, which paces both directions of
// the line at 115200 baud, against the line's own limit: every byte sent and received at 10 bits,
// plus the fixed 500 ms wait for the bootloader to start.
#include "VX4interface.h"
#include "ptyendpoint.h"
#include "simulatedsender.h"
#include "vx4protocol.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

#include <cstdio>

using namespace VX4Protocol;

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    const int rowCount = argc > 1 ? QByteArray(argv[1]).toInt() : 1024;
    const int baud = 115200;

    SimulatedSender sender;
    PtyEndpoint pty(&sender);
    pty.open();
    pty.setPacingBaud(baud);
    PortSettings settings;
    settings.baudRate = baud;
    VX4Interface engine(pty.slavePath(), settings);
    engine.open(QIODevice::ReadWrite);
    QSignalSpy connected(&engine, &VX4Interface::vx4ConnectedSignal);
    engine.startConnecting();
    if (!connected.wait(10000)) {
        std::fprintf(stderr, "the simulated sender did not connect\n");
        return 1;
    }
    (void)QTest::qWaitFor([&] { return engine.queuedMessages().isEmpty(); }, 2000);

    QList<ProgramMemoryRow> rows;
    for (int r = 0; r < rowCount; ++r) {
        ProgramMemoryRow row(ProgramRowWords);
        row.address = quint32(r) * ProgramRowWords;
        for (int k = 0; k < ProgramRowWords; ++k)
            row.words[k] = quint32((r * 7 + k) & 0xFFFF);
        rows.append(row);
    }

    QSignalSpy finished(&engine, &VX4Interface::vx4FirmwareUpdateFinished);
    const quint64 inBefore = pty.bytesFromPc();
    const quint64 outBefore = pty.bytesToPc();
    QElapsedTimer clock;
    clock.start();
    engine.startFirmwareUpdate(rows);
    if (!finished.wait(600000) || !finished.first().at(0).toBool()) {
        std::fprintf(stderr, "the download failed\n");
        return 1;
    }
    const double seconds = clock.nsecsElapsed() / 1e9;
    const quint64 bytes = (pty.bytesFromPc() - inBefore) + (pty.bytesToPc() - outBefore);
    const double limit = double(bytes) * 10 / baud + BootloaderStartMs / 1000.0;
    std::printf("download of %d rows at %d baud: %.3f s for %llu bytes; line limit %.3f s; "
                "ratio %.3f\n",
                rowCount, baud, seconds, static_cast<unsigned long long>(bytes), limit,
                seconds / limit);
    return 0;
}
