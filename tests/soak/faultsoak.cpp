#include "faultsoak.h"

#include "VX4interface.h"
#include "downloadimage.h"
#include "simlink.h"
#include "vx4protocol.h"

#include <QCoreApplication>
#include <QFile>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using namespace VX4Protocol;

namespace {
constexpr int RecoveryLimitMs = 3000; ///< the engine is Connected again this soon after faults end
constexpr int ActivityLimitMs = 60000; ///< longest a download or exchange may take under faults
constexpr qint64 MemoryGrowthLimitKb = 20 * 1024; ///< growth of the process allowed over a run

void spinFor(qint64 untilMs, const QElapsedTimer &clock, const std::function<void()> &tick)
{
    while (clock.elapsed() < untilMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        tick();
    }
}
} // namespace

qint64 residentKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    }
    return 0;
}

QString FaultSoak::Summary::toText() const
{
    QString text
        = QStringLiteral("cycles %1, faults injected %2, downloads tried %3, successes %4, correct "
                         "failures %5, calibration exchanges %6, slowest recovery %7 ms, memory "
                         "%8 kB -> %9 kB, violations %10")
              .arg(cycles)
              .arg(faultsInjected)
              .arg(downloadsTried)
              .arg(downloadSuccesses)
              .arg(downloadFailures)
              .arg(calibrationExchanges)
              .arg(slowestRecoveryMs)
              .arg(rssStartKb)
              .arg(rssEndKb)
              .arg(violations.size());
    for (const QString &v : violations)
        text += QStringLiteral("\n  violation: ") + v;
    return text;
}

FaultSoak::FaultSoak(quint32 seed, int seconds)
    : rng(seed)
    , seconds(seconds)
    , link(std::make_unique<SimLink>())
{
}

FaultSoak::~FaultSoak() = default;

void FaultSoak::violation(const QString &what)
{
    summary.violations.append(QStringLiteral("%1 ms: %2").arg(clock.elapsed()).arg(what));
}

FaultSoak::Summary FaultSoak::run()
{
    clock.start();
    if (!link->connectEngine()) {
        violation(QStringLiteral("the engine never connected"));
        return summary;
    }
    // The first cycle warms every path up before memory is measured.
    cycle();
    summary.rssStartKb = residentKb();
    while (clock.elapsed() < qint64(seconds) * 1000)
        cycle();
    summary.rssEndKb = residentKb();
    if (summary.rssEndKb - summary.rssStartKb > MemoryGrowthLimitKb)
        violation(QStringLiteral("memory grew from %1 kB to %2 kB")
                      .arg(summary.rssStartKb)
                      .arg(summary.rssEndKb));
    return summary;
}

void FaultSoak::cycle()
{
    ++summary.cycles;
    const qint64 faultsUntil = clock.elapsed() + rng.bounded(2000, 8000);
    faultsOn = true;
    heavyFaults = rng.bounded(2) == 0;
    switch (rng.bounded(4)) {
    case 0:
    case 1:
        runDownload(faultsUntil);
        break;
    case 2:
        runCalibrationExchange(faultsUntil);
        break;
    default:
        idle(faultsUntil);
        break;
    }
    clearFaults();
    checkRecovery();
}

void FaultSoak::injectFault()
{
    if (!faultsOn)
        return;
    SimulatedSender &sender = link->sender;
    if (silentUntilMs && clock.elapsed() >= silentUntilMs) {
        sender.setSilent(false);
        silentUntilMs = 0;
    }
    // A fault every 20 to 200 ms in heavy cycles, every 0.3 to 1.5 s in light ones.
    if (clock.elapsed() < nextFaultMs)
        return;
    nextFaultMs = clock.elapsed() + (heavyFaults ? rng.bounded(20, 200) : rng.bounded(300, 1500));
    ++summary.faultsInjected;
    switch (rng.bounded(6)) {
    case 0:
        sender.dropNextAnswers(int(rng.bounded(1, 4)));
        break;
    case 1:
        sender.corruptNextCrc();
        break;
    case 2: {
        QByteArray garbage;
        for (int i = int(rng.bounded(1, 40)); i > 0; --i)
            garbage.append(char(rng.bounded(256)));
        sender.injectGarbage(garbage);
        break;
    }
    case 3:
        if (!silentUntilMs) {
            sender.setSilent(true);
            silentUntilMs = clock.elapsed()
                + (rng.bounded(4) ? rng.bounded(50, 600) : rng.bounded(600, 4000));
        }
        break;
    case 4:
        sender.setAnswerDelay(int(rng.bounded(0, 1500)));
        break;
    default:
        sender.setAnswerDelay(0);
        break;
    }
}

void FaultSoak::clearFaults()
{
    faultsOn = false;
    silentUntilMs = 0;
    link->sender.setSilent(false);
    link->sender.dropNextAnswers(0);
    link->sender.setAnswerDelay(0);
}

bool FaultSoak::waitForConnected(int timeoutMs)
{
    return QTest::qWaitFor([this] { return link->engine->isConnected(); }, timeoutMs);
}

