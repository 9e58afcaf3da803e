// The fuzz targets' entry points on every seed of fuzz/corpus/ and every input
// that once broke them (fuzz/regressions/): no crash, every check of the entry
// holds, and seeds give their result.
#include "fuzzentries.h"

#include <QDir>
#include <QtTest>

using Entry = FuzzEntries::Outcome (*)(const QByteArray &);
Q_DECLARE_METATYPE(Entry)

class TestFuzzInputs : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void entry_holdsItsChecksOnEveryInput_data();
    void entry_holdsItsChecksOnEveryInput();
};

void TestFuzzInputs::initTestCase()
{
    // Thousands of log lines per input would drown the test's own output.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
}

void TestFuzzInputs::entry_holdsItsChecksOnEveryInput_data()
{
    QTest::addColumn<Entry>("entry");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<int>("accepted"); // -1: either way; the receive path accepts frames
    QTest::addColumn<int>("frames"); // receive path: frames and bytes left over; -1: any number
    QTest::addColumn<int>("pending");
    const QList<QPair<QString, Entry>> entries { { "fuzz_receivepath", FuzzEntries::receivePath },
                                                 { "fuzz_intelhex", FuzzEntries::intelHex },
                                                 { "fuzz_package", FuzzEntries::package } };
    for (const auto &[target, entry] : entries) {
        for (const QString kind : { "corpus", "regressions" }) {
            const QDir dir(QStringLiteral(FUZZ_DIR "/%1/%2").arg(kind, target));
            const QStringList names = dir.entryList(QDir::Files);
            QVERIFY(kind != "corpus" || !names.isEmpty());
            for (const QString &name : names) {
                QFile file(dir.filePath(name));
                QVERIFY(file.open(QIODevice::ReadOnly));
                // Seeds named "refused-" are damaged on purpose; the others are
                // accepted.
                const int accepted = kind != "corpus" ? -1 : name.startsWith("refused-") ? 0 : 1;
                QTest::addRow("%s/%s", qPrintable(target), qPrintable(name))
                    << entry << file.readAll() << accepted << -1 << -1;
            }
        }
    }
    // An answer, a request and the first 3 bytes of a 10-byte answer, cut into
    // chunks differently.
    const QByteArray stream = QByteArray::fromHex("3c0800015e9b0d0a3e07008baf0d0a3c0a00");
    for (const char *sizes : { "00ff", "0000", "0a000206", "070101010101010101" })
        QTest::addRow("receive path, chunks %s", sizes)
            << Entry(FuzzEntries::receivePath) << QByteArray::fromHex(sizes) + stream << 1 << 2
            << 3;
    QTest::newRow("receive path, request only")
        << Entry(FuzzEntries::receivePath) << QByteArray::fromHex("00ff3e07008baf0d0a") << 1 << 1
        << 0;
}

void TestFuzzInputs::entry_holdsItsChecksOnEveryInput()
{
    QFETCH(Entry, entry);
    QFETCH(QByteArray, input);
    QFETCH(int, accepted);
    QFETCH(int, frames);
    QFETCH(int, pending);
    const FuzzEntries::Outcome outcome = entry(input);
    QCOMPARE(outcome.broken, QString());
    QVERIFY(outcome.pendingBytes < 255);
    if (accepted >= 0) {
        const bool receivePath = entry == FuzzEntries::receivePath;
        QCOMPARE(receivePath ? outcome.goodFrames > 0 : outcome.accepted, bool(accepted));
    }
    if (frames >= 0) {
        QCOMPARE(outcome.goodFrames, frames);
        QCOMPARE(outcome.pendingBytes, qsizetype(pending));
    }
}

QTEST_GUILESS_MAIN(TestFuzzInputs)
#include "tst_fuzzinputs.moc"
