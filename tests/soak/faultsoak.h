#pragma once

#include <QStringList>

/// What a fault soak did and every invariant it saw broken, each with its time.
struct SoakReport
{
    int faults = 0;
    int downloads = 0;
    int successes = 0;
    qint64 memoryKb[2] = { 0, 0 }; ///< resident after the first cycle and at the end
    QStringList violations;

    QString text() const;
};

/// Runs the engine against the simulated sender for `seconds` while dropped
/// answers, corrupted CRCs, garbage, noise pairs, silences, late answers, rows
/// stored wrong and applications that restart late after APP CHANGE hit the line
/// during firmware downloads, calibration exchanges and idle polling. After
/// every cycle the engine must be heard and connected again, and no download
/// may report success, or leave the valid flag, over memory other than the old
/// memory merged with its image.
SoakReport runFaultSoak(quint32 seed, int seconds);
