#include "abstractcalpage.h"

#include "adstatus.h"
#include "calibrationshared.h"
#include "resourcepaths.h"
#include "settingskeys.h"
#include "vx4log.h"

#include <QCoreApplication>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <QWizard>

#include <cmath>

#define LOG VX4_LOG("VX4calibrationwizard")

namespace {
namespace Keys = SettingsStore::CalSetupGroup;
constexpr int SettleTickMs = 250; ///< how often the settle time shown is brought up to date
constexpr int ReadingPointSize = 28; ///< the live reading, readable from the test bench
constexpr double ReferenceLimitPsi = 4000; ///< bound of the reference value typed, +/- PSI
constexpr double ReferenceStepPsi = 0.1; ///< the reference box's resolution
/// A reading this far from the set point is most likely of another pressure than the page's:
/// 10 % of the 3000 PSI span, far beyond any sender's error.
constexpr int FarFromSetPointPsi = 300;
} // namespace

AbstractCalPage::AbstractCalPage(QWidget *parent, int setPointIndex, int setPointPsi,
                                 const QString &title, Panel panel)
    : QWizardPage(parent)
    , setPointIndex(setPointIndex)
    , setPointPsi(setPointPsi)
    , panel(panel)
    , gate(calibrationSetting(Keys::StableWindowMs, int(StabilityGate::DefaultWindowMs)).toInt())
{
    const QPixmap logo(QString::fromLatin1(ResourcePaths::Watermark));
    setPixmap(QWizard::WatermarkPixmap, logo);
    setPixmap(QWizard::BackgroundPixmap, logo);
    setTitle(title);

    auto *instructions = new QLabel(
        tr("<h2>1. Set pressure to %1 PSI<br>2. Press the Capture button to measure and<br>record "
           "the pressure.  You may press capture<br>as many times as needed; the last "
           "capture<br>will be used.</h2>")
            .arg(setPointPsi),
        this);
    statusLabel = new QLabel(this);
    statusLabel->setWordWrap(true);
    statusLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    stateLabel = new QLabel(this);
    stateLabel->setWordWrap(true);
    stateLabel->setObjectName(QStringLiteral("stateLabel"));
    m_captureButton = new QPushButton(tr("&Capture"), this);
    m_captureButton->setObjectName(QStringLiteral("captureButton"));
    m_captureButton->setDefault(true);
    m_forceButton = new QPushButton(
        panel == Panel::Reading ? tr("Capture &anyway...") : tr("Capture &early..."), this);
    m_forceButton->setObjectName(QStringLiteral("forceButton"));
    connect(m_captureButton, &QPushButton::clicked, this, &AbstractCalPage::onCaptureButtonClicked);
    connect(m_forceButton, &QPushButton::clicked, this, &AbstractCalPage::onForceButtonClicked);

    auto *form = new QFormLayout;
    if (panel == Panel::Reading) {
        readingLabel = new QLabel(this);
        readingLabel->setObjectName(QStringLiteral("readingLabel"));
        QFont big = readingLabel->font();
        big.setPointSize(ReadingPointSize);
        big.setBold(true);
        readingLabel->setFont(big);
        adStatusLabel = new QLabel(this);
        adStatusLabel->setObjectName(QStringLiteral("adStatusLabel"));
        m_reference = new QDoubleSpinBox(this);
        m_reference->setObjectName(QStringLiteral("referenceBox"));
        // One step below the range means "not entered": the box shows nothing until the
        // technician types what the reference calibrator reads.
        m_reference->setRange(-ReferenceLimitPsi - ReferenceStepPsi, ReferenceLimitPsi);
        m_reference->setDecimals(1);
        m_reference->setSuffix(QStringLiteral(" PSI"));
        m_reference->setSpecialValueText(QStringLiteral(" "));
        m_reference->setValue(m_reference->minimum());
        connect(m_reference, &QDoubleSpinBox::valueChanged, this,
                &AbstractCalPage::updateCaptureButtons);
        form->addRow(tr("Reading:"), readingLabel);
        form->addRow(tr("A/D status:"), adStatusLabel);
        form->addRow(tr("Stability:"), stateLabel);
        form->addRow(tr("&Reference calibrator reads:"), m_reference);
    } else {
        settleMs = qint64(
            1000
            * calibrationSetting(Keys::SettleSeconds, CalPages::DefaultSettleSeconds).toDouble());
        settleTimer = new QTimer(this);
        settleTimer->setInterval(SettleTickMs);
        connect(settleTimer, &QTimer::timeout, this, &AbstractCalPage::onSettleTick);
        form->addRow(tr("Time at this pressure:"), stateLabel);
    }

    auto *statusRow = new QHBoxLayout;
    statusRow->addStretch();
    statusRow->addWidget(statusLabel);
    auto *buttonRow = new QHBoxLayout;
    buttonRow->addStretch();
    buttonRow->addWidget(m_forceButton);
    buttonRow->addWidget(m_captureButton);

    auto *layout = new QVBoxLayout;
    layout->addWidget(instructions);
    layout->addLayout(form);
    layout->addStretch(1);
    layout->addLayout(statusRow);
    layout->addLayout(buttonRow);
    setLayout(layout);
    updateCaptureButtons();
}

