#include "VX4calibrationwizard.h"

#include "VX4interface.h"
#include "asfoundpage.h"
#include "calibrationpage.h"
#include "calibrationresources.h"
#include "calibrationshared.h"
#include "calsumpage.h"
#include "intropage.h"
#include "verificationpage.h"
#include "vx4log.h"

#include <QMessageBox>

#define LOG VX4_LOG("VX4calibrationwizard")

QPointer<VX4Interface> gPressureSender;
QMap<int, qint16> gCapturedPressures;
QDateTime gCalibrationDateTime;
std::array<double, CalPages::SetPointCount> gVerificationVoltages {};

namespace {
// The page that was current before; kept from one wizard to the next.
int previousPageId = -1;

bool isPressureSendingPage(int id)
{
    return (id >= CalPages::FirstAsFound && id <= CalPages::LastAsFound)
        || (id >= CalPages::FirstVerification && id <= CalPages::LastVerification);
}

bool isCalibrationPage(int id)
{
    return id >= CalPages::FirstCalibration && id <= CalPages::LastCalibration;
}
} // namespace

void updateCalibrationInfo()
{
    if (!gPressureSender)
        return;
    const QDate date = gCalibrationDateTime.date();
    const QTime time = gCalibrationDateTime.time();
    gPressureSender->saveCalDateTime(quint16(date.year()), quint8(date.month()), quint8(date.day()),
                                     quint8(time.hour()), quint8(time.minute()));
    gPressureSender->requestCalDateTime();
    LOG << "Updating calibration information.";
}

CalibrationWizard::CalibrationWizard(QWidget *parent, VX4Interface *sender)
    : QWizard(parent)
{
    registerCalibrationImages();
    gCapturedPressures.clear();
    gPressureSender = sender;
    if (!sender) {
        LOG << "Pressure sender invalid!";
        return;
    }

    introPage = new IntroPage(this);
    for (int i = 0; i < CalPages::SetPointCount; ++i) {
        const int psi = CalPages::SetPointsPsi[i];
        asFoundPages[i] = new AsFoundPage(this, i, psi, tr("As Found Page %1").arg(i + 1));
        asFoundPages[i]->setPageId(CalPages::FirstAsFound + i);
    }
    for (int i = 0; i < CalPages::SetPointCount; ++i) {
        const int psi = CalPages::SetPointsPsi[i];
        calibrationPages[i]
            = new CalibrationPage(this, i, psi, tr("Calibration Page %1").arg(i + 1));
        calibrationPages[i]->setPageId(CalPages::FirstCalibration + i);
    }
    for (int i = 0; i < CalPages::SetPointCount; ++i) {
        const int psi = CalPages::SetPointsPsi[i];
        verificationPages[i]
            = new VerificationPage(this, i, psi, tr("Verification Page %1").arg(i + 1));
        verificationPages[i]->setPageId(CalPages::FirstVerification + i);
    }
    calSumPage = new CalSumPage(this);

    setPage(CalPages::Intro, introPage);
    setStartId(CalPages::Intro);
    for (int i = 0; i < CalPages::SetPointCount; ++i)
        setPage(CalPages::FirstAsFound + i, asFoundPages[i]);
    for (int i = 0; i < CalPages::SetPointCount; ++i)
        setPage(CalPages::FirstCalibration + i, calibrationPages[i]);
    for (int i = 0; i < CalPages::SetPointCount; ++i)
        setPage(CalPages::FirstVerification + i, verificationPages[i]);
    setPage(CalPages::Summary, calSumPage);

    setWindowTitle(tr("Calibration Wizard"));
    connect(this, &QWizard::currentIdChanged, this, &CalibrationWizard::onCurrentIdChanged);
}

bool CalibrationWizard::checkSender(QWidget *mainWindow, VX4Interface *sender)
{
    if (!sender) {
        QMessageBox box;
        box.setText(tr("Pressure Sender is invalid.  Please check the pressure sender's connection "
                       "and then close and re-open the communication port."));
        box.exec();
        return false;
    }
    if (!sender->isConnected()) {
        QMessageBox box(mainWindow);
        box.setText(tr("Pressure Sender is not connected.  Please check the  pressure sender's "
                       "connection and then close and re-open the communication port."));
        box.exec();
        return false;
    }
    return true;
}

void CalibrationWizard::showSenderLostMessage()
{
    QMessageBox box;
    box.setText(tr("Calibration wizard aborted.  A timeout occurredwhile waiting for the pressure "
                   "sender to respond."));
    box.exec();
}

void CalibrationWizard::attachSender(VX4Interface *sender)
{
    if (!sender)
        return;
    connect(sender, &VX4Interface::vx4DisconnectedSignal, this,
            &CalibrationWizard::onVX4DisconnectedSignal, Qt::UniqueConnection);
    connect(sender, &VX4Interface::vx4ResponseRdy, this, &CalibrationWizard::onVX4ResponseRdy,
            Qt::UniqueConnection);
}

void CalibrationWizard::detachSender(VX4Interface *sender)
{
    if (!sender)
        return;
    disconnect(sender, &VX4Interface::vx4DisconnectedSignal, this,
               &CalibrationWizard::onVX4DisconnectedSignal);
    disconnect(sender, &VX4Interface::vx4ResponseRdy, this, &CalibrationWizard::onVX4ResponseRdy);
}

AbstractCalPage *CalibrationWizard::capturePage(int id) const
{
    return qobject_cast<AbstractCalPage *>(page(id));
}

void CalibrationWizard::onCurrentIdChanged(int id)
{
    AbstractCalPage *current = capturePage(id);
    if (!gPressureSender)
        return;

    // The new page is connected before the old one lets go.
    if (current) {
        connect(gPressureSender, &VX4Interface::vx4PressureMsgRdy, current,
                &AbstractCalPage::onPressureMsgRdy, Qt::UniqueConnection);
        connect(gPressureSender, &VX4Interface::vx4ResponseRdy, current,
                &AbstractCalPage::onResponseRdy, Qt::UniqueConnection);
    }
    if (previousPageId != -1) {
        AbstractCalPage *previous = capturePage(previousPageId);
        if (previous && previous != current) {
            disconnect(gPressureSender, &VX4Interface::vx4PressureMsgRdy, previous,
                       &AbstractCalPage::onPressureMsgRdy);
            disconnect(gPressureSender, &VX4Interface::vx4ResponseRdy, previous,
                       &AbstractCalPage::onResponseRdy);
        }
    }

    if (isPressureSendingPage(id)) {
        if (gPressureSender->mode() != PressureSendingMode) {
            LOG << "Switching to pressure sending mode.";
            gPressureSender->switchMode(PressureSendingMode);
            gPressureSender->pollForConnectionChange(true);
        }
    } else if (isCalibrationPage(id)) {
        if (gPressureSender->mode() != CalibrationMode) {
            LOG << "Switching to calibration mode.";
            gPressureSender->switchMode(CalibrationMode);
            gPressureSender->pollForConnectionChange(false);
        }
    }
    previousPageId = id;
}

void CalibrationWizard::onVX4DisconnectedSignal()
{
    done(SenderLost);
}

void CalibrationWizard::onVX4ResponseRdy(const VX4Message &)
{
}

void CalibrationWizard::reject()
{
    LOG << "CalibrationWizard::reject() called.";
    done(Cancelled);
}
