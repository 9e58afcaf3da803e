// A short fault soak: the engine against the simulated sender under a high fault rate, with the
// invariants checked after every cycle (recovery, no false success, no wrong image marked valid).
#include "faultsoak.h"

#include <QtTest>

class TestSoak : public QObject
{
    Q_OBJECT

private slots:
    void shortSoak_keepsEveryInvariant();
};

void TestSoak::shortSoak_keepsEveryInvariant()
{
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    FaultSoak soak(20261206, 25);
    const FaultSoak::Summary summary = soak.run();
    qInstallMessageHandler(nullptr);
    qInfo("%s", qPrintable(summary.toText()));
    QVERIFY2(summary.violations.isEmpty(), qPrintable(summary.toText()));
    QVERIFY(summary.faultsInjected > 20);
    QVERIFY(summary.downloadsTried > 0);
}

QTEST_GUILESS_MAIN(TestSoak)
#include "tst_soak.moc"
