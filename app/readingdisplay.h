#pragma once

#include <QLCDNumber>

#include <optional>

class QTimer;

/// The live pressure in PSI on a seven-segment display. It shows a number only while a good
/// reading newer than LivenessLimitMs is at hand, and dashes otherwise: a silent sender, one in
/// its bootloader or calibration mode, an A/D fault or a closed port never leave a number behind.
class ReadingDisplay : public QLCDNumber
{
    Q_OBJECT

public:
    static constexpr int LivenessLimitMs = 1000; ///< a reading this old is no longer shown
    static constexpr char NoReading[] = "----"; ///< what the display shows without a number

    explicit ReadingDisplay(QWidget *parent = nullptr);

    /// A pressure frame: `psi` with its A/D status byte, received at `atMs` (clockMs()).
    void showFrame(int psi, quint8 adStatus, qint64 atMs = clockMs());
    /// No reading can be live now: the sender is gone, restarting, or streams nothing.
    void showNoReading();
    /// Takes the reading off once it is LivenessLimitMs old at `nowMs`; the display's own timer
    /// calls it.
    void expire(qint64 nowMs = clockMs());
    /// The whole PSI the display stands for; empty while it shows no number.
    std::optional<int> reading() const { return shown; }

    /// A monotonic clock in milliseconds, the one frames are stamped with.
    static qint64 clockMs();

private:
    void present();

    std::optional<int> shown;
    qint64 shownAtMs = 0;
    QTimer *expiry = nullptr;
};
