// CPU time per frame of the receive path: a recorded mix of pressure frames, answers to waiting
// requests and garbage, fed in read-sized pieces, with every log line written to a file.
#include "VX4interface.h"
#include "ptyendpoint.h"
#include "simulatedsender.h"
#include "vx4protocol.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTextStream>

#include <cstdio>
#include <ctime>

using namespace VX4Protocol;

namespace {
QFile *logFile = nullptr;

// The same line form as the application's handler: local time stamp, blank, message.
void fileHandler(QtMsgType, const QMessageLogContext &, const QString &msg)
{
    const QString line = QStringLiteral("%1 %2\n").arg(
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz")), msg);
    logFile->write(line.toLocal8Bit());
}

QByteArray answer(quint8 command, const QByteArray &payload)
{
    return VX4Message::buildFrame(AnswerMarker, quint8(FrameOverhead + payload.size()), command,
                                  payload);
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int frames = argc > 1 ? QByteArray(argv[1]).toInt() : 20000;

    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("receivepath.log")));
    file.open(QIODevice::WriteOnly);
    logFile = &file;

    SimulatedSender sender;
    sender.setSilent(true);
    sender.setStreamInterval(0);
    PtyEndpoint pty(&sender);
    pty.open();
    VX4Interface engine(pty.slavePath(), PortSettings());
    engine.open(QIODevice::ReadWrite);

    // The recording: mostly pressure frames, an answer now and then, garbage bursts.
    QRandomGenerator rng(4711);
    struct Item
    {
        QByteArray bytes;
        bool needsRequest;
    };
    QList<Item> recording;
    int frameCount = 0;
    while (frameCount < frames) {
        const int kind = int(rng.bounded(100));
        if (kind < 90) {
            const qint16 psi = qint16(rng.bounded(3200));
            QByteArray p(1, 0);
            p.append(char(quint16(psi) >> 8));
            p.append(char(psi & 0xFF));
            recording.append({ answer(PressureMsg, p), false });
            ++frameCount;
        } else if (kind < 95) {
            recording.append({ answer(GetSerial, QByteArray::fromHex("04d2")), true });
            ++frameCount;
        } else {
            QByteArray garbage;
            for (int i = int(rng.bounded(5, 20)); i > 0; --i)
                garbage.append(char(rng.bounded(0x3D, 0x100)));
            recording.append({ garbage, false });
        }
    }

    qInstallMessageHandler(fileHandler);
    const std::clock_t start = std::clock();
    for (const Item &item : recording) {
        if (item.needsRequest)
            engine.requestSerialNumber();
        // Reads deliver frames in arbitrary pieces.
        int at = 0;
        while (at < item.bytes.size()) {
            const int piece = int(rng.bounded(1, 64));
            engine.receiveBytes(item.bytes.mid(at, piece));
            at += piece;
        }
    }
    const double cpuSeconds = double(std::clock() - start) / CLOCKS_PER_SEC;
    qInstallMessageHandler(nullptr);
    file.flush();

    const double perFrameUs = cpuSeconds * 1e6 / frameCount;
    // 115200 baud of 10-byte pressure frames is 1152 frames per second.
    const double lineShare = perFrameUs * 1152 / 1e6 * 100;
    std::printf("receive path: %d frames, %.3f s CPU, %.2f us per frame with logging to a file "
                "(%lld bytes of log); a saturated 115200 baud line costs %.2f %% of one core\n",
                frameCount, cpuSeconds, perFrameUs, static_cast<long long>(file.size()), lineShare);
    return 0;
}
