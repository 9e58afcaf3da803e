// A fault soak: the engine against the simulated sender under a high fault rate, checked after
// every cycle for recovery, no false success and no wrong image marked valid. Short in the suite;
// tests/soak/run.sh sets VX4_SOAK_SECONDS and VX4_SOAK_SEED for a long run.
#include "faultsoak.h"

#include <QtTest>

class TestSoak : public QObject
{
    Q_OBJECT

private slots:
    void soak_keepsEveryInvariant();
};

void TestSoak::soak_keepsEveryInvariant()
{
    const int seconds = qEnvironmentVariableIntValue("VX4_SOAK_SECONDS");
    const quint32 seed = qEnvironmentVariableIsSet("VX4_SOAK_SEED")
        ? qEnvironmentVariable("VX4_SOAK_SEED").toUInt()
        : seconds ? quint32(QDateTime::currentMSecsSinceEpoch())
                  : 20261206;
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    const SoakReport report = runFaultSoak(seed, seconds ? seconds : 9);
    qInstallMessageHandler(nullptr);
    qInfo("seed %u: %s", seed, qPrintable(report.text()));
    QVERIFY2(report.violations.isEmpty(), qPrintable(report.text()));
    QVERIFY(report.faults > 20 && report.downloads > 0);
}

QTEST_GUILESS_MAIN(TestSoak)
#include "tst_soak.moc"
