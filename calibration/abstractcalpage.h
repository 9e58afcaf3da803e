#pragma once

#include "VX4message.h"
#include "calibrationrecord.h"
#include "stabilitygate.h"

#include <QElapsedTimer>
#include <QWizardPage>

class QDoubleSpinBox;
class QLabel;
class QPushButton;
class QTimer;

/// One capture page of the calibration wizard: instructions for one set point, a status line
/// and a Capture button. A reading page (as-found and verification passes) shows the sender's
/// reading live and offers Capture once it is stable; a calibration page, where the sender
/// streams nothing, offers it once the set pressure has had time to settle. Either may be
/// overruled with a confirmation. What a capture does next depends on the pass: one subclass each.
class AbstractCalPage : public QWizardPage
{
    Q_OBJECT

public:
    enum class Panel {
        Reading, ///< live reading, A/D status, stability and the reference calibrator's value
        Settle ///< time since the page became current
    };

    AbstractCalPage(QWidget *parent, int setPointIndex, int setPointPsi, const QString &title,
                    Panel panel);

    void setPageId(int id) { pageId = id; }
    int id() const { return pageId; }
    QString statusText() const;
    QPushButton *captureButton() const { return m_captureButton; }
    /// "Capture anyway" on a reading page, "Capture now" on a calibration page.
    QPushButton *forceButton() const { return m_forceButton; }
    /// The reference calibrator's value as typed; nullptr on a calibration page.
    QDoubleSpinBox *referenceBox() const { return m_reference; }
    /// The technician has typed the reference calibrator's value (always true without the box).
    bool referenceEntered() const;
    const StabilityGate &stability() const { return gate; }
    /// The page has just become current: only readings that arrive from now on may be captured.
    void becameCurrent();
    /// The sender has gone silent: `notice` says so and nothing can be captured until resume().
    void waitForSender(const QString &notice);
    /// The sender answers again: readings start afresh, and a request lost in the silence goes
    /// out again when `sendAgain`, or is forgotten.
    void resume(bool sendAgain);
    /// Shows `notice` in the status line, e.g. why the page was entered again.
    void showNotice(const QString &notice);

public slots:
    /// True once a pressure has been recorded for this page.
    bool isComplete() const override;
    bool validatePage() override;
    virtual void onCaptureButtonClicked() = 0;
    /// Captures before the reading is stable, or before the settle time is up, once confirmed.
    void onForceButtonClicked();
    /// Keeps the latest good reading while this page is current; a reading with an A/D fault
    /// is shown as the fault and leaves nothing to capture.
    virtual void onPressureMsgRdy(int pressure, const VX4Message &msg);
    virtual void onResponseRdy(const VX4Message &msg) = 0;

protected:
    /// True while this page is the wizard's current page.
    bool isCurrent() const;
    /// Records the latest reading as this page's pressure, with the reference value and whether
    /// it was stable; false, with a notice in the status line, when no reading has arrived or the
    /// technician declines a reading far from the set point.
    bool recordReading();
    /// Sends the request whose answer moves this page on (none on a page that asks nothing).
    virtual void sendRequest() { }

    int pageId = -1;
    int pendingAnswers = 0; ///< requests this page sent (sendRequest) and waits for the answer to
    int setPointIndex;
    int setPointPsi;
    QLabel *statusLabel;

private:
    /// The request whose answer the page waited for when the sender went silent: sent again when
    /// `sendAgain`, else no longer waited for.
    void lostRequest(bool sendAgain);
    void updateCaptureButtons();
    void onSettleTick();

    Panel panel;
    QPushButton *m_captureButton;
    QPushButton *m_forceButton;
    QDoubleSpinBox *m_reference = nullptr;
    QLabel *readingLabel = nullptr;
    QLabel *adStatusLabel = nullptr;
    QLabel *stateLabel; ///< "Stable", or the settle time
    QTimer *settleTimer = nullptr;
    QElapsedTimer clock; ///< since the page became current; stamps the readings
    qint64 settleMs = 0;
    StabilityGate gate;
    int lastPressure = 0;
    bool haveReading = false; ///< a good reading arrived since the page last became current
    bool forced = false; ///< the capture under way was confirmed before it was stable
    bool waiting = false; ///< the sender is silent: nothing can be captured
    QString faultNotice; ///< what the last reading's A/D fault was, while no good one followed
};
