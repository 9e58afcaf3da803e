// A short fault soak: the engine against the simulated sender under a high
// fault rate, checked after every cycle for recovery, no false success and no
// wrong image marked valid.
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
    const SoakReport report = runFaultSoak(20261206, 9);
    qInstallMessageHandler(nullptr);
    qInfo("%s", qPrintable(report.text()));
    QVERIFY2(report.violations.isEmpty(), qPrintable(report.text()));
    QVERIFY(report.faults > 20 && report.downloads > 0);
}

QTEST_GUILESS_MAIN(TestSoak)
#include "tst_soak.moc"
