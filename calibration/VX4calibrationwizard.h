#pragma once

#include "VX4message.h"
#include "calibrationrecord.h"

#include <QDateTime>
#include <QPointer>
#include <QTimer>
#include <QWizard>

class AbstractCalPage;
class CalSumPage;
class HistoryService;
class IntroPage;
class QMessageBox;
class VX4Interface;

/// The modal calibration run for one sender: intro, as-found, calibration and verification
/// passes at five set points, and the certificate. Routes the engine's signals to the current
/// capture page and keeps the sender in the mode each pass needs.
class CalibrationWizard : public QWizard
{
    Q_OBJECT

public:
    static constexpr int Cancelled = -1; ///< exec() result: the user cancelled or closed it
    static constexpr int SenderLost = -2; ///< exec() result: the sender stopped answering
    /// How long the wizard waits, showing "storing...", for the history to take the run before
    /// it keeps the run in the pending file itself.
    static constexpr int StoreWaitMs = 10000;
    /// How long the wizard waits for a sender that went silent before it offers Retry or Abort,
    /// unless the settings say otherwise.
    static constexpr double DefaultSilenceSeconds = 5;

    CalibrationWizard(QWidget *parent, VX4Interface *sender);

    /// The box a technician sees when `sender` cannot be calibrated; true when it can.
    static bool checkSender(QWidget *mainWindow, VX4Interface *sender);
    /// The box shown after a wizard ended with SenderLost.
    static void showSenderLostMessage();
    /// Connects the sender's loss, return and answer signals to this wizard while it runs.
    void attachSender(VX4Interface *sender);
    void detachSender(VX4Interface *sender);

    /// The capture page of `id` (1 to 15), or nullptr.
    AbstractCalPage *capturePage(int id) const;
    CalSumPage *summaryPage() const { return calSumPage; }
    IntroPage *introPage() const { return m_introPage; }
    /// The history the wizard reads its policy and numbers from and stores its run in.
    HistoryService *history() const { return m_history; }
    /// The run is being stored: the wizard closes when the history has taken it.
    bool isEnding() const { return ending; }
    /// The sender acknowledged SAVE CAL DATA during this run.
    bool calibrationSaved() const { return saveAcknowledged; }
    /// Runs the wizard, then tells how it ended (tellOutcome).
    int exec() override;
    /// After the wizard has closed: one box saying where Finish wrote the certificate and the
    /// voltages, with a button that opens the certificate's folder, and whether the run could not
    /// be stored. Nothing for a run that did not finish and was stored.
    void tellOutcome();

public slots:
    void onCurrentIdChanged(int id);
    /// The sender went silent: the run waits for it (the port lost ends the run at once).
    void onVX4DisconnectedSignal();
    /// The sender answers again: the run goes on if it is the same sender, still in the mode the
    /// page needs; otherwise it starts the pass again, saying why.
    void onVX4ConnectedSignal();
    void onVX4ResponseRdy(const VX4Message &msg);
    void reject() override;
    /// Only Finish validates the page it leaves; Cancel, close and loss write nothing.
    void done(int result) override;

protected:
    /// Escape past the intro asks before the run is discarded.
    void keyPressEvent(QKeyEvent *event) override;

private:
    /// Asks the sender for the mode page `id` needs, unless it is in it or was asked already.
    void applyMode(int id);
    /// Says on the wizard and the current page that it waits for the sender, or no longer.
    void showWaiting(bool waiting);
    /// The sender has been silent for the silence limit: Retry waits again, Abort ends the run.
    void onSilenceTimeout();
    void resumeAfterSilence();
    /// Goes back to page `id` of this run, discarding what was captured from there on.
    void restartFrom(int id, const QString &reason);
    /// Closes every dialog and box a page opened, so none outlives the sender.
    void closeOpenDialogs();
    /// Starts storing the run as it ended with `result` on `page`, once, showing "storing...";
    /// false when there is nothing to store.
    bool storeRun(int result, int page);
    void onStored(const QString &number, const QString &problem, bool pending);
    /// The history did not answer in time: the run waits in the pending file.
    void onStoreTimedOut();
    /// Reads the lab's policy for the intro page.
    void readPolicy();
    /// Sizes the window, once, for the largest page.
    void fitLargestPage();

    CalSumPage *calSumPage = nullptr;
    IntroPage *m_introPage = nullptr;
    HistoryService *m_history = nullptr;
    QTimer storeTimer;
    CalibrationRecord endRecord; ///< the run as it is being stored
    int endResult = 0;
    bool ending = false;
    bool saveAcknowledged = false;
    /// The mode this wizard last asked the sender for; unknown before its first switch.
    VX4Mode requestedMode = UnknownMode;
    QDateTime started;
    bool stored = false;
    bool fitted = false;
    quint16 expectedSerial = 0; ///< the serial number of the sender this run calibrates
    QTimer silenceTimer;
    QDateTime silentSince; ///< when the sender went silent; null while it answers
    QPointer<QMessageBox> silenceBox; ///< Retry or Abort, while it is open
    bool saveSent = false; ///< SAVE CAL DATA went out when the calibration pass was left
    QString storeProblem; ///< why the run could not be stored, for the box after the wizard
};
