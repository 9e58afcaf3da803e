#include "calibrationpage.h"

#include "calibrationshared.h"
#include "vx4log.h"
#include "vx4protocol.h"

#include <QLabel>
#include <QWizard>

#define LOG VX4_LOG("VX4calibrationwizard")

void CalibrationPage::initializePage()
{
    statusLabel->clear();
    pendingAnswers = 0;
}

void CalibrationPage::cleanupPage()
{
}

bool CalibrationPage::isComplete() const
{
    return gCapturedPressures.contains(pageId);
}

bool CalibrationPage::validatePage()
{
    LOG << "validatePage() called" << title();
    if (!gPressureSender) {
        LOG << "Invalid pressure sender pointer.";
        return true;
    }
    if (wizard()->currentId() == CalPages::LastCalibration)
        updateCalibrationInfo();
    return true;
}

void CalibrationPage::onCaptureButtonClicked()
{
    if (!gPressureSender)
        return;
    ++pendingAnswers;
    sendRequest();
}

void CalibrationPage::sendRequest()
{
    statusLabel->setText(tr("Capturing..."));
    gPressureSender->capturePressure(quint8(setPointIndex), setPointPsi);
}

void CalibrationPage::onPressureMsgRdy(int, const VX4Message &)
{
    if (!isCurrent())
        return;
    LOG << "onPressureMsgRdy() called"
        << "Error.  Should be in calibration mode.";
}

void CalibrationPage::onResponseRdy(const VX4Message &msg)
{
    if (!isCurrent() || msg.command != VX4Protocol::CapturePressure)
        return;
    // A repeated capture sent from the page before is answered here too; only an answer to this
    // page's own request may move the wizard on, or a set point would be skipped.
    if (pendingAnswers == 0)
        return;
    pendingAnswers = 0;
    emit completeChanged();
    statusLabel->clear();
    wizard()->next();
}
