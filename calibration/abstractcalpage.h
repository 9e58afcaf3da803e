#pragma once

#include "VX4message.h"

#include <QWizardPage>

class QLabel;
class QPushButton;

/// One capture page of the calibration wizard: instructions for one set point, a status line
/// and a Capture button. What a capture does depends on the pass, so each pass is a subclass.
class AbstractCalPage : public QWizardPage
{
    Q_OBJECT

public:
    AbstractCalPage(QWidget *parent, int setPointIndex, int setPointPsi, const QString &title);

    void setPageId(int id) { pageId = id; }
    int id() const { return pageId; }
    QString statusText() const;
    QPushButton *captureButton() const { return m_captureButton; }

public slots:
    void initializePage() override = 0;
    bool isComplete() const override = 0;
    virtual void onCaptureButtonClicked() = 0;
    virtual void onPressureMsgRdy(int pressure, const VX4Message &msg) = 0;
    virtual void onResponseRdy(const VX4Message &msg) = 0;

protected:
    /// True while this page is the wizard's current page.
    bool isCurrent() const;
    /// True, with a notice in the status line, when no reading has arrived to be captured.
    bool refuseWithoutReading(bool haveReading);
    /// Clears the waiting notice once the first reading has arrived.
    void noteFirstReading();

    int pageId = -1;
    int setPointIndex;
    int setPointPsi;
    QLabel *statusLabel;

private:
    QPushButton *m_captureButton;
};
