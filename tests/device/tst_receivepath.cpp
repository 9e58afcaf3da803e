// The receive path over a pseudo-terminal: frames cut from arbitrary pieces, garbage, CRC errors,
// zero lengths, pressure frames, answers matched to the waiting request and unsolicited answers.
#include "VX4interface.h"
#include "enginesignals.h"
#include "logcapture.h"
#include "simlink.h"
#include "vx4protocol.h"

#include <QSignalSpy>
#include <QtTest>

using namespace VX4Protocol;

namespace {
QByteArray answerFrame(quint8 command, const QByteArray &payload)
{
    return VX4Message::buildFrame(AnswerMarker, quint8(FrameOverhead + payload.size()), command,
                                  payload);
}

QByteArray pressureFrame(qint16 psi)
{
    QByteArray payload(1, 0);
    payload.append(char(quint16(psi) >> 8));
    payload.append(char(psi & 0xFF));
    return answerFrame(PressureMsg, payload);
}

// The receive path's own lines, without the queue's.
QStringList receivePathTexts(const LogCapture &log)
{
    static const QStringList heads
        = { "Received:",   "Trimmed leading", "Buffer truly",     "CRC mismatch!",
            "Unsolicited", "Waiting on:",     "There were bytes", "Pressure message while" };
    QStringList result;
    for (const QString &text : log.textsFrom(QStringLiteral("VX4interface"))) {
        for (const QString &head : heads) {
            if (text.startsWith(head)) {
                result.append(text);
                break;
            }
        }
    }
    return result;
}

QString received(const QByteArray &frame)
{
    return QStringLiteral("Received:  \"%1\"").arg(VX4Message(frame).toString());
}
} // namespace

class TestReceivePath : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void piecesOfBytes_giveFramesAndLogLines_data();
    void piecesOfBytes_giveFramesAndLogLines();
    void pressureFrameWhileRequestWaits_leavesRequestWaiting();
    void answerWithOtherCommand_isDroppedAndHeadKeepsWaiting();
    void unsolicitedAnswerWhileDisconnected_startsConnecting();
    void unsolicitedAnswerWhileConnected_isOnlyLogged();
    void endlessGarbage_keepsBufferBounded();

private:
    /// Sends each piece to the engine and waits until the engine has read it.
    void feed(const QList<QByteArray> &pieces);

    LogCapture *log = nullptr;
    SimLink *link = nullptr;
};

void TestReceivePath::init()
{
    log = new LogCapture;
    link = new SimLink;
    link->sender.setStreamInterval(0);
    link->sender.setSilent(true);
    QVERIFY(link->openEngine());
}

void TestReceivePath::cleanup()
{
    delete link;
    delete log;
}

void TestReceivePath::feed(const QList<QByteArray> &pieces)
{
    for (const QByteArray &piece : pieces) {
        QSignalSpy read(link->engine.get(), &QIODevice::readyRead);
        link->sender.injectGarbage(piece);
        QVERIFY(read.wait(2000));
    }
}

void TestReceivePath::piecesOfBytes_giveFramesAndLogLines_data()
{
    QTest::addColumn<QList<QByteArray>>("pieces");
    QTest::addColumn<QStringList>("logTexts");
    QTest::addColumn<QStringList>("events");

    const QByteArray p100 = pressureFrame(100);
    const QByteArray m200 = pressureFrame(-200);
    QByteArray badCrc = p100;
    badCrc[6] = char(badCrc.at(6) ^ 0xFF);
    QTest::newRow("two frames in one read")
        << QList<QByteArray> { p100 + m200 } << QStringList { received(p100), received(m200) }
        << QStringList { "pressure 100", "pressure -200" };
    QTest::newRow("one frame in two reads")
        << QList<QByteArray> { p100.left(4), p100.mid(4) } << QStringList { received(p100) }
        << QStringList { "pressure 100" };
    QTest::newRow("leading garbage trimmed")
        << QList<QByteArray> { QByteArray::fromHex("0011") + p100 }
        << QStringList { QStringLiteral("Trimmed leading garbage.  Buffer now contains \"%1\"")
                             .arg(QString::fromLatin1(p100.toHex())),
                         received(p100) }
        << QStringList { "pressure 100" };
    QTest::newRow("stray byte waits for a second one")
        << QList<QByteArray> { QByteArray::fromHex("00"), p100 }
        << QStringList { QStringLiteral("Trimmed leading garbage.  Buffer now contains \"%1\"")
                             .arg(QString::fromLatin1(p100.toHex())),
                         received(p100) }
        << QStringList { "pressure 100" };
    QTest::newRow("zero length clears everything")
        << QList<QByteArray> { QByteArray::fromHex("3c00") + p100 + m200 } << QStringList()
        << QStringList();
    QTest::newRow("bad crc then good frame")
        << QList<QByteArray> { badCrc + m200 }
        << QStringList { QStringLiteral("CRC mismatch! \"%1\"")
                             .arg(QString::fromLatin1(badCrc.toHex())),
                         received(m200) }
        << QStringList { "pressure -200" };
    QTest::newRow("nothing but garbage")
        << QList<QByteArray> { QByteArray::fromHex("0102") }
        << QStringList { QStringLiteral(
               "Buffer truly was full of garbage - clearing \"\\x01\\x02\"") }
        << QStringList();
    QTest::newRow("request frames are garbage")
        << QList<QByteArray> { QByteArray::fromHex("3e07008baf0d0a") + p100 }
        << QStringList { QStringLiteral("Trimmed leading garbage.  Buffer now contains \"%1\"")
                             .arg(QString::fromLatin1(p100.toHex())),
                         received(p100) }
        << QStringList { "pressure 100" };
    QTest::newRow("short pressure payload reads 0")
        << QList<QByteArray> { answerFrame(PressureMsg, QByteArray::fromHex("00ff")) }
        << QStringList { received(answerFrame(PressureMsg, QByteArray::fromHex("00ff"))) }
        << QStringList { "pressure 0" };
}

