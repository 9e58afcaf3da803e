#include "abstractcalpage.h"

#include "adstatus.h"
#include "calibrationshared.h"
#include "resourcepaths.h"
#include "vx4log.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWizard>

#define LOG VX4_LOG("VX4calibrationwizard")

AbstractCalPage::AbstractCalPage(QWidget *parent, int setPointIndex, int setPointPsi,
                                 const QString &title)
    : QWizardPage(parent)
    , setPointIndex(setPointIndex)
    , setPointPsi(setPointPsi)
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
    m_captureButton = new QPushButton(tr("&Capture"), this);
    m_captureButton->setDefault(true);
    connect(m_captureButton, &QPushButton::clicked, this, &AbstractCalPage::onCaptureButtonClicked);

    auto *statusRow = new QHBoxLayout;
    statusRow->addStretch();
    statusRow->addWidget(statusLabel);
    auto *buttonRow = new QHBoxLayout;
    buttonRow->addStretch();
    buttonRow->addWidget(m_captureButton);

    auto *layout = new QVBoxLayout;
    layout->addWidget(instructions);
    layout->addStretch(1);
    layout->addLayout(statusRow);
    layout->addLayout(buttonRow);
    setLayout(layout);
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
    haveReading = false;
    faultNotice.clear();
    statusLabel->clear();
}

void AbstractCalPage::onPressureMsgRdy(int pressure, const VX4Message &msg)
{
    if (!isCurrent())
        return;
    LOG << "onPressureMsgRdy() called";
    const quint8 status
        = msg.payload.isEmpty() ? quint8(VX4AdStatus::Timeout) : quint8(msg.payload.at(0));
    if (status != VX4AdStatus::Ok) {
        // A faulty conversion is no reading: the next capture waits for a good one.
        haveReading = false;
        const char *fault = VX4AdStatus::displayText(status);
        const QString text = fault ? QCoreApplication::translate("MainWindow", fault)
                                   : tr("A/D status %1").arg(status);
        faultNotice = tr("The sender reports \"%1\"; waiting for a good reading...").arg(text);
        statusLabel->setText(faultNotice);
        return;
    }
    lastPressure = pressure;
    if (!haveReading) {
        haveReading = true;
        faultNotice.clear();
        // The waiting notice, if any, has been answered.
        statusLabel->clear();
    }
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
    gCapturedPressures.insert(pageId, qint16(lastPressure));
    LOG << "Recorded " << gCapturedPressures.value(pageId) << "PSI";
    return true;
}
