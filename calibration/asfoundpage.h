#pragma once

#include "abstractcalpage.h"

/// As-found pass: records the sender's reading under its old calibration at one set point.
class AsFoundPage : public AbstractCalPage
{
    Q_OBJECT

public:
    using AbstractCalPage::AbstractCalPage;

public slots:
    void onCaptureButtonClicked() override;
    void onResponseRdy(const VX4Message &msg) override;
};
