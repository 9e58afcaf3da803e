// A fault soak: the engine against the simulated sender under a high fault rate, checked after
// every cycle for recovery, no false success and no wrong image marked valid. Short in the suite;
// tests/soak/run.sh sets VX4_SOAK_SECONDS and VX4_SOAK_SEED for a long run.
#include "downloadimage.h"
#include "simlink.h"

#include <QRandomGenerator>
#include <QSignalSpy>
#include <QtTest>

#include <functional>

using namespace VX4Protocol;

namespace {
constexpr int RecoveryLimitMs = 6000; ///< the engine is heard and connected this soon after faults
constexpr int ActivityLimitMs = 60000; ///< longest a download may take under faults
constexpr qint64 MemoryGrowthLimitKb = 20 * 1024; ///< growth of the process allowed over a run

qint64 residentKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    const QByteArray text = status.open(QIODevice::ReadOnly) ? status.readAll() : QByteArray();
    return text.mid(text.indexOf("VmRSS:") + 6).simplified().split(' ').first().toLongLong();
}

/// Dropped answers, corrupted CRCs, garbage, noise pairs, silences, late answers (one of them
/// past its time-out), rows stored wrong, bootloaders that start up to 3 s after APP CHANGE, empty
/// application answers and an echoing line hit the line during firmware downloads, calibration
/// exchanges and idle polling. After every cycle the engine must be heard
/// and connected again, and no download may report success, or leave the valid flag, over memory
/// other than the old memory merged with its image.
struct Soak
{
    QRandomGenerator rng;
    QElapsedTimer clock;
    SimLink link;
    int faults = 0, downloads = 0, successes = 0, cycles = 0, calibrations = 0;
    qint64 slowestRecoveryMs = 0;
    QStringList violations;
    qint64 faultsUntilMs = 0, nextFaultMs = 0, silentUntilMs = 0;
    bool heavy = false, faulty = false;

    void violation(const QString &what)
    {
        violations.append(QStringLiteral("%1 ms: %2").arg(clock.elapsed()).arg(what));
    }

    // Runs the event loop for up to `ms` until `done`, with faults until
    // `faultsUntilMs`.
    bool spin(qint64 ms, const std::function<bool()> &done)
    {
        for (const qint64 end = clock.elapsed() + ms; !done() && clock.elapsed() < end;) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            if (clock.elapsed() < faultsUntilMs)
                injectFault();
            else if (faulty)
                clearFaults();
        }
        return done();
    }

    void clearFaults()
    {
        faulty = false;
        silentUntilMs = 0;
        // The simulator's own restart delay, and no fault.
        link.control("silent off;drop 0;delay 0;emptyapp 0;corruptwrites off;restartdelay 30");
    }

    void injectFault()
    {
        faulty = true;
        if (silentUntilMs && clock.elapsed() >= silentUntilMs) {
            link.sender.setSilent(false);
            silentUntilMs = 0;
        }
        // A fault every 20 to 200 ms in heavy cycles, every 0.15 to 0.8 s in light
        // ones.
        if (clock.elapsed() < nextFaultMs)
            return;
        nextFaultMs = clock.elapsed() + (heavy ? rng.bounded(20, 200) : rng.bounded(150, 800));
        ++faults;
        SimulatedSender &sender = link.sender;
        const std::function<void()> kinds[] = {
            [&] { sender.dropNextAnswers(rng.bounded(1, 4)); },
            [&] { sender.corruptNextCrc(); },
            [&] {
                QByteArray garbage(rng.bounded(1, 40), Qt::Uninitialized);
                for (char &byte : garbage)
                    byte = char(rng.bounded(256));
                sender.injectGarbage(garbage);
            },
            [&] {
                if (silentUntilMs)
                    return;
                sender.setSilent(true);
                silentUntilMs = clock.elapsed()
                    + (rng.bounded(4) ? rng.bounded(50, 600) : rng.bounded(600, 4000));
            },
            // A stray marker with a length byte: a real answer may follow inside it.
            [&] { sender.injectNoisePair(quint8(rng.bounded(0, 256))); },
            [&] {
                sender.setCorruptWrites(rng.bounded(4) ? SimulatedSender::CorruptWrites::Once
                                                       : SimulatedSender::CorruptWrites::Always);
            },
            // An application that restarts late after acknowledging APP CHANGE with 00.
            [&] {
                sender.setRestartDelay(rng.bounded(2) ? rng.bounded(0, 400) : rng.bounded(3000));
            },
            [&] { sender.setAnswerDelay(rng.bounded(2) ? rng.bounded(0, 1500) : 0); },
            // One answer past its time-out: the resend is answered too.
            [&] { sender.delayNextAnswer(rng.bounded(600, 2500)); },
            [&] { sender.setEmptyAppAnswers(rng.bounded(1, 3)); },
            // A two-wire adapter plugged in or out: the line stays as it is after the faults.
            [&] { link.pty.setEcho(!link.pty.echoes()); },
        };
        kinds[rng.bounded(11)]();
    }

    void download()
    {
        VX4Interface *engine = link.engine.get();
        QList<ProgramMemoryRow> rows;
        quint32 address = rng.bounded(0, 64) * ProgramRowWords;
        for (int r = rng.bounded(2, 12); r > 0; --r) {
            const int first = rng.bounded(0, 32);
            const quint16 seed = quint16(rng.bounded(0x10000));
            rows.append(imageRow(address, seed, first, rng.bounded(first, 64)));
            address += rng.bounded(1, 4) * ProgramRowWords;
        }
        const QMap<quint32, quint16> before = link.sender.programMemory();
        const QMap<quint32, quint16> expected = memoryAfterDownload(link.sender, rows);
        QSignalSpy finished(engine, &VX4Interface::vx4FirmwareUpdateFinished);
        // The main window offers downloads only on a connected sender.
        // A package of another version than the sender's writes whole rows unread.
        const QString version = rng.bounded(2) ? QStringLiteral("9.9") : QString();
        if (!engine->isConnected() || !engine->startFirmwareUpdate(rows, true, version))
            return;
        ++downloads;
        if (!spin(ActivityLimitMs, [&] { return !finished.isEmpty(); })) {
            engine->finishFirmwareUpdate();
            return violation(QStringLiteral("a download never ended"));
        }
        // The valid flag is written once the queue is empty.
        clearFaults();
        faultsUntilMs = 0;
        spin(8000, [&] { return engine->queuedMessages().isEmpty(); });
        const QMap<quint32, quint16> written = link.sender.programMemory();
        const bool success = finished.first().at(0).toBool();
        successes += success;
        if (success && written != expected)
            violation(QStringLiteral("success reported with a wrong image"));
        if (link.sender.eeprom(EepromBootFlagAddress) == EepromBootFlagValid && written != before
            && written != expected)
            violation(QStringLiteral("a wrong image is marked valid"));
        if (success && link.sender.eeprom(EepromBootFlagAddress) != EepromBootFlagValid)
            violation(QStringLiteral("success reported without the valid flag"));
    }

    void calibrationExchange()
    {
        VX4Interface &engine = *link.engine;
        ++calibrations;
        engine.switchMode(CalibrationMode);
        engine.pollForConnectionChange(false);
        for (int i = 0; i < 5; ++i)
            engine.capturePressure(quint8(i), 750 * i);
        engine.saveCalDateTime(2024, 3, 5, 14, 20);
        engine.requestCalDateTime();
        engine.switchMode(PressureSendingMode);
        engine.pollForConnectionChange(true);
        engine.requestADCounts();
    }

    void cycle()
    {
        ++cycles;
        faultsUntilMs = clock.elapsed() + rng.bounded(1000, 5000);
        heavy = rng.bounded(2);
        const int activity = rng.bounded(4);
        if (activity < 2)
            download();
        else if (activity == 2 && link.engine->app() == PressureSendingApp)
            calibrationExchange();
        spin(faultsUntilMs - clock.elapsed(), [] { return false; });
        // Connected is not enough: a frame must arrive, so a watchdog that stopped
        // watching cannot pass for a live line.
        VX4Interface *engine = link.engine.get();
        QSignalSpy answers(engine, &VX4Interface::vx4ResponseRdy);
        QSignalSpy pressures(engine, &VX4Interface::vx4PressureMsgRdy);
        const qint64 faultsEndedMs = clock.elapsed();
        const bool back = spin(RecoveryLimitMs, [&] {
            return answers.size() + pressures.size() > 0 && engine->isConnected();
        });
        slowestRecoveryMs = qMax(slowestRecoveryMs, clock.elapsed() - faultsEndedMs);
        if (!back)
            violation(QStringLiteral("not back %1 ms after the faults (state %2, %3 queued)")
                          .arg(RecoveryLimitMs)
                          .arg(int(engine->connectionState()))
                          .arg(engine->queuedMessages().size()));
    }
};
} // namespace

