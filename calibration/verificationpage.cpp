#include "verificationpage.h"

#include "calibrationshared.h"
#include "vx4log.h"
#include "vx4protocol.h"

#include <QWizard>

#define LOG VX4_LOG("VX4calibrationwizard")

namespace {
const char *const VoltageTexts[CalPages::SetPointCount]
    = { "Voltage0 =", "Voltage1 =", "Voltage2 =", "Voltage3 =", "Voltage4 =" };
}

void VerificationPage::initializePage()
{
    LOG << "initializePage() called for" << title();
    pendingAnswers = 0;
}

void VerificationPage::onCaptureButtonClicked()
{
    if (!recordReading())
        return;
    if (gPressureSender) {
        ++pendingAnswers;
        sendRequest();
    }
}

void VerificationPage::sendRequest()
{
    gPressureSender->requestADCounts();
}

void VerificationPage::onResponseRdy(const VX4Message &msg)
{
    const int current = wizard() ? wizard()->currentId() : -1;
    if (current == -1)
        return;
    if (current == pageId)
        LOG << title() << "onResponseRdy() called";
    if (msg.command != VX4Protocol::GetAdCounts) {
        LOG << "Ignoring messsage" << msg.toString();
        return;
    }
    // A repeated request sent from the page before is answered here too; its voltage belongs
    // to that page, and moving on would skip this one.
    if (pendingAnswers == 0) {
        LOG << "Ignoring an A/D counts answer this page did not ask for";
        return;
    }
    pendingAnswers = 0;
    if (current >= CalPages::FirstVerification && current <= CalPages::LastVerification) {
        const int k = current - CalPages::FirstVerification;
        gVerificationVoltages[k] = VX4Interface::adCountsToVolts(msg);
        LOG << VoltageTexts[k] << QStringLiteral("%1").arg(gVerificationVoltages[k], 0, 'f', 5);
    } else {
        LOG << "Not a valid page for saving voltages";
    }
    emit completeChanged();
    wizard()->next();
}
