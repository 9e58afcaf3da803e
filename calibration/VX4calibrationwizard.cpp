#include "VX4calibrationwizard.h"

#include "VX4interface.h"
#include "asfoundpage.h"
#include "calibrationpage.h"
#include "calibrationresources.h"
#include "calibrationshared.h"
#include "calsumpage.h"
#include "historyservice.h"
#include "intropage.h"
#include "settingskeys.h"
#include "verificationpage.h"
#include "vx4log.h"

#include <QMessageBox>
#include <QSettings>

#include <iterator>

#define LOG VX4_LOG("VX4calibrationwizard")

QPointer<VX4Interface> gPressureSender;
QMap<int, qint16> gCapturedPressures;
QMap<int, double> gReferencePressures;
QMap<int, Capture> gCaptureKinds;
QMap<int, Uncertainty::Repeatability> gReadingSpread;
QDateTime gCalibrationDateTime;
std::array<double, CalPages::SetPointCount> gVerificationVoltages {};

namespace {
// The page that was current before; kept from one wizard to the next.
int previousPageId = -1;

/// What a page does, and so the mode the sender must be in while it shows.
enum class PageKind {
    Intro, ///< who calibrates with which reference instrument
    AsFound, ///< pressure sending: reading under the old calibration
    Calibration, ///< calibration mode: the sender captures the set point itself
    Verification, ///< pressure sending: reading under the new calibration
    Summary, ///< the certificate
};

struct PageEntry
{
    int id;
    PageKind kind;
    int setPoint; ///< index into CalPages::SetPointsPsi; -1 for pages without one
    const char *title; ///< "%1" is the set point's number, from 1
};

/// Every page of the wizard, in order.
constexpr PageEntry Pages[] = {
    { CalPages::Intro, PageKind::Intro, -1, nullptr },
    { 1, PageKind::AsFound, 0, QT_TRANSLATE_NOOP("CalibrationWizard", "As Found Page %1") },
    { 2, PageKind::AsFound, 1, QT_TRANSLATE_NOOP("CalibrationWizard", "As Found Page %1") },
    { 3, PageKind::AsFound, 2, QT_TRANSLATE_NOOP("CalibrationWizard", "As Found Page %1") },
    { 4, PageKind::AsFound, 3, QT_TRANSLATE_NOOP("CalibrationWizard", "As Found Page %1") },
    { 5, PageKind::AsFound, 4, QT_TRANSLATE_NOOP("CalibrationWizard", "As Found Page %1") },
    { 6, PageKind::Calibration, 0, QT_TRANSLATE_NOOP("CalibrationWizard", "Calibration Page %1") },
    { 7, PageKind::Calibration, 1, QT_TRANSLATE_NOOP("CalibrationWizard", "Calibration Page %1") },
    { 8, PageKind::Calibration, 2, QT_TRANSLATE_NOOP("CalibrationWizard", "Calibration Page %1") },
    { 9, PageKind::Calibration, 3, QT_TRANSLATE_NOOP("CalibrationWizard", "Calibration Page %1") },
    { 10, PageKind::Calibration, 4, QT_TRANSLATE_NOOP("CalibrationWizard", "Calibration Page %1") },
    { 11, PageKind::Verification, 0,
      QT_TRANSLATE_NOOP("CalibrationWizard", "Verification Page %1") },
    { 12, PageKind::Verification, 1,
      QT_TRANSLATE_NOOP("CalibrationWizard", "Verification Page %1") },
    { 13, PageKind::Verification, 2,
      QT_TRANSLATE_NOOP("CalibrationWizard", "Verification Page %1") },
    { 14, PageKind::Verification, 3,
      QT_TRANSLATE_NOOP("CalibrationWizard", "Verification Page %1") },
    { 15, PageKind::Verification, 4,
      QT_TRANSLATE_NOOP("CalibrationWizard", "Verification Page %1") },
    { CalPages::Summary, PageKind::Summary, -1, nullptr },
};

// The page ids the rest of the wizard and its pages name must be the table's.
constexpr bool tableMatches()
{
    for (int i = 0; i < int(std::size(Pages)); ++i) {
        if (Pages[i].id != i)
            return false;
    }
    return Pages[CalPages::FirstAsFound].kind == PageKind::AsFound
        && Pages[CalPages::LastAsFound].kind == PageKind::AsFound
        && Pages[CalPages::FirstCalibration].kind == PageKind::Calibration
        && Pages[CalPages::LastCalibration].kind == PageKind::Calibration
        && Pages[CalPages::FirstVerification].kind == PageKind::Verification
        && Pages[CalPages::LastVerification].kind == PageKind::Verification
        && Pages[CalPages::Summary].kind == PageKind::Summary;
}
static_assert(tableMatches(), "page table out of step with CalPages");

/// The capture page `entry` describes, knowing its own id.
AbstractCalPage *makeCapturePage(QWidget *wizard, const PageEntry &entry)
{
    const int psi = CalPages::SetPointsPsi[entry.setPoint];
    const QString title = CalibrationWizard::tr(entry.title).arg(entry.setPoint + 1);
    AbstractCalPage *page = nullptr;
    if (entry.kind == PageKind::AsFound)
        page = new AsFoundPage(wizard, entry.setPoint, psi, title);
    else if (entry.kind == PageKind::Calibration)
        page = new CalibrationPage(wizard, entry.setPoint, psi, title);
    else
        page = new VerificationPage(wizard, entry.setPoint, psi, title);
    page->setPageId(entry.id);
    page->setObjectName(QStringLiteral("capturePage%1").arg(entry.id));
    return page;
}

/// The kind of page `id`; Intro for ids outside the table, which need no mode.
PageKind kindOf(int id)
{
    return id >= 0 && id < int(std::size(Pages)) ? Pages[id].kind : PageKind::Intro;
}
} // namespace

