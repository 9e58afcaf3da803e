// The fuzz targets' entry points on every seed of fuzz/corpus/ and on the inputs behind the fixes
// so far (fuzz/regressions/): no crash, every check of the entry holds, and each gives its result.
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
    QTest::addColumn<int>("accepted"); // the receive path accepts frames
    QTest::addColumn<QString>(
        "frames"); // receive path: good frames, bytes held at the end; empty: any
    const QList<QPair<QString, Entry>> entries { { "fuzz_receivepath", FuzzEntries::receivePath },
                                                 { "fuzz_intelhex", FuzzEntries::intelHex },
                                                 { "fuzz_package", FuzzEntries::package } };
    for (const auto &[target, entry] : entries) {
        const QDir dir(QStringLiteral(FUZZ_DIR "/corpus/%1").arg(target));
        QVERIFY(!dir.isEmpty());
        for (const QString &name : dir.entryList(QDir::Files)) {
            QFile file(dir.filePath(name));
            QVERIFY(file.open(QIODevice::ReadOnly));
            // Seeds named "refused-" are damaged on purpose; the others are accepted.
            QTest::addRow("%s/%s", qPrintable(target), qPrintable(name))
                << entry << file.readAll() << (name.startsWith("refused-") ? 0 : 1) << QString();
        }
    }
    // What each fix's input must give now; the folder holds these and no others (in name order).
    const struct
    {
        const char *file;
        Entry entry;
        int accepted;
        const char *frames;
    } regressions[] = {
        // A byte above the 24-bit word space went out with its address cut to low memory.
        { "fuzz_intelhex/24-bit-overflow.hex", FuzzEntries::intelHex, 0, "" },
        // An image without its end-of-file record, cut short, was loaded as it was.
        { "fuzz_intelhex/truncated-image.hex", FuzzEntries::intelHex, 0, "" },
        // A stray marker and length byte took the two answers behind them down as one bad frame.
        { "fuzz_receivepath/noise-pair", FuzzEntries::receivePath, 1, "2 0" },
        // A stray marker claiming 64 bytes held the answer behind it until more bytes came.
        { "fuzz_receivepath/stalled-frame", FuzzEntries::receivePath, 1, "1 10" },
        // A length byte of 0 cleared the buffer, and with it the answer that followed.
        { "fuzz_receivepath/zero-length-answer", FuzzEntries::receivePath, 1, "1 0" },
    };
    const QDir dir(QStringLiteral(FUZZ_DIR "/regressions"));
    QStringList listed;
    for (const auto &regression : regressions) {
        QFile file(dir.filePath(regression.file));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QTest::addRow("regression %s", regression.file)
            << regression.entry << file.readAll() << regression.accepted
            << QString(regression.frames);
        listed << regression.file;
    }
    QStringList found;
    for (const QString &target : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        for (const QString &name : QDir(dir.filePath(target)).entryList(QDir::Files))
            found << target + '/' + name;
    }
    QCOMPARE(found, listed);
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
    QCOMPARE(int(took), accepted);
    QCOMPARE(frames.isEmpty() ? frames
                              : QString("%1 %2").arg(outcome.goodFrames).arg(outcome.pendingBytes),
             frames);
}

QTEST_GUILESS_MAIN(TestFuzzInputs)
#include "tst_fuzzinputs.moc"