void TestReceivePath::piecesOfBytes_giveFramesAndLogLines()
{
    QFETCH(QList<QByteArray>, pieces);
    QFETCH(QStringList, logTexts);
    QFETCH(QStringList, events);
    // Connecting to a silent sender: pressure frames alone change nothing then.
    link->engine->startConnecting();
    EngineSignals recorded(link->engine.get(), true);
    log->clear();
    feed(pieces);
    QCOMPARE(receivePathTexts(*log), logTexts);
    QCOMPARE(recorded.events, events);
}

void TestReceivePath::pressureFrameWhileRequestWaits_leavesRequestWaiting()
{
    EngineSignals recorded(link->engine.get(), true);
    link->engine->queryMode();
    QCOMPARE(link->engine->queuedMessages().size(), 1);
    feed({ pressureFrame(42) });
    QCOMPARE(recorded.events, QStringList { "pressure 42" });
    QCOMPARE(link->engine->queuedMessages().size(), 1);
    QVERIFY(link->engine->queuedMessages().first().sent);
}

void TestReceivePath::answerWithOtherCommand_isDroppedAndHeadKeepsWaiting()
{
    EngineSignals recorded(link->engine.get(), true);
    link->engine->queryMode();
    const QString head = link->engine->queuedMessages().first().toString();
    log->clear();
    feed({ answerFrame(GetSerial, QByteArray::fromHex("0001")) });
    QVERIFY(log->contains(QStringLiteral("Waiting on: \"%1\"").arg(head)));
    QVERIFY(recorded.events.isEmpty());
    QCOMPARE(link->engine->queuedMessages().size(), 1);

    feed({ answerFrame(ModeQuery, QByteArray::fromHex("01")) });
    QCOMPARE(recorded.events, (QStringList { "mode 1", "response 11" }));
    QVERIFY(link->engine->queuedMessages().isEmpty());
    QCOMPARE(link->engine->mode(), CalibrationMode);
}

void TestReceivePath::unsolicitedAnswerWhileDisconnected_startsConnecting()
{
    const QByteArray frame = answerFrame(AppQuery, QByteArray::fromHex("01"));
    feed({ frame });
    QVERIFY(log->contains(
        QStringLiteral("Unsolicited response: \"%1\"").arg(VX4Message(frame).toString())));
    QCOMPARE(link->engine->connectionState(), VX4Interface::Connecting);
    QCOMPARE(link->engine->queuedMessages().size(), 1);
    QCOMPARE(link->engine->queuedMessages().first().maxSends, FastAppQueryMaxSends);
}

void TestReceivePath::unsolicitedAnswerWhileConnected_isOnlyLogged()
{
    link->sender.setSilent(false);
    link->sender.setStreamInterval(50);
    QSignalSpy connected(link->engine.get(), &VX4Interface::vx4ConnectedSignal);
    link->engine->startConnecting();
    QVERIFY(connected.wait(5000));
    QTRY_VERIFY(link->engine->queuedMessages().isEmpty());
    link->sender.clearRequests();
    const QByteArray frame = answerFrame(GetSerial, QByteArray::fromHex("0009"));
    feed({ frame });
    QVERIFY(log->contains(
        QStringLiteral("Unsolicited response: \"%1\"").arg(VX4Message(frame).toString())));
    QVERIFY(link->engine->isConnected());
    QCOMPARE(link->engine->serialNumber(), quint16(1234));
}

void TestReceivePath::endlessGarbage_keepsBufferBounded()
{
    link->engine->startConnecting();
    // A marker with the largest length byte swallows the next 255 bytes whole; nothing grows.
    EngineSignals recorded(link->engine.get(), true);
    QByteArray noise;
    for (int i = 0; i < 4000; ++i)
        noise.append(char(i % 7 == 0 ? 0x3C : (i * 31) & 0xFF));
    for (int round = 0; round < 5; ++round) {
        feed({ noise });
        QVERIFY(link->engine->pendingBytes() < 255);
    }
    // Whatever the noise left behind, a zero length clears it and frames are read again.
    feed({ QByteArray(255, '\0') + QByteArray::fromHex("3c00") });
    QTRY_COMPARE(link->engine->pendingBytes(), 0);
    recorded.clear();
    feed({ pressureFrame(6) });
    QTRY_COMPARE(recorded.events, QStringList { "pressure 6" });
}

QTEST_GUILESS_MAIN(TestReceivePath)
#include "tst_receivepath.moc"
