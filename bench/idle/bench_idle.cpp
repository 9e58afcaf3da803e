// CPU the engine costs while connected and idle: the simulated sender runs as its own process
// (vx4sim), the engine here polls it or receives its pressure stream, logging to a discarding
// handler; the figure is this process's CPU time over the wall time.
#include "VX4interface.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <sys/resource.h>

namespace {
double cpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec
        + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

bool measure(const QString &mode, int seconds)
{
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("port"));
    QProcess sim;
    sim.setProgram(QCoreApplication::applicationDirPath() + QStringLiteral("/vx4sim"));
    sim.setArguments({ "--link", link, "--mode", mode });
    sim.start();
    if (!sim.waitForStarted() || !QTest::qWaitFor([&] { return QFileInfo::exists(link); }, 5000)) {
        std::fprintf(stderr, "vx4sim did not start\n");
        return false;
    }
    VX4Interface engine(QFileInfo(link).symLinkTarget(), PortSettings());
    engine.open(QIODevice::ReadWrite);
    QSignalSpy connected(&engine, &VX4Interface::vx4ConnectedSignal);
    engine.startConnecting();
    if (!connected.wait(10000)) {
        std::fprintf(stderr, "no connection\n");
        return false;
    }
    int frames = 0;
    int answers = 0;
    QObject::connect(&engine, &VX4Interface::vx4PressureMsgRdy, [&] { ++frames; });
    QObject::connect(&engine, &VX4Interface::vx4ResponseRdy, [&] { ++answers; });
    const double cpuStart = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    QTest::qWait(seconds * 1000);
    const double cpu = cpuSeconds() - cpuStart;
    const double share = cpu / (wall.elapsed() / 1000.0) * 100;
    std::printf("idle connected, %s mode: %d pressure frames, %d answers in %lld ms; CPU %.3f s "
                "= %.3f %% of one core\n",
                qPrintable(mode), frames, answers, static_cast<long long>(wall.elapsed()), cpu,
                share);
    engine.close();
    sim.terminate();
    sim.waitForFinished();
    return true;
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    const int seconds = argc > 1 ? QByteArray(argv[1]).toInt() : 20;
    const bool ok = measure(QStringLiteral("pressure"), seconds)
        && measure(QStringLiteral("calibration"), seconds);
    return ok ? 0 : 1;
}
