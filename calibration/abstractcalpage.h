#pragma once

#include "VX4message.h"

#include <QWizardPage>

class QLabel;
class QPushButton;

/// One capture page of the calibration wizard: instructions for one set point, a status line
/// and a Capture button. By default a page records the sender's own reading, as the as-found and
/// verification passes do; what a capture does next depends on the pass, so each is a subclass.
class AbstractCalPage : public QWizardPage
{
    Q_OBJECT

public:
    AbstractCalPage(QWidget *parent, int setPointIndex, int setPointPsi, const QString &title);

    void setPageId(int id) { pageId = id; }
    int id() const { return pageId; }
    QString statusText() const;
    QPushButton *captureButton() const { return m_captureButton; }
    /// The page has just become current: only readings that arrive from now on may be captured.
    void becameCurrent();

public slots:
    /// True once a pressure has been recorded for this page.
    bool isComplete() const override;
    bool validatePage() override;
    virtual void onCaptureButtonClicked() = 0;
    /// Keeps the latest good reading while this page is current; a reading with an A/D fault
    /// is shown as the fault and leaves nothing to capture.
    virtual void onPressureMsgRdy(int pressure, const VX4Message &msg);
    virtual void onResponseRdy(const VX4Message &msg) = 0;

protected:
    /// True while this page is the wizard's current page.
    bool isCurrent() const;
    /// Records the latest reading as this page's pressure; false, with a notice in the status
    /// line, when no reading has arrived to be captured.
    bool recordReading();

    int pageId = -1;
    int setPointIndex;
    int setPointPsi;
    QLabel *statusLabel;

private:
    QPushButton *m_captureButton;
    int lastPressure = 0;
    bool haveReading = false; ///< a good reading arrived since the page last became current
    QString faultNotice; ///< what the last reading's A/D fault was, while no good one followed
};