QVariant calibrationSetting(const char *key, const QVariant &fallback)
{
    QSettings settings(SettingsStore::Organisation, SettingsStore::Application);
    settings.beginGroup(SettingsStore::CalSetupGroup::Name);
    return settings.value(QLatin1String(key), fallback);
}

void updateCalibrationInfo()
{
    if (!gPressureSender)
        return;
    const QDate date = gCalibrationDateTime.date();
    const QTime time = gCalibrationDateTime.time();
    gPressureSender->saveCalDateTime(quint16(date.year()), quint8(date.month()), quint8(date.day()),
                                     quint8(time.hour()), quint8(time.minute()));
    gPressureSender->requestCalDateTime();
    LOG << "Updating calibration information.";
}

CalibrationWizard::CalibrationWizard(QWidget *parent, VX4Interface *sender)
    : QWizard(parent)
{
    registerCalibrationImages();
    gCapturedPressures.clear();
    gReferencePressures.clear();
    gCaptureKinds.clear();
    gReadingSpread.clear();
    gPressureSender = sender;
    started = QDateTime::currentDateTime();
    expectedSerial = sender ? sender->serialNumber() : 0;
    if (!sender) {
        LOG << "Pressure sender invalid!";
        return;
    }

    m_history = new HistoryService(HistoryLocation::fromSettings(), this);
    for (const PageEntry &entry : Pages) {
        QWizardPage *page = nullptr;
        if (entry.kind == PageKind::Intro)
            page = m_introPage = new IntroPage(this);
        else if (entry.kind == PageKind::Summary)
            page = calSumPage = new CalSumPage(this, m_history);
        else
            page = makeCapturePage(this, entry);
        setPage(entry.id, page);
    }
    setStartId(CalPages::Intro);
    setObjectName(QStringLiteral("calibrationWizard"));

    setWindowTitle(tr("Calibration Wizard"));
    connect(this, &QWizard::currentIdChanged, this, &CalibrationWizard::onCurrentIdChanged);
    storeTimer.setSingleShot(true);
    storeTimer.setInterval(StoreWaitMs);
    connect(&storeTimer, &QTimer::timeout, this, &CalibrationWizard::onStoreTimedOut);
    silenceTimer.setSingleShot(true);
    silenceTimer.setInterval(int(
        1000
        * calibrationSetting(SettingsStore::CalSetupGroup::SilenceSeconds, DefaultSilenceSeconds)
              .toDouble()));
    connect(&silenceTimer, &QTimer::timeout, this, &CalibrationWizard::onSilenceTimeout);
    readPolicy();
}

bool CalibrationWizard::checkSender(QWidget *mainWindow, VX4Interface *sender)
{
    if (!sender) {
        QMessageBox box;
        box.setText(tr("Pressure Sender is invalid.  Please check the pressure sender's connection "
                       "and then close and re-open the communication port."));
        box.exec();
        return false;
    }
    if (!sender->isConnected()) {
        QMessageBox box(mainWindow);
        box.setText(tr("Pressure Sender is not connected.  Please check the  pressure sender's "
                       "connection and then close and re-open the communication port."));
        box.exec();
        return false;
    }
    return true;
}

void CalibrationWizard::showSenderLostMessage()
{
    QMessageBox box;
    box.setText(tr("Calibration wizard aborted.  A timeout occurredwhile waiting for the pressure "
                   "sender to respond."));
    box.exec();
}

