// Resident memory of the utility over a long stream of pressure frames with the debug window
// open: one hour at 20 frames per second (72000 frames), sent faster than real time. Reports the
// resident set and the debug window's text at every tenth of the run, then after "Clear"; the goal
// is a process under 60 MiB after the hour, the window holding its last 20,000 lines.
//   bench_streaming_memory [--frames N] [--interval MS] [--no-debug-window]
#include "VX4interface.h"
#include "debugdialog.h"
#include "mainwindow.h"
#include "mainwindowform.h"
#include "ptyendpoint.h"
#include "qlogger.h"
#include "simulatedsender.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

namespace {

constexpr int HourFrames = 20 * 3600; ///< pressure frames in an hour at 20 per second
constexpr double GoalMiB = 60; ///< resident set the process must stay under

double residentMiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    }
    return 0;
}

void silent(QtMsgType, const QMessageLogContext &, const QString &)
{
}

} // namespace

int main(int argc, char *argv[])
{
    // The log still passes through the stamping handler and into the window; only the copy on
    // the error stream is dropped, so the terminal is not flooded.
    qInstallMessageHandler(silent);
    QLogger::install();
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir configHome;
    qputenv("XDG_CONFIG_HOME", configHome.path().toLocal8Bit());

    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    int frames = HourFrames;
    int interval = 1;
    if (int i = args.indexOf(QStringLiteral("--frames")); i > 0)
        frames = args.value(i + 1).toInt();
    if (int i = args.indexOf(QStringLiteral("--interval")); i > 0)
        interval = args.value(i + 1).toInt();
    const bool debugWindow = !args.contains(QStringLiteral("--no-debug-window"));

    SimulatedSender sender;
    PtyEndpoint pty(&sender);
    QString error;
    if (!pty.open(&error)) {
        std::fprintf(stderr, "no pseudo-terminal: %s\n", qPrintable(error));
        return 1;
    }
    sender.setAppliedPressure(1500);
    qputenv("VX4_EXTRA_PORTS", pty.slavePath().toLocal8Bit());

    MainWindow window(QStringList { QStringLiteral("bench") });
    MainWindowForm *ui = window.form();
    ui->serComboBox->setCurrentIndex(ui->serComboBox->findText(pty.slavePath()));
    if (debugWindow)
        ui->actionEnableDebugLogging->setChecked(true);
    ui->serButton->click();
    if (!QTest::qWaitFor(
            [&]() {
                return window.pressureSenderInterface()
                    && window.pressureSenderInterface()->isConnected();
            },
            10000)) {
        std::fprintf(stderr, "the simulated sender did not connect\n");
        return 1;
    }

    int received = 0;
    QObject::connect(window.pressureSenderInterface(), &VX4Interface::vx4PressureMsgRdy,
                     [&received]() { ++received; });
    auto textChars = [&]() {
        DebugDialog *d = window.debugOutputWindow();
        return d ? d->view()->document()->characterCount() : 0;
    };

    std::printf("%d pressure frames (%.2f h at 20/s), one every %d ms, debug window %s\n", frames,
                frames / double(HourFrames), interval, debugWindow ? "open" : "closed");
    std::printf("%10s %10s %12s %14s\n", "frames", "RSS MiB", "log chars", "wall s");
    QElapsedTimer clock;
    clock.start();
    const double startRss = residentMiB();
    double peakRss = startRss;
    std::printf("%10d %10.1f %12d %14.1f\n", 0, startRss, textChars(), 0.0);
    sender.setStreamInterval(interval);
    for (int step = 1; step <= 10; ++step) {
        const int target = frames / 10 * step;
        while (received < target)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
        const double rss = residentMiB();
        peakRss = qMax(peakRss, rss);
        std::printf("%10d %10.1f %12d %14.1f\n", received, rss, textChars(),
                    clock.elapsed() / 1000.0);
        std::fflush(stdout);
    }
    sender.setStreamInterval(0);
    const double endRss = residentMiB();
    const int chars = textChars();
    if (DebugDialog *d = window.debugOutputWindow())
        d->clearButton()->click();
    QCoreApplication::processEvents();
    std::printf("after Clear: RSS %.1f MiB\n", residentMiB());
    std::printf("peak RSS %.1f MiB: %s the goal of %.0f MiB\n", peakRss,
                peakRss < GoalMiB ? "within" : "OVER", GoalMiB);
    std::printf("growth %.1f MiB for %d characters of log text (%.1f bytes of RSS per character)\n",
                endRss - startRss, chars, chars ? (endRss - startRss) * 1048576.0 / chars : 0.0);
    return 0;
}
