#pragma once

#include "VX4calibrationwizard.h"
#include "VX4interface.h"
#include "simlink.h"
#include "simulatedsender.h"

#include <QTemporaryDir>

/// Plays the technician in a calibration run against the simulated sender: fills the intro
/// page, applies pressures with the simulated reference calibrator and presses the buttons.
struct WizardDriver
{
    SimulatedSender &sender;
    VX4Interface *engine;
    CalibrationWizard &wizard;

    void fillIntro();
    /// Empties the calibration history and the settings, then lets calibration pages capture at
    /// once, readings count as stable after 150 ms and a silence last 1 s before Retry or Abort
    /// is offered, so that tests do not wait the real times.
    static void startClean();
    bool click(QWizard::WizardButton button);
    /// Applies `psi` and waits until the engine has passed on the sender's reading of it.
    bool hearReading(double psi);
    /// Applies `psi`; on an as-found or verification page waits until the page has heard the
    /// sender's reading of it; presses Capture `presses` times at once; waits for the next page.
    bool capture(double psi, int presses = 1);
    /// Every page of the current pass, which must be the calibration pass or not as `calibration`
    /// says, at `offsetPsi` from its set points.
    bool runPass(bool calibration, double offsetPsi = 0);
};

/// A fresh temporary working directory for the test's duration.
struct WorkingDir
{
    QTemporaryDir dir { qEnvironmentVariable("VX4_TEST_TMP", QDir::tempPath())
                        + QStringLiteral("/work-XXXXXX") };
    QString previous = QDir::currentPath();
    WorkingDir() { QDir::setCurrent(dir.path()); }
    ~WorkingDir() { QDir::setCurrent(previous); }
    QString path(const QString &name) const { return dir.filePath(name); }
};

/// A connected sender on a pty and a wizard on it with the main window's connections, its intro
/// page filled; HOME is the working folder's "home".
struct CalibrationRun
{
    WorkingDir work;
    SimLink link;
    std::unique_ptr<CalibrationWizard> wizard;
    std::unique_ptr<WizardDriver> driver;

    /// Connects, opens the wizard and, when `next`, goes past the intro page.
    bool start(bool next = true);
    /// Goes forward to `id` without the pages between.
    bool jumpTo(int id)
    {
        wizard->setCurrentId(id);
        return wizard->currentId() == id;
    }
    /// Everything asked of the sender has reached it and been answered.
    bool settle() { return link.waitLineFree(5000); }
};

/// The requests `sender` received, polls left out: command code and payload in hex.
QStringList wireOf(const SimulatedSender &sender);

/// The text of each page of a PDF as pdftotext reads it, ligatures spelled out and white space
/// simplified.
QStringList pdfPages(const QString &path);
QString pdfText(const QString &path);