void FaultSoak::checkRecovery()
{
    // Connected is not enough: a frame must arrive after the faults, so a watchdog that stopped
    // watching cannot pass for a live line.
    const qint64 start = clock.elapsed();
    bool heard = false;
    VX4Interface *engine = link->engine.get();
    QObject guard;
    QObject::connect(engine, &VX4Interface::vx4ResponseRdy, &guard, [&heard] { heard = true; });
    QObject::connect(engine, &VX4Interface::vx4PressureMsgRdy, &guard, [&heard] { heard = true; });
    if (!QTest::qWaitFor([&] { return heard && engine->isConnected(); }, RecoveryLimitMs)) {
        QStringList queue;
        for (const VX4Message &m : engine->queuedMessages())
            queue.append(m.toString());
        violation(QStringLiteral("not connected %1 ms after the faults ended (state %2, heard %3, "
                                 "sender app %4 mode %5, queue: %6)")
                      .arg(RecoveryLimitMs)
                      .arg(int(engine->connectionState()))
                      .arg(heard)
                      .arg(int(link->sender.app()))
                      .arg(int(link->sender.mode()))
                      .arg(queue.join(QStringLiteral("; "))));
        waitForConnected(ActivityLimitMs);
    }
    summary.slowestRecoveryMs = qMax(summary.slowestRecoveryMs, clock.elapsed() - start);
}

void FaultSoak::idle(qint64 untilMs)
{
    spinFor(untilMs, clock, [this] { injectFault(); });
}

QList<ProgramMemoryRow> FaultSoak::randomImage()
{
    QList<ProgramMemoryRow> rows;
    quint32 address = quint32(rng.bounded(0, 64)) * ProgramRowWords;
    for (int r = int(rng.bounded(2, 12)); r > 0; --r) {
        ProgramMemoryRow row(ProgramRowWords);
        row.address = address;
        const int first = int(rng.bounded(0, 32));
        const int last = int(rng.bounded(first, 64));
        for (int k = first; k <= last; ++k)
            row.words[k] = rng.bounded(0x10000);
        rows.append(row);
        address += quint32(rng.bounded(1, 4)) * ProgramRowWords;
    }
    return rows;
}

void FaultSoak::runDownload(qint64 faultsUntilMs)
{
    // Downloads start on a connected sender, as the main window only offers them then.
    if (!link->engine->isConnected() && !waitForConnected(RecoveryLimitMs)) {
        idle(faultsUntilMs);
        return;
    }
    const QList<ProgramMemoryRow> rows = randomImage();
    const QMap<quint32, quint16> before = link->sender.programMemory();
    const QMap<quint32, quint16> expected = memoryAfterDownload(link->sender, rows);

    QSignalSpy finished(link->engine.get(), &VX4Interface::vx4FirmwareUpdateFinished);
    if (!link->engine->startFirmwareUpdate(rows)) {
        idle(faultsUntilMs);
        return;
    }
    ++summary.downloadsTried;
    const qint64 deadline = clock.elapsed() + ActivityLimitMs;
    while (finished.isEmpty() && clock.elapsed() < deadline) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        if (clock.elapsed() < faultsUntilMs)
            injectFault();
        else if (faultsOn)
            clearFaults();
    }
    clearFaults();
    if (finished.isEmpty()) {
        violation(QStringLiteral("a download never ended"));
        link->engine->finishFirmwareUpdate();
        return;
    }
    const bool success = finished.first().at(0).toBool();
    // Let the final EEPROM write and the restart happen before judging the sender.
    (void)QTest::qWaitFor([this] { return link->engine->queuedMessages().isEmpty(); }, 8000);
    QTest::qWait(200);

    // Words the image does not touch: the merged rows keep them.
    QMap<quint32, quint16> written = link->sender.programMemory();
    const bool imageIsRight = written == expected;
    const bool marked = link->sender.eeprom(EepromBootFlagAddress) == EepromBootFlagValid;
    if (success) {
        ++summary.downloadSuccesses;
        if (!imageIsRight)
            violation(QStringLiteral("success reported with a wrong image"));
    } else {
        ++summary.downloadFailures;
        if (marked && !imageIsRight && written != before)
            violation(QStringLiteral("failed download left a changed image marked valid"));
    }
    if (marked && written != before && !imageIsRight)
        violation(QStringLiteral("a wrong image is marked valid"));
}

void FaultSoak::runCalibrationExchange(qint64 faultsUntilMs)
{
    if (!waitForConnected(RecoveryLimitMs) || link->engine->app() != PressureSendingApp) {
        idle(faultsUntilMs);
        return;
    }
    ++summary.calibrationExchanges;
    VX4Interface &engine = *link->engine;
    engine.switchMode(CalibrationMode);
    engine.pollForConnectionChange(false);
    static const int setPoints[] = { 0, 750, 1500, 2250, 3000 };
    for (int i = 0; i < 5; ++i)
        engine.capturePressure(quint8(i), setPoints[i]);
    const QDateTime now = QDateTime::currentDateTime();
    engine.saveCalDateTime(quint16(now.date().year()), quint8(now.date().month()),
                           quint8(now.date().day()), quint8(now.time().hour()),
                           quint8(now.time().minute()));
    engine.requestCalDateTime();
    engine.switchMode(PressureSendingMode);
    engine.pollForConnectionChange(true);
    for (int i = 0; i < 5; ++i)
        engine.requestADCounts();
    const qint64 deadline = clock.elapsed() + ActivityLimitMs;
    while (clock.elapsed() < qMax(faultsUntilMs, qint64(0)) && clock.elapsed() < deadline) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        injectFault();
    }
}
