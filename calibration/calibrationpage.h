#pragma once

#include "abstractcalpage.h"

/// Calibration pass: tells the sender, in calibration mode, which set point is applied now; the
/// sender takes its own measurement and the wizard moves on when it confirms.
class CalibrationPage : public AbstractCalPage
{
    Q_OBJECT

public:
    CalibrationPage(QWidget *parent, int setPointIndex, int setPointPsi, const QString &title)
        : AbstractCalPage(parent, setPointIndex, setPointPsi, title, Panel::Settle)
    {
    }

public slots:
    void initializePage() override;
    void cleanupPage() override;
    bool isComplete() const override;
    bool validatePage() override;
    void onCaptureButtonClicked() override;
    void onPressureMsgRdy(int pressure, const VX4Message &msg) override;
    void onResponseRdy(const VX4Message &msg) override;

protected:
    /// Tells the sender this page's set point is applied (CAPTURE PRESSURE), showing
    /// "Capturing...".
    void sendRequest() override;
};
