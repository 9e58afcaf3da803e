// The calibration wizard and a sender that goes silent: a short silence is waited out, and the
// run goes on only with the same sender in the mode the page needs; Escape asks before a run is
// discarded.
#include "VX4calibrationwizard.h"

#include "abstractcalpage.h"
#include "calibrationshared.h"
#include "vx4log.h"

#include <QAbstractButton>
#include <QKeyEvent>
#include <QMessageBox>

#define LOG VX4_LOG("VX4calibrationwizard")

namespace {
bool isCalibrationPage(int id)
{
    return id >= CalPages::FirstCalibration && id <= CalPages::LastCalibration;
}
} // namespace

void CalibrationWizard::onVX4DisconnectedSignal()
{
    if (!isVisible() || ending)
        return;
    // A port that is gone does not come back by waiting.
    if (!gPressureSender || !gPressureSender->isOpen()) {
        closeOpenDialogs();
        done(SenderLost);
        return;
    }
    if (silentSince.isValid())
        return;
    silentSince = QDateTime::currentDateTime();
    LOG << "The sender stopped answering; waiting for it.";
    showWaiting(true);
    silenceTimer.start();
}

void CalibrationWizard::showWaiting(bool waiting)
{
    setButtonText(QWizard::CustomButton1, tr("waiting for the sender\u2026"));
    setOption(QWizard::HaveCustomButton1, waiting);
    button(QWizard::CustomButton1)->setEnabled(false);
    // Nothing moves while the sender cannot follow; Cancel stays.
    for (auto which : { QWizard::BackButton, QWizard::NextButton, QWizard::FinishButton })
        button(which)->setEnabled(false);
    if (!waiting && currentPage())
        emit currentPage()->completeChanged(); // QWizard offers Back, Next and Finish again
    AbstractCalPage *page = capturePage(currentId());
    if (page && waiting)
        page->waitForSender(tr("Waiting for the sender: it stopped answering at %1...")
                                .arg(silentSince.toString(QStringLiteral("hh:mm:ss"))));
}

void CalibrationWizard::onSilenceTimeout()
{
    if (!silentSince.isValid() || !isVisible() || ending)
        return;
    QMessageBox box(QMessageBox::Warning, tr("Calibration"),
                    tr("The sender has not answered since %1.")
                        .arg(silentSince.toString(QStringLiteral("hh:mm:ss"))),
                    QMessageBox::Retry | QMessageBox::Abort, this);
    box.setInformativeText(tr("Check the cable and the sender's power. Retry waits for the sender "
                              "again; Abort ends the calibration."));
    box.setDefaultButton(QMessageBox::Retry);
    silenceBox = &box;
    const int answer = box.exec();
    silenceBox = nullptr;
    if (!silentSince.isValid() || !isVisible() || ending)
        return; // the sender came back, or the wizard ended, while the box was open
    if (answer == QMessageBox::Abort) {
        LOG << "The technician gave up waiting for the sender.";
        closeOpenDialogs();
        done(SenderLost);
        return;
    }
    silenceTimer.start();
}

void CalibrationWizard::onVX4ConnectedSignal()
{
    if (!silentSince.isValid())
        return;
    silentSince = QDateTime();
    silenceTimer.stop();
    if (silenceBox)
        silenceBox->reject();
    // After the engine has finished its own work on connecting.
    QTimer::singleShot(0, this, &CalibrationWizard::resumeAfterSilence);
}

void CalibrationWizard::resumeAfterSilence()
{
    if (!isVisible() || ending || !gPressureSender || silentSince.isValid())
        return;
    showWaiting(false);
    // What the sender was asked before the silence is unknown; what it reports now is not.
    requestedMode = UnknownMode;
    const int id = currentId();
    const QList<int> visited = visitedIds();
    if (gPressureSender->serialNumber() != expectedSerial) {
        const QString serial = gPressureSender->serialNumberString();
        expectedSerial = gPressureSender->serialNumber();
        setField(QStringLiteral("serialNumber"), serial);
        setField(QStringLiteral("firmwareVersion"), gPressureSender->firmwareVersionString());
        gCapturedPressures.clear();
        return restartFrom(visited.value(1, CalPages::FirstAsFound),
                           tr("Another sender (%1) answered after the silence: every reading "
                              "is taken again from this page.")
                               .arg(serial));
    }
    if (isCalibrationPage(id) && gPressureSender->mode() != CalibrationMode)
        return restartFrom(CalPages::FirstCalibration,
                           tr("The sender left calibration mode during the silence (it "
                              "restarted): the calibration pass starts again."));
    LOG << "The sender answers again; the run goes on.";
    applyMode(id);
    if (isCalibrationPage(id))
        gPressureSender->pollForConnectionChange(false);
    if (saveSent && !saveAcknowledged)
        updateCalibrationInfo();
    if (AbstractCalPage *page = capturePage(id))
        page->resume(true);
}

void CalibrationWizard::restartFrom(int id, const QString &reason)
{
    LOG << reason;
    // Back through the pages, as the technician would, so each pass's mode follows.
    while (currentId() > id && visitedIds().contains(id)) {
        const int before = currentId();
        back();
        if (currentId() == before)
            break;
    }
    applyMode(currentId());
    if (AbstractCalPage *page = capturePage(currentId())) {
        page->resume(false);
        page->showNotice(reason);
    }
}

void CalibrationWizard::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier
        && currentId() > CalPages::Intro && !ending) {
        const auto answer = QMessageBox::question(
            this, tr("Calibration"),
            tr("Discard this calibration run? What was captured so far is not kept."),
            QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
        if (answer == QMessageBox::Yes)
            reject();
        return;
    }
    QWizard::keyPressEvent(event);
}
