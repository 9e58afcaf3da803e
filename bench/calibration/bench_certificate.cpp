// Times the end of a calibration run against the simulated sender: from the answer that
// finishes the last verification page to the certificate painted on screen, and to its PDF.
// Runs offscreen with throw-away settings, home and working directories.
#include "VX4calibrationwizard.h"
#include "abstractcalpage.h"
#include "calsumpage.h"
#include "scratchhome.h"
#include "simlink.h"
#include "wizarddriver.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QtTest>

#include <algorithm>
#include <cstdio>

namespace {
// Notes the first paint of a widget.
class PaintWatch : public QObject
{
public:
    qint64 paintedAt = -1;
    const QElapsedTimer *clock = nullptr;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && paintedAt < 0)
            paintedAt = clock->nsecsElapsed();
        return false;
    }
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
    return 0;
}