class TestSoak : public QObject
{
    Q_OBJECT

private slots:
    void soak_keepsEveryInvariant();
};

void TestSoak::soak_keepsEveryInvariant()
{
    const int seconds = qEnvironmentVariableIntValue("VX4_SOAK_SECONDS");
    const QString now = QString::number(quint32(QDateTime::currentMSecsSinceEpoch()));
    const quint32 seed = qEnvironmentVariable("VX4_SOAK_SEED", seconds ? now : "20261206").toUInt();
    QLoggingCategory::setFilterRules("default.debug=false");
    Soak soak;
    soak.rng.seed(seed);
    soak.clock.start();
    QVERIFY(soak.link.connectEngine());
    soak.cycle(); // warms every path up before memory is measured
    const qint64 firstKb = residentKb();
    // A loaded machine gets through fewer cycles in the time: the run goes on, within a bound,
    // until it has seen enough to judge.
    const qint64 runMs = (seconds ? seconds : 9) * 1000;
    const auto enough = [&] { return soak.faults > 20 && soak.downloads > 0; };
    while (soak.violations.isEmpty() && soak.clock.elapsed() < (enough() ? runMs : 4 * runMs))
        soak.cycle();
    const qint64 lastKb = residentKb();
    if (lastKb - firstKb > MemoryGrowthLimitKb)
        soak.violation(QStringLiteral("memory grew by more than %1 kB").arg(MemoryGrowthLimitKb));
    const QString summary = QString::asprintf(
        "seed %u: %d cycles, faults %d, downloads %d (%d succeeded), %d calibration exchanges, "
        "slowest recovery %lld ms, memory %lld kB -> %lld kB",
        seed, soak.cycles, soak.faults, soak.downloads, soak.successes, soak.calibrations,
        soak.slowestRecoveryMs, firstKb, lastKb);
    qInfo("%s", qPrintable(summary));
    QVERIFY2(soak.violations.isEmpty(),
             qPrintable(summary + "\n  " + soak.violations.join("\n  ")));
    QVERIFY(enough());
}

QTEST_GUILESS_MAIN(TestSoak)
#include "tst_soak.moc"
