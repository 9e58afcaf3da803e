#include "asfoundpage.h"

#include "vx4log.h"

#include <QWizard>

#define LOG VX4_LOG("VX4calibrationwizard")

void AsFoundPage::onCaptureButtonClicked()
{
    if (!recordReading())
        return;
    emit completeChanged();
    wizard()->next();
}

void AsFoundPage::onResponseRdy(const VX4Message &)
{
    if (!isCurrent())
        return;
    LOG << "onResponseRdy() called";
}