bool AbstractCalPage::referenceEntered() const
{
    return !m_reference || m_reference->value() > m_reference->minimum();
}

QString AbstractCalPage::statusText() const
{
    return statusLabel->text();
}

bool AbstractCalPage::isCurrent() const
{
    const QWizard *w = wizard();
    return w && w->currentId() != -1 && w->currentId() == pageId;
}

bool AbstractCalPage::isComplete() const
{
    const bool complete = gCapturedPressures.contains(pageId);
    LOG << ":isComplete() called for" << title();
    LOG << "isComplete = " << (complete ? "true" : "false");
    return complete;
}

bool AbstractCalPage::validatePage()
{
    LOG << "validatePage() called";
    return true;
}

void AbstractCalPage::becameCurrent()
{
    waiting = false;
    haveReading = false;
    faultNotice.clear();
    gate.clear();
    statusLabel->clear();
    if (readingLabel) {
        readingLabel->clear();
        adStatusLabel->clear();
    }
    clock.start();
    if (settleTimer)
        settleTimer->start();
    onSettleTick();
}

void AbstractCalPage::waitForSender(const QString &notice)
{
    waiting = true;
    statusLabel->setText(notice);
    updateCaptureButtons();
}

void AbstractCalPage::resume(bool sendAgain)
{
    // Readings from before the silence may no longer hold.
    becameCurrent();
    lostRequest(sendAgain);
}

void AbstractCalPage::lostRequest(bool sendAgain)
{
    // The sender kept its mode through the silence, so the answers it gave still count; the
    // request it did not answer is sent again.
    if (!sendAgain)
        pendingAnswers = 0;
    if (pendingAnswers == 0 || !gPressureSender)
        return;
    LOG << title() << "request sent again after the silence";
    sendRequest();
}

void AbstractCalPage::showNotice(const QString &notice)
{
    statusLabel->setText(notice);
}

void AbstractCalPage::onSettleTick()
{
    if (!settleTimer)
        return updateCaptureButtons();
    if (!isCurrent())
        settleTimer->stop();
    const qint64 elapsed = clock.isValid() ? clock.elapsed() : 0;
    stateLabel->setText(elapsed < settleMs ? tr("%1 s (Capture after %2 s)")
                                                 .arg(elapsed / 1000)
                                                 .arg(std::ceil(double(settleMs) / 1000))
                                           : tr("%1 s, settled").arg(elapsed / 1000));
    updateCaptureButtons();
}

void AbstractCalPage::updateCaptureButtons()
{
    bool ready = false;
    bool possible = true;
    if (panel == Panel::Reading) {
        ready = haveReading && gate.stable();
        possible = referenceEntered();
        QString state = !haveReading ? QString() : ready ? tr("Stable") : tr("Not stable yet");
        if (!possible)
            state += tr(" (enter what the reference calibrator reads to capture)");
        stateLabel->setText(state.trimmed());
    } else {
        ready = clock.isValid() && clock.elapsed() >= settleMs;
    }
    possible = possible && !waiting;
    m_captureButton->setEnabled(ready && possible);
    m_forceButton->setEnabled(!ready && possible);
}

