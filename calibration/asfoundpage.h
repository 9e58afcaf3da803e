#pragma once

#include "abstractcalpage.h"

/// As-found pass: records the sender's reading under its old calibration at one set point.
class AsFoundPage : public AbstractCalPage
{
    Q_OBJECT

public:
    using AbstractCalPage::AbstractCalPage;

public slots:
    void initializePage() override;
    bool isComplete() const override;
    bool validatePage() override;
    void onCaptureButtonClicked() override;
    void onPressureMsgRdy(int pressure, const VX4Message &msg) override;
    void onResponseRdy(const VX4Message &msg) override;

private:
    int lastPressure = 0;
    bool haveReading = false; ///< a reading has arrived while this page was current
};
