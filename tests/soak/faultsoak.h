#pragma once

#include "programmemoryrow.h"

#include <QElapsedTimer>
#include <QMap>
#include <QRandomGenerator>
#include <QStringList>

#include <memory>

struct SimLink;

/// Runs the engine against the simulated sender while faults hit the line at a high rate:
/// dropped answers, corrupted CRCs, garbage bursts, silences and late answers, during firmware
/// downloads, calibration exchanges and idle polling. Checks after every cycle that the engine
/// comes back and that no download claims success (or marks the image valid) with a wrong image.
class FaultSoak
{
public:
    struct Summary
    {
        int cycles = 0;
        int faultsInjected = 0;
        int downloadsTried = 0;
        int downloadSuccesses = 0;
        int downloadFailures = 0; ///< reported as failures, with the sender not marked valid
        int calibrationExchanges = 0;
        qint64 slowestRecoveryMs = 0;
        qint64 rssStartKb = 0;
        qint64 rssEndKb = 0;
        QStringList violations;

        QString toText() const;
    };

    FaultSoak(quint32 seed, int seconds);
    ~FaultSoak();

    Summary run();

private:
    void cycle();
    void injectFault();
    void clearFaults();
    void runDownload(qint64 faultsUntilMs);
    void runCalibrationExchange(qint64 faultsUntilMs);
    void idle(qint64 untilMs);
    bool waitForConnected(int timeoutMs);
    void checkRecovery();
    QList<ProgramMemoryRow> randomImage();
    void violation(const QString &what);

    QRandomGenerator rng;
    int seconds;
    QElapsedTimer clock;
    std::unique_ptr<SimLink> link;
    Summary summary;
    qint64 silentUntilMs = 0;
    qint64 nextFaultMs = 0;
    bool faultsOn = false;
    bool heavyFaults = false;
};

/// Resident set size of this process in kB, from /proc.
qint64 residentKb();
