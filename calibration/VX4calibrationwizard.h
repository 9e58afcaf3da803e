#pragma once

#include "VX4message.h"

#include <QDateTime>
#include <QWizard>

class AbstractCalPage;
class CalSumPage;
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

    CalibrationWizard(QWidget *parent, VX4Interface *sender);

    /// The box a technician sees when `sender` cannot be calibrated; true when it can.
    static bool checkSender(QWidget *mainWindow, VX4Interface *sender);
    /// The box shown after a wizard ended with SenderLost.
    static void showSenderLostMessage();
    /// Connects the sender's loss and answer signals to this wizard while it runs.
    void attachSender(VX4Interface *sender);
    void detachSender(VX4Interface *sender);

    /// The capture page of `id` (1 to 15), or nullptr.
    AbstractCalPage *capturePage(int id) const;
    CalSumPage *summaryPage() const { return calSumPage; }
    /// Runs the wizard; then tells the technician, in one box, if the run could not be stored.
    int exec() override;

public slots:
    void onCurrentIdChanged(int id);
    void onVX4DisconnectedSignal();
    void onVX4ResponseRdy(const VX4Message &msg);
    void reject() override;
    /// Only Finish validates the page it leaves; Cancel, close and loss write nothing.
    void done(int result) override;

private:
    /// Closes every dialog and box a page opened, so none outlives the sender.
    void closeOpenDialogs();
    /// Stores the run as it ended with `result` on `page` in the calibration history, once.
    void storeRun(int result, int page);

    CalSumPage *calSumPage = nullptr;
    /// The mode this wizard last asked the sender for; unknown before its first switch.
    VX4Mode requestedMode = UnknownMode;
    QDateTime started;
    bool stored = false;
    QString storeProblem; ///< why the run could not be stored, for the box after the wizard
};
