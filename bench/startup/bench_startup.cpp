// Start-up of the utility to its shown main window on the offscreen platform. Each run is a fresh
// process doing the entry point's steps; the parent reports the median and spread of the whole
// process time (exec to shown) and of the in-process time (main to shown).
//   bench_startup [RUNS]          default 15 runs
#include "appidentity.h"
#include "mainwindow.h"
#include "qlogger.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdio>

namespace {

int child(int argc, char *argv[], QElapsedTimer &sinceMain)
{
    QLogger::install();
    QApplication app(argc, argv);
    AppIdentity::apply();
    AppIdentity::registerImages();
    // Its own switch is not the window's: the window gets the program name alone.
    auto *window = new MainWindow(QStringList { QString::fromLocal8Bit(argv[0]) });
    if (!QTest::qWaitForWindowExposed(window))
        return 1;
    std::printf("shown %.3f\n", sinceMain.nsecsElapsed() / 1e6);
    std::fflush(stdout);
    delete window;
    return 0;
}

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0 : values.at(values.size() / 2);
}

} // namespace

int main(int argc, char *argv[])
{
    QElapsedTimer sinceMain;
    sinceMain.start();
    if (argc > 1 && qstrcmp(argv[1], "--child") == 0)
        return child(argc, argv, sinceMain);

    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? qMax(1, QByteArray(argv[1]).toInt()) : 15;
    QTemporaryDir home;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path());
    env.insert(QStringLiteral("VX4_EXTRA_PORTS"), QString());

    QList<double> whole, inProcess;
    for (int i = 0; i < runs; ++i) {
        QProcess process;
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::SeparateChannels);
        QElapsedTimer clock;
        clock.start();
        process.start(QCoreApplication::applicationFilePath(), { QStringLiteral("--child") });
        double shownAt = -1;
        while (shownAt < 0 && process.waitForReadyRead(10000)) {
            while (process.canReadLine()) {
                const QByteArray line = process.readLine().trimmed();
                if (line.startsWith("shown ")) {
                    shownAt = clock.nsecsElapsed() / 1e6;
                    inProcess.append(line.mid(6).toDouble());
                }
            }
        }
        process.waitForFinished(10000);
        if (shownAt < 0) {
            std::fprintf(stderr, "run %d: the window was not shown\n", i + 1);
            return 1;
        }
        whole.append(shownAt);
    }
    std::printf("start-up to shown main window, offscreen, %d runs\n", runs);
    std::printf("  exec to shown:  median %.1f ms, min %.1f ms, max %.1f ms\n", median(whole),
                *std::min_element(whole.begin(), whole.end()),
                *std::max_element(whole.begin(), whole.end()));
    std::printf("  main to shown:  median %.1f ms, min %.1f ms, max %.1f ms\n", median(inProcess),
                *std::min_element(inProcess.begin(), inProcess.end()),
                *std::max_element(inProcess.begin(), inProcess.end()));
    return 0;
}
