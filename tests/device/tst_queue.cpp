// The command queue over a pseudo-terminal: one request on the wire, resend spacing, give-up time,
// requests waiting behind the head, and the zero time-out of RESET.
#include "VX4interface.h"
#include "enginesignals.h"
#include "logcapture.h"
#include "simlink.h"
#include "vx4protocol.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QtTest>

using namespace VX4Protocol;

class TestQueue : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void unansweredRequest_sentThreeTimesThenGivenUp();
    void answerOnSecondSend_removesWithTwoOfThree();
    void oneSendRequest_givenUpAfterFirstTimeout();
    void requestBehindHead_startsItsTimeoutWhenSent();
    void resetRequest_writtenThreeTimesInQuickSuccession();

private:
    LogCapture *log = nullptr;
    SimLink *link = nullptr;
    QElapsedTimer clock;
    QList<QPair<qint64, quint8>> arrivals;
};

void TestQueue::init()
{
    log = new LogCapture;
    link = new SimLink;
    link->sender.setStreamInterval(0);
    arrivals.clear();
    clock.start();
    connect(&link->sender, &SimulatedSender::requestReceived, this, [this](const VX4Message &m) {
        arrivals.append({ clock.elapsed(), m.command });
    });
    QVERIFY(link->openEngine());
}

void TestQueue::cleanup()
{
    delete link;
    delete log;
}

void TestQueue::unansweredRequest_sentThreeTimesThenGivenUp()
{
    link->sender.setSilent(true);
    QSignalSpy timeout(link->engine.get(), &VX4Interface::vx4MessageTimeout);
    const qint64 start = clock.elapsed();
    link->engine->queryMode();
    QVERIFY(timeout.wait(5000));
    const qint64 gaveUpAfter = clock.elapsed() - start;

    QCOMPARE(arrivals.size(), 3);
    for (int i = 1; i < 3; ++i) {
        const qint64 gap = arrivals.at(i).first - arrivals.at(i - 1).first;
        QVERIFY2(gap >= 450 && gap < 800, qPrintable(QString::number(gap)));
    }
    QVERIFY2(gaveUpAfter >= 1450 && gaveUpAfter < 2200, qPrintable(QString::number(gaveUpAfter)));
    const VX4Message givenUp = timeout.first().first().value<VX4Message>();
    QCOMPARE(givenUp.command, quint8(ModeQuery));
    QCOMPARE(givenUp.sendCount, quint16(3));

    const QString frame = QStringLiteral("3e070b");
    QByteArray bytes = QByteArray::fromHex(frame.toLatin1());
    VX4Message::appendCrc(bytes);
    const QString hex = QString::fromLatin1(bytes.toHex()) + QStringLiteral("0d0a");
    QCOMPARE(log->textsFrom(QStringLiteral("VX4interface")),
             (QStringList {
                 QStringLiteral("Enqueueing  \"PC -> VX4, 0/3, 500, MODE QUERY, %1\"").arg(hex),
                 QStringLiteral("Only message in queue - sending immediately."),
                 QStringLiteral("Sent:  \"PC -> VX4, 1/3, 500, MODE QUERY, %1\"").arg(hex),
                 QStringLiteral("Sent:  \"PC -> VX4, 2/3, 500, MODE QUERY, %1\"").arg(hex),
                 QStringLiteral("Sent:  \"PC -> VX4, 3/3, 500, MODE QUERY, %1\"").arg(hex),
                 QStringLiteral("Removing msg:  \"PC -> VX4, 3/3, 500, MODE QUERY, %1\"").arg(hex),
                 QStringLiteral("\"There are now 0 messages in the queue.\"") }));
}

void TestQueue::answerOnSecondSend_removesWithTwoOfThree()
{
    link->sender.dropNextAnswers(1);
    QSignalSpy response(link->engine.get(), &VX4Interface::vx4ResponseRdy);
    link->engine->requestSerialNumber();
    QVERIFY(response.wait(3000));
    QCOMPARE(arrivals.size(), 2);
    const QStringList removed = log->texts().filter(QStringLiteral("Removing msg:"));
    QCOMPARE(removed.size(), 1);
    QVERIFY2(removed.first().contains(QStringLiteral(", 2/3, 500, GET SERIAL #, ")),
             qPrintable(removed.first()));
    QCOMPARE(link->engine->serialNumber(), quint16(1234));
}

void TestQueue::oneSendRequest_givenUpAfterFirstTimeout()
{
    link->sender.setSilent(true);
    QSignalSpy timeout(link->engine.get(), &VX4Interface::vx4MessageTimeout);
    const qint64 start = clock.elapsed();
    link->engine->changeApp();
    QTRY_VERIFY_WITH_TIMEOUT(!timeout.isEmpty(), 5000);
    const qint64 gaveUpAfter = clock.elapsed() - start;
    QCOMPARE(timeout.first().first().value<VX4Message>().command, quint8(AppChange));
    QVERIFY2(gaveUpAfter >= 2950 && gaveUpAfter < 4000, qPrintable(QString::number(gaveUpAfter)));
    int changes = 0;
    for (const auto &a : arrivals)
        changes += a.second == AppChange;
    QCOMPARE(changes, 1);
}

void TestQueue::requestBehindHead_startsItsTimeoutWhenSent()
{
    link->sender.setSilent(true);
    QSignalSpy timeout(link->engine.get(), &VX4Interface::vx4MessageTimeout);
    link->engine->queryMode();
    link->engine->zeroPressure();
    QVERIFY(log->contains(QStringLiteral("\"There are now 2 messages in the queue.\"")));
    QVERIFY(timeout.wait(3000));
    // The second request goes out only when the first is given up, and has all its sends left.
    QTRY_COMPARE(arrivals.size(), 4);
    QCOMPARE(arrivals.at(3).second, quint8(ZeroPsi));
    QVERIFY2(arrivals.at(3).first - arrivals.at(0).first >= 1450,
             qPrintable(QString::number(arrivals.at(3).first - arrivals.at(0).first)));
    QTRY_COMPARE_WITH_TIMEOUT(arrivals.size(), 5, 2000);
    const qint64 gap = arrivals.at(4).first - arrivals.at(3).first;
    QVERIFY2(gap >= 950 && gap < 1400, qPrintable(QString::number(gap)));
}

void TestQueue::resetRequest_writtenThreeTimesInQuickSuccession()
{
    QSignalSpy timeout(link->engine.get(), &VX4Interface::vx4MessageTimeout);
    link->engine->resetDevice();
    QVERIFY(timeout.wait(2000));
    QCOMPARE(timeout.first().first().value<VX4Message>().command, quint8(Reset));
    QTRY_COMPARE(arrivals.size(), 3);
    QVERIFY(arrivals.last().first - arrivals.first().first < 300);
}

QTEST_GUILESS_MAIN(TestQueue)
#include "tst_queue.moc"
