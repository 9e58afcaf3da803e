// The fuzz targets' own entry points on every seed of fuzz/corpus/ and every input that once broke
// them (fuzz/regressions/): no crash, every check of the entry holds, and seeds give their result.
#include "fuzzentries.h"

#include <QDir>
#include <QFile>
#include <QtTest>

namespace {

void discardMessage(QtMsgType, const QMessageLogContext &, const QString &)
{
}

/// Seeds whose name starts so are damaged on purpose: nothing in them may be accepted.
const QString RefusedPrefix = QStringLiteral("refused-");

/// Adds one row per file of fuzz/corpus/TARGET and fuzz/regressions/TARGET; the number of seeds.
int addInputs(const QString &target)
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<bool>("seed");
    QTest::addColumn<bool>("refused");
    int seeds = 0;
    for (const QString &kind : { QStringLiteral("corpus"), QStringLiteral("regressions") }) {
        const QDir dir(QStringLiteral(FUZZ_DIR "/%1/%2").arg(kind, target));
        const QStringList names = dir.entryList(QDir::Files, QDir::Name);
        for (const QString &name : names) {
            QFile file(dir.filePath(name));
            if (!file.open(QIODevice::ReadOnly))
                qFatal("cannot read %s", qPrintable(file.fileName()));
            const bool seed = kind == QLatin1String("corpus");
            seeds += seed ? 1 : 0;
            QTest::addRow("%s/%s", qPrintable(kind), qPrintable(name))
                << file.readAll() << seed << name.startsWith(RefusedPrefix);
        }
    }
    return seeds;
}

} // namespace

class TestFuzzInputs : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void receivePath_sameStreamInAnyChunks_data();
    void receivePath_sameStreamInAnyChunks();
    void receivePath_keepsAtMostOneFrameAndDecodesSeeds_data();
    void receivePath_keepsAtMostOneFrameAndDecodesSeeds();
    void intelHex_parsesSeedsAndSurvivesTheRest_data();
    void intelHex_parsesSeedsAndSurvivesTheRest();
    void package_readsSeedsAndSurvivesTheRest_data();
    void package_readsSeedsAndSurvivesTheRest();

private:
    QtMessageHandler previousHandler = nullptr;
};

void TestFuzzInputs::initTestCase()
{
    // Thousands of log lines per input would drown the test's own output.
    previousHandler = qInstallMessageHandler(discardMessage);
}

void TestFuzzInputs::cleanupTestCase()
{
    qInstallMessageHandler(previousHandler);
}

void TestFuzzInputs::receivePath_sameStreamInAnyChunks_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<int>("goodFrames");
    QTest::addColumn<int>("pendingBytes");
    // An answer, a request and the first 3 bytes of a 10-byte answer.
    const QByteArray stream = QByteArray::fromHex("3c0800015e9b0d0a"
                                                  "3e07008baf0d0a"
                                                  "3c0a00");
    QTest::newRow("one chunk") << QByteArray::fromHex("00ff") + stream << 2 << 3;
    QTest::newRow("byte by byte") << QByteArray::fromHex("0000") + stream << 2 << 3;
    QTest::newRow("1, 3, 7 after connecting") << QByteArray::fromHex("0a000206") + stream << 2 << 3;
    QTest::newRow("8 sizes of 2") << QByteArray::fromHex("070101010101010101") + stream << 2 << 3;
    QTest::newRow("request only") << QByteArray::fromHex("00ff3e07008baf0d0a") << 1 << 0;
    QTest::newRow("sizes cut short") << QByteArray::fromHex("07") << 0 << 0;
}

void TestFuzzInputs::receivePath_sameStreamInAnyChunks()
{
    QFETCH(QByteArray, input);
    QFETCH(int, goodFrames);
    QFETCH(int, pendingBytes);
    const FuzzEntries::Outcome outcome = FuzzEntries::receivePath(input);
    QCOMPARE(outcome.broken, QString());
    QCOMPARE(outcome.goodFrames, goodFrames);
    QCOMPARE(outcome.pendingBytes, qsizetype(pendingBytes));
}

void TestFuzzInputs::receivePath_keepsAtMostOneFrameAndDecodesSeeds_data()
{
    QVERIFY(addInputs(QStringLiteral("fuzz_receivepath")) > 0);
}

void TestFuzzInputs::receivePath_keepsAtMostOneFrameAndDecodesSeeds()
{
    QFETCH(QByteArray, input);
    QFETCH(bool, seed);
    QFETCH(bool, refused);
    const FuzzEntries::Outcome outcome = FuzzEntries::receivePath(input);
    QCOMPARE(outcome.broken, QString());
    QVERIFY2(outcome.pendingBytes < 255, qPrintable(QString::number(outcome.pendingBytes)));
    // The other seeds carry frames the sender or the PC could have written.
    if (seed)
        QCOMPARE(outcome.goodFrames > 0, !refused);
}

void TestFuzzInputs::intelHex_parsesSeedsAndSurvivesTheRest_data()
{
    QVERIFY(addInputs(QStringLiteral("fuzz_intelhex")) > 0);
}

void TestFuzzInputs::intelHex_parsesSeedsAndSurvivesTheRest()
{
    QFETCH(QByteArray, input);
    QFETCH(bool, seed);
    QFETCH(bool, refused);
    const FuzzEntries::Outcome outcome = FuzzEntries::intelHex(input);
    QCOMPARE(outcome.broken, QString());
    if (seed)
        QCOMPARE(outcome.accepted, !refused);
}

void TestFuzzInputs::package_readsSeedsAndSurvivesTheRest_data()
{
    QVERIFY(addInputs(QStringLiteral("fuzz_package")) > 0);
}

void TestFuzzInputs::package_readsSeedsAndSurvivesTheRest()
{
    QFETCH(QByteArray, input);
    QFETCH(bool, seed);
    QFETCH(bool, refused);
    const FuzzEntries::Outcome outcome = FuzzEntries::package(input);
    QCOMPARE(outcome.broken, QString());
    if (seed)
        QCOMPARE(outcome.accepted, !refused);
}

QTEST_GUILESS_MAIN(TestFuzzInputs)
#include "tst_fuzzinputs.moc"
