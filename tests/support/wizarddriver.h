#pragma once

#include "VX4calibrationwizard.h"
#include "VX4interface.h"
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
    bool click(QWizard::WizardButton button);
    /// Applies `psi` and waits until the current page has heard the sender's reading of it.
    bool hearReading(double psi);
    /// As-found or verification page: hears a reading of `psi`, presses Capture and waits for the
    /// wizard to move on.
    bool captureReading(double psi);
    /// Calibration page: applies `psi`, presses Capture and waits for the wizard to move on.
    bool captureCalibration(double psi);
    /// Every page of one pass at `offsetPsi` from its set points.
    bool runPass(bool calibration, double offsetPsi = 0);
};

/// A fresh temporary working directory for the test's duration.
struct WorkingDir
{
    QTemporaryDir dir;
    QString previous;
    WorkingDir();
    ~WorkingDir();
    QString path(const QString &name) const { return dir.filePath(name); }
};
