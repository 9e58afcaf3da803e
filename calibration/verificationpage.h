#pragma once

#include "abstractcalpage.h"

/// Verification pass: records the sender's reading under its new calibration at one set point
/// and its input voltage there.
class VerificationPage : public AbstractCalPage
{
    Q_OBJECT

public:
    VerificationPage(QWidget *parent, int setPointIndex, int setPointPsi, const QString &title)
        : AbstractCalPage(parent, setPointIndex, setPointPsi, title, Panel::Reading)
    {
    }

public slots:
    void initializePage() override;
    void onCaptureButtonClicked() override;
    void onResponseRdy(const VX4Message &msg) override;

protected:
    /// Asks for the sender's A/D counts (GET A/D COUNTS), for this set point's voltage.
    void sendRequest() override;
};
