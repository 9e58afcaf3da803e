#include "asfoundpage.h"

#include "calibrationshared.h"
#include "vx4log.h"

#include <QWizard>

#define LOG VX4_LOG("VX4calibrationwizard")

void AsFoundPage::initializePage()
{
}

bool AsFoundPage::isComplete() const
{
    const bool complete = gCapturedPressures.contains(pageId);
    LOG << ":isComplete() called for" << title();
    LOG << "isComplete = " << (complete ? "true" : "false");
    return complete;
}

bool AsFoundPage::validatePage()
{
    LOG << "validatePage() called";
    return true;
}

void AsFoundPage::onCaptureButtonClicked()
{
    LOG << title() << "capture button clicked";
    if (refuseWithoutReading(haveReading))
        return;
    gCapturedPressures.insert(pageId, qint16(lastPressure));
    LOG << "Recorded " << gCapturedPressures.value(pageId) << "PSI";
    emit completeChanged();
    wizard()->next();
}

void AsFoundPage::onPressureMsgRdy(int pressure, const VX4Message &)
{
    if (!isCurrent())
        return;
    LOG << "onPressureMsgRdy() called";
    lastPressure = pressure;
    if (!haveReading) {
        haveReading = true;
        noteFirstReading();
    }
}

void AsFoundPage::onResponseRdy(const VX4Message &)
{
    if (!isCurrent())
        return;
    LOG << "onResponseRdy() called";
}
