#include "readingdisplay.h"

#include "adstatus.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

ReadingDisplay::ReadingDisplay(QWidget *parent)
    : QLCDNumber(4, parent)
    , expiry(new QTimer(this))
{
    setSegmentStyle(QLCDNumber::Flat);
    expiry->setSingleShot(true);
    connect(expiry, &QTimer::timeout, this, [this] { expire(); });
    present();
}

qint64 ReadingDisplay::clockMs()
{
    static const QElapsedTimer clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return clock.elapsed();
}

void ReadingDisplay::showFrame(int psi, quint8 adStatus, qint64 atMs)
{
    if (adStatus != VX4AdStatus::Ok)
        return showNoReading();
    shown = psi;
    shownAtMs = atMs;
    expiry->start(LivenessLimitMs);
    present();
}

void ReadingDisplay::showNoReading()
{
    expiry->stop();
    shown.reset();
    present();
}

void ReadingDisplay::expire(qint64 nowMs)
{
    if (!shown)
        return;
    const qint64 left = LivenessLimitMs - (nowMs - shownAtMs);
    // A timer may fire a little early: it waits for the rest.
    if (left > 0)
        return expiry->start(int(left));
    showNoReading();
}

void ReadingDisplay::present()
{
    const auto tr
        = [](const char *text) { return QCoreApplication::translate("MainWindow", text); };
    if (!shown) {
        display(QLatin1String(NoReading));
        setAccessibleName(tr("Pressure: no live reading"));
        return;
    }
    // Four digits cannot hold it: "OL", as a meter shows an overload, not the digits of another.
    if (checkOverflow(*shown))
        display(QLatin1String(*shown < 0 ? "-OL" : "OL"));
    else
        display(*shown);
    setAccessibleName(tr("Pressure: %1 PSI").arg(*shown));
}
