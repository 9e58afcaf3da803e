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
    // Thousands of log lines per input would drown the test's own output.
    void initTestCase() { QLoggingCategory::setFilterRules("default.debug=false"); }
    void entry_holdsItsChecksOnEveryInput_data();
    void entry_holdsItsChecksOnEveryInput();
};

void TestFuzzInputs::entry_holdsItsChecksOnEveryInput_data()
{
    QTest::addColumn<Entry>("entry");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<int>("accepted"); // -1: either way; the receive path accepts frames
    QTest::addColumn<QString>("frames"); // receive path: frames and bytes left over; empty: any
    const QList<QPair<QString, Entry>> entries { { "fuzz_receivepath", FuzzEntries::receivePath },
                                                 { "fuzz_intelhex", FuzzEntries::intelHex },
                                                 { "fuzz_package", FuzzEntries::package } };
    for (const auto &[target, entry] : entries) {
        for (const QString kind : { "corpus", "regressions" }) {
            const QDir dir(QStringLiteral(FUZZ_DIR "/%1/%2").arg(kind, target));
            QVERIFY(kind != "corpus" || !dir.isEmpty());
            for (const QString &name : dir.entryList(QDir::Files)) {
                QFile file(dir.filePath(name));
                QVERIFY(file.open(QIODevice::ReadOnly));
                // Seeds named "refused-" are damaged on purpose; the others are accepted.
                const int accepted = kind != "corpus" ? -1 : name.startsWith("refused-") ? 0 : 1;
                QTest::addRow("%s/%s", qPrintable(target), qPrintable(name))
                    << entry << file.readAll() << accepted << QString();
            }
        }
    }
    // An answer, a request and the first 3 bytes of a 10-byte answer, cut into chunks
    // differently; then the request alone.
    const QByteArray stream = QByteArray::fromHex("3c0800015e9b0d0a3e07008baf0d0a3c0a00");
    for (const char *sizes : { "00ff", "0000", "0a000206", "070101010101010101" })
        QTest::addRow("receive path, chunks %s", sizes)
            << Entry(FuzzEntries::receivePath) << QByteArray::fromHex(sizes) + stream << 1 << "2 3";
    QTest::newRow("receive path, request only")
        << Entry(FuzzEntries::receivePath) << stream.mid(8, 7).prepend("\0\xff", 2) << 1 << "1 0";
}

void TestFuzzInputs::entry_holdsItsChecksOnEveryInput()
{
    QFETCH(Entry, entry);
    QFETCH(QByteArray, input);
    QFETCH(int, accepted);
    QFETCH(QString, frames);
    const FuzzEntries::Outcome outcome = entry(input);
    QCOMPARE(outcome.broken, QString());
    QVERIFY(outcome.pendingBytes < 255);
    const bool took = entry == FuzzEntries::receivePath ? outcome.goodFrames > 0 : outcome.accepted;
    QCOMPARE(accepted < 0 ? -1 : int(took), accepted);
    QCOMPARE(frames.isEmpty() ? frames
                              : QString("%1 %2").arg(outcome.goodFrames).arg(outcome.pendingBytes),
             frames);
}

QTEST_GUILESS_MAIN(TestFuzzInputs)
#include "tst_fuzzinputs.moc"
