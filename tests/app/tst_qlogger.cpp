// The logging handler: the time-stamped "%1 %2" line, the same form for every level,
// a '%' passed on untouched, and the handler that was in force before still receiving each line.
#include "logcapture.h"
#include "qlogger.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

class TestQLogger : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();

    void formatLine_stampsToTheMillisecond();
    void debugStatement_givesStampedSourceLine();
    void levels_shareOneForm();
    void percentSigns_passUnchanged_data();
    void percentSigns_passUnchanged();

private:
    std::unique_ptr<LogCapture> previous; ///< the handler in force before QLogger
};

namespace {
const QRegularExpression
    stampedLine(QStringLiteral("^(\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}) (.*)$"),
                QRegularExpression::DotMatchesEverythingOption);

QDateTime stampOf(const QString &line)
{
    return QDateTime::fromString(stampedLine.match(line).captured(1),
                                 QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz"));
}
} // namespace

void TestQLogger::initTestCase()
{
    previous = std::make_unique<LogCapture>();
    QLogger::install();
}

void TestQLogger::cleanupTestCase()
{
    previous.reset();
}

void TestQLogger::init()
{
    previous->clear();
}

void TestQLogger::formatLine_stampsToTheMillisecond()
{
    const QDateTime at(QDate(2014, 3, 5), QTime(9, 7, 3, 45));
    QCOMPARE(QLogger::formatLine(at, QStringLiteral("x %1 y")),
             QStringLiteral("2014-03-05 09:07:03.045 x %1 y"));
}

void TestQLogger::debugStatement_givesStampedSourceLine()
{
    QSignalSpy spy(QLogger::instance(), &QLogger::msgReady);
    const QDateTime before = QDateTime::currentDateTime();
    qDebug() << "mainwindow"
             << "@" << 42 << ":"
             << "text" << QStringLiteral("quoted") << -7;
    const QDateTime after = QDateTime::currentDateTime();

    QCOMPARE(spy.size(), 1);
    const QString line = spy.at(0).at(0).toString();
    const auto match = stampedLine.match(line);
    QVERIFY2(match.hasMatch(), qPrintable(line));
    QCOMPARE(match.captured(2), QStringLiteral("mainwindow @ 42 : text \"quoted\" -7"));
    const QDateTime stamp = stampOf(line);
    QVERIFY(stamp >= before && stamp <= after);
    // The handler in force before gets the same stamped line.
    QCOMPARE(previous->lines(), QStringList { line });
}

void TestQLogger::levels_shareOneForm()
{
    QSignalSpy spy(QLogger::instance(), &QLogger::msgReady);
    qDebug("same text");
    qWarning("same text");
    QCOMPARE(spy.size(), 2);
    for (int i = 0; i < 2; ++i) {
        const auto match = stampedLine.match(spy.at(i).at(0).toString());
        QVERIFY(match.hasMatch());
        QCOMPARE(match.captured(2), QStringLiteral("same text"));
    }
}

void TestQLogger::percentSigns_passUnchanged_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("digit") << QStringLiteral("100%1 done");
    QTest::newRow("two places") << QStringLiteral("%1 %2");
    QTest::newRow("printf letters") << QStringLiteral("%s %d %n %%");
    QTest::newRow("trailing") << QStringLiteral("50%");
}

void TestQLogger::percentSigns_passUnchanged()
{
    QFETCH(QString, text);
    QSignalSpy spy(QLogger::instance(), &QLogger::msgReady);
    qDebug().noquote() << text;
    QCOMPARE(spy.size(), 1);
    const QString line = spy.at(0).at(0).toString();
    QCOMPARE(stampedLine.match(line).captured(2), text);
    QCOMPARE(previous->lines(), QStringList { line });
}

QTEST_GUILESS_MAIN(TestQLogger)
#include "tst_qlogger.moc"
