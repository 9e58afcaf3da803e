#pragma once

#include "abstractcalpage.h"

/// As-found pass: records the sender's reading under its old calibration at one set point.
class AsFoundPage : public AbstractCalPage
{
    Q_OBJECT

public:
    AsFoundPage(QWidget *parent, int setPointIndex, int setPointPsi, const QString &title)
        : AbstractCalPage(parent, setPointIndex, setPointPsi, title, Panel::Reading)
    {
    }

public slots:
    void onCaptureButtonClicked() override;
    void onResponseRdy(const VX4Message &msg) override;
};
