// Times the end of a calibration run against the simulated sender: from the answer that
// finishes the last verification page to the certificate painted on screen, and to its PDF.
// Runs offscreen with throw-away settings, home and working directories.
#include "VX4calibrationwizard.h"
#include "abstractcalpage.h"
#include "calibrationhistory.h"
#include "calsumpage.h"
#include "scratchhome.h"
#include "settingskeys.h"
#include "simlink.h"
#include "stalledserver.h"
#include "wizarddriver.h"

#include <QApplication>
#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QtTest>

#include <algorithm>
#include <cstdio>
#include <functional>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
// Notes the first paint of a widget.
// Notes the first paint of a widget once `ready` holds.
class PaintWatch : public QObject
{
public:
    qint64 paintedAt = -1;
    const QElapsedTimer *clock = nullptr;
    std::function<bool()> ready = [] { return true; };

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && paintedAt < 0 && ready())
            paintedAt = clock->nsecsElapsed();
        return false;
    }
};

// The longest pause of the event loop while it runs, measured by a timer that should tick every
// TickMs: a window repaints only between ticks.
class LoopWatch : public QObject
{
public:
    static constexpr int TickMs = 5;
    double longestMs = 0;

    LoopWatch()
    {
        timer.callOnTimeout([this] {
            longestMs = std::max(longestMs, clock.nsecsElapsed() / 1e6);
            clock.restart();
        });
        timer.start(TickMs);
        clock.start();
    }

private:
    QTimer timer;
    QElapsedTimer clock;
};

struct Figures
{
    double shownMs;
    double pdfMs;
};

bool runOnce(Figures &out)
{
    SimLink link;
    if (!link.connectEngine())
        return false;
    CalibrationWizard wizard(nullptr, link.engine.get());
    wizard.attachSender(link.engine.get());
    WizardDriver driver { link.sender, link.engine.get(), wizard };
    wizard.show();
    driver.fillIntro();
    if (!driver.click(QWizard::NextButton) || !driver.runPass(false) || !driver.runPass(true))
        return false;
    for (int i = 0; i < 4; ++i) {
        if (!driver.capture(750 * i + 2))
            return false;
    }
    AbstractCalPage *last = wizard.capturePage(15);
    last->referenceBox()->setValue(3000);
    const auto stable = [&] { return last->captureButton()->isEnabled(); };
    if (!driver.hearReading(3002) || !QTest::qWaitFor(stable, 5000))
        return false;

    QElapsedTimer clock;
    qint64 finishedAt = -1;
    // Connected before the page's own connection, so it runs first on the final answer.
    QObject::connect(link.engine.get(), &VX4Interface::vx4ResponseRdy, &wizard,
                     [&](const VX4Message &msg) {
                         if (msg.command == 22 && finishedAt < 0)
                             finishedAt = clock.nsecsElapsed();
                     });
    PaintWatch watch;
    watch.clock = &clock;
    // The certificate is painted once the history has drawn its number.
    watch.ready = [&] { return !wizard.summaryPage()->certificateHtml().isEmpty(); };
    wizard.summaryPage()->certificate()->viewport()->installEventFilter(&watch);
    clock.start();
    last->captureButton()->click();
    if (!QTest::qWaitFor([&] { return watch.paintedAt >= 0; }, 10000))
        return false;
    const QString pdf = wizard.summaryPage()->saveCertificatePdf();
    const qint64 writtenAt = clock.nsecsElapsed();
    if (pdf.isEmpty())
        return false;
    if (finishedAt < 0)
        return false;
    out.shownMs = (watch.paintedAt - finishedAt) / 1e6;
    out.pdfMs = (writtenAt - finishedAt) / 1e6;
    return true;
}
/// A calibration whose history is a PostgreSQL server that takes connections and never answers,
/// this bench holding numbers it reserved earlier: the summary page draws its number and Finish
/// stores the run, each after the server's connection time-out. Returns the longest pause of the
/// event loop from the last capture until the wizard has closed, in ms; negative on failure.
double stalledRun(double *totalMs)
{
    const StalledServer stalled;
    if (stalled.port == 0)
        return -1;
    QSettings settings(SettingsStore::Organisation, SettingsStore::Application);
    settings.setValue(QStringLiteral("history/backend"), QStringLiteral("postgresql"));
    settings.setValue(QStringLiteral("history/host"), QStringLiteral("127.0.0.1"));
    settings.setValue(QStringLiteral("history/port"), stalled.port);
    settings.sync();
    QFile block(HistoryLocation::fromSettings().blockFile);
    if (!QDir().mkpath(HistoryLocation::dataFolder()) || !block.open(QIODevice::WriteOnly)
        || block.write("1\n2\n3\n") != 6)
        return -1;
    block.close();
    SimLink link;
    if (!link.connectEngine())
        return -1;
    CalibrationWizard wizard(nullptr, link.engine.get());
    wizard.attachSender(link.engine.get());
    WizardDriver driver { link.sender, link.engine.get(), wizard };
    wizard.show();
    driver.fillIntro();
    if (!driver.click(QWizard::NextButton) || !driver.runPass(false) || !driver.runPass(true)
        || !driver.runPass(false))
        return -1;
    QElapsedTimer clock;
    clock.start();
    const LoopWatch loop;
    if (!QTest::qWaitFor([&] { return wizard.summaryPage()->isComplete(); }, 20000)
        || !driver.click(QWizard::FinishButton)
        || !QTest::qWaitFor([&] { return !wizard.isVisible(); }, 30000))
        return -1;
    *totalMs = clock.nsecsElapsed() / 1e6;
    return loop.longestMs;
}
} // namespace

int main(int argc, char **argv)
{
    const ScratchHome scratch;
    QApplication app(argc, argv);
    QDir::setCurrent(scratch.dir.path());
    WizardDriver::startClean(); // no real settle times: the figures start at the last answer

    const int runs = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 5;
    QList<double> shown;
    QList<double> pdf;
    for (int i = 0; i < runs; ++i) {
        Figures f {};
        if (!runOnce(f)) {
            std::fprintf(stderr, "run %d failed\n", i + 1);
            return 1;
        }
        shown.append(f.shownMs);
        pdf.append(f.pdfMs);
    }
    auto report = [](const char *what, QList<double> ms) {
        std::sort(ms.begin(), ms.end());
        std::printf("%-40s min %7.1f ms  median %7.1f ms  max %7.1f ms\n", what, ms.first(),
                    ms.at(ms.size() / 2), ms.last());
    };
    std::printf("%d calibration runs against the simulated sender\n", runs);
    report("last verification answer -> certificate", shown);
    report("last verification answer -> PDF written", pdf);
    double total = 0;
    const double longest = stalledRun(&total);
    if (longest < 0) {
        std::fprintf(stderr, "the run with a stalled history failed\n");
        return 1;
    }
    std::printf("history stalled: longest event-loop pause %.1f ms over %.1f s from the summary "
                "page to the stored run\n",
                longest, total / 1000);
    return 0;
}