void CalibrationWizard::attachSender(VX4Interface *sender)
{
    if (!sender)
        return;
    connect(sender, &VX4Interface::vx4DisconnectedSignal, this,
            &CalibrationWizard::onVX4DisconnectedSignal, Qt::UniqueConnection);
    connect(sender, &VX4Interface::vx4ConnectedSignal, this,
            &CalibrationWizard::onVX4ConnectedSignal, Qt::UniqueConnection);
    connect(sender, &VX4Interface::vx4ResponseRdy, this, &CalibrationWizard::onVX4ResponseRdy,
            Qt::UniqueConnection);
}

void CalibrationWizard::detachSender(VX4Interface *sender)
{
    if (!sender)
        return;
    disconnect(sender, &VX4Interface::vx4DisconnectedSignal, this,
               &CalibrationWizard::onVX4DisconnectedSignal);
    disconnect(sender, &VX4Interface::vx4ConnectedSignal, this,
               &CalibrationWizard::onVX4ConnectedSignal);
    disconnect(sender, &VX4Interface::vx4ResponseRdy, this, &CalibrationWizard::onVX4ResponseRdy);
}

AbstractCalPage *CalibrationWizard::capturePage(int id) const
{
    return qobject_cast<AbstractCalPage *>(page(id));
}

void CalibrationWizard::fitLargestPage()
{
    // QWizard sizes itself for the page it shows, so the window jumped when a larger page came;
    // sized for the largest from the start, it keeps one size.
    if (fitted || !currentPage())
        return;
    fitted = true;
    QSize largest;
    for (int id : pageIds())
        largest = largest.expandedTo(page(id)->sizeHint());
    const QSize size = sizeHint() - currentPage()->sizeHint() + largest;
    setMinimumSize(size);
    resize(size);
}

void CalibrationWizard::onCurrentIdChanged(int id)
{
    fitLargestPage();
    AbstractCalPage *current = capturePage(id);
    if (!gPressureSender)
        return;

    // The new page is connected before the old one lets go.
    if (current) {
        connect(gPressureSender, &VX4Interface::vx4PressureMsgRdy, current,
                &AbstractCalPage::onPressureMsgRdy, Qt::UniqueConnection);
        connect(gPressureSender, &VX4Interface::vx4ResponseRdy, current,
                &AbstractCalPage::onResponseRdy, Qt::UniqueConnection);
        current->becameCurrent();
    }
    if (previousPageId != -1) {
        AbstractCalPage *previous = capturePage(previousPageId);
        if (previous && previous != current) {
            disconnect(gPressureSender, &VX4Interface::vx4PressureMsgRdy, previous,
                       &AbstractCalPage::onPressureMsgRdy);
            disconnect(gPressureSender, &VX4Interface::vx4ResponseRdy, previous,
                       &AbstractCalPage::onResponseRdy);
        }
    }

    const PageKind kind = kindOf(id);
    const PageKind previousKind = kindOf(previousPageId);
    if (kind == PageKind::Calibration
        && (previousKind == PageKind::Verification || previousKind == PageKind::Summary)) {
        // Back into the calibration pass: the readings were taken under the calibration that is
        // about to be replaced.
        for (int page = CalPages::FirstVerification; page <= CalPages::LastVerification; ++page)
            gCapturedPressures.remove(page);
        LOG << "Verification readings discarded: the calibration is being repeated.";
    }

    // Leaving the calibration pass forward sent SAVE CAL DATA; entering it again takes it back.
    if (kind == PageKind::Calibration)
        saveSent = false;
    else if (kind == PageKind::Verification && previousKind == PageKind::Calibration)
        saveSent = true;
    applyMode(id);
    previousPageId = id;
}

void CalibrationWizard::applyMode(int id)
{
    const PageKind kind = kindOf(id);
    // A switch still unanswered counts: the sender will be in the mode asked for last.
    const VX4Mode mode = requestedMode != UnknownMode ? requestedMode : gPressureSender->mode();
    if (kind == PageKind::AsFound || kind == PageKind::Verification) {
        if (mode != PressureSendingMode) {
            LOG << "Switching to pressure sending mode.";
            requestedMode = PressureSendingMode;
            gPressureSender->switchMode(PressureSendingMode);
            gPressureSender->pollForConnectionChange(true);
        }
    } else if (kind == PageKind::Calibration) {
        if (mode != CalibrationMode) {
            LOG << "Switching to calibration mode.";
            requestedMode = CalibrationMode;
            gPressureSender->switchMode(CalibrationMode);
            gPressureSender->pollForConnectionChange(false);
        }
    }
}

void CalibrationWizard::closeOpenDialogs()
{
    // Innermost first: a box over the print dialog goes before the dialog.
    const QList<QDialog *> dialogs = findChildren<QDialog *>();
    for (auto it = dialogs.crbegin(); it != dialogs.crend(); ++it) {
        if ((*it)->isVisible())
            (*it)->reject();
    }
}
