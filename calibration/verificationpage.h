#pragma once

#include "abstractcalpage.h"

/// Verification pass: records the sender's reading under its new calibration at one set point
/// and its input voltage there.
class VerificationPage : public AbstractCalPage
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
    int pendingRequests = 0; ///< GET A/D COUNTS requests this page sent and is waiting for
};