void AbstractCalPage::onForceButtonClicked()
{
    // Without a reading there is nothing to overrule: the capture explains what is missing.
    if (panel == Panel::Settle || haveReading) {
        const QString question = panel == Panel::Reading
            ? tr("The reading has not been stable within 1 PSI for the last %1 s. Capture it "
                 "anyway? The point is marked unstable on the certificate.")
                  .arg(double(gate.window()) / 1000)
            : tr("The pressure has not had %1 s to settle. Capture it now?")
                  .arg(double(settleMs) / 1000);
        const auto answer = QMessageBox::question(
            this, tr("Calibration"), question, QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
        if (answer != QMessageBox::Yes || !isCurrent())
            return;
        LOG << title() << "captured before it was stable, on the technician's word";
    }
    forced = true;
    onCaptureButtonClicked();
    forced = false;
}

void AbstractCalPage::onPressureMsgRdy(int pressure, const VX4Message &msg)
{
    if (!isCurrent())
        return;
    LOG << "onPressureMsgRdy() called";
    const quint8 status
        = msg.payload.isEmpty() ? quint8(VX4AdStatus::Timeout) : quint8(msg.payload.at(0));
    const char *fault = VX4AdStatus::displayText(status);
    const QString statusText = fault ? QCoreApplication::translate("MainWindow", fault)
                                     : tr("A/D status %1").arg(status);
    if (adStatusLabel)
        adStatusLabel->setText(statusText);
    if (status != VX4AdStatus::Ok) {
        // A faulty conversion is no reading: the next capture waits for a good one.
        haveReading = false;
        gate.clear();
        if (readingLabel)
            readingLabel->setText(tr("---"));
        faultNotice
            = tr("The sender reports \"%1\"; waiting for a good reading...").arg(statusText);
        statusLabel->setText(faultNotice);
        updateCaptureButtons();
        return;
    }
    lastPressure = pressure;
    gate.add(clock.isValid() ? clock.elapsed() : 0, pressure);
    if (readingLabel)
        readingLabel->setText(tr("%1 PSI").arg(pressure));
    if (!haveReading) {
        haveReading = true;
        faultNotice.clear();
        // The waiting notice, if any, has been answered.
        statusLabel->clear();
    }
    updateCaptureButtons();
}

bool AbstractCalPage::recordReading()
{
    LOG << title() << "capture button clicked";
    if (!haveReading) {
        // Without a reading from this page there is nothing true to record.
        LOG << "No pressure reading received yet, capture refused.";
        statusLabel->setText(faultNotice.isEmpty()
                                 ? tr("Waiting for a pressure reading from the sender...")
                                 : faultNotice);
        return false;
    }
    if (!referenceEntered()) {
        statusLabel->setText(tr("Enter what the reference calibrator reads first."));
        return false;
    }
    if (std::abs(lastPressure - setPointPsi) > FarFromSetPointPsi) {
        const auto answer = QMessageBox::question(
            this, tr("Calibration"),
            tr("The sender reads %1 PSI, far from this page's set point of %2 PSI. Is the set "
               "point's pressure applied? Capture %1 PSI anyway?")
                .arg(lastPressure)
                .arg(setPointPsi),
            QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
        if (answer != QMessageBox::Yes || !isCurrent())
            return false;
        LOG << title() << "captured" << lastPressure << "PSI, far from its set point, on the "
            << "technician's word";
    }
    gCapturedPressures.insert(pageId, qint16(lastPressure));
    gReferencePressures.insert(pageId, m_reference ? m_reference->value() : setPointPsi);
    gCaptureKinds.insert(pageId, forced ? Capture::Unstable : Capture::Stable);
    if (const auto spread = Uncertainty::repeatability(gate.readings()))
        gReadingSpread.insert(pageId, *spread);
    else
        gReadingSpread.remove(pageId);
    LOG << "Recorded " << gCapturedPressures.value(pageId) << "PSI against"
        << gReferencePressures.value(pageId) << (forced ? "unstable" : "stable");
    return true;
}
