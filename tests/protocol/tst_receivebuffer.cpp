// The receive buffer as the engine and the simulator use it: bytes arriving in pieces, one pass
// of parser steps per piece, frames cut with the buffer's own marker, and what stays behind.
#include "receivebuffer.h"
#include "vx4protocol.h"

#include <QtTest>

using namespace VX4Protocol;
using Step = VX4Framing::Step;

namespace {
const QByteArray Answer = QByteArray::fromHex("3c0800015e9b0d0a"); // APP QUERY: application 1
const QByteArray Request = QByteArray::fromHex("3e07008baf0d0a"); // APP QUERY
} // namespace

class TestReceiveBuffer : public QObject
{
    Q_OBJECT

private slots:
    void pieces_giveStepsFramesAndRest_data();
    void pieces_giveStepsFramesAndRest();
};

void TestReceiveBuffer::pieces_giveStepsFramesAndRest_data()
{
    QTest::addColumn<int>("marker");
    QTest::addColumn<QList<QByteArray>>("pieces");
    QTest::addColumn<QList<int>>("steps");
    QTest::addColumn<QList<QByteArray>>("frames");
    QTest::addColumn<QByteArray>("rest");
    const auto steps = [](std::initializer_list<Step> list) {
        QList<int> out;
        for (Step s : list)
            out.append(int(s));
        return out;
    };
    QTest::newRow("frame in two pieces")
        << int(AnswerMarker) << QList<QByteArray> { Answer.left(3), Answer.mid(3) }
        << steps({ Step::NeedMore, Step::Frame, Step::NeedMore }) << QList<QByteArray> { Answer }
        << QByteArray();
    QTest::newRow("two frames in one piece")
        << int(AnswerMarker) << QList<QByteArray> { Answer + Answer }
        << steps({ Step::Frame, Step::Frame, Step::NeedMore })
        << QList<QByteArray> { Answer, Answer } << QByteArray();
    QTest::newRow("own direction only")
        << int(AnswerMarker) << QList<QByteArray> { Request + Answer }
        << steps({ Step::GarbageTrimmed, Step::Frame, Step::NeedMore })
        << QList<QByteArray> { Answer } << QByteArray();
    QTest::newRow("simulator takes requests")
        << int(RequestMarker) << QList<QByteArray> { Answer + Request }
        << steps({ Step::GarbageTrimmed, Step::Frame, Step::NeedMore })
        << QList<QByteArray> { Request } << QByteArray();
    QTest::newRow("stray byte waits for a second")
        << int(AnswerMarker) << QList<QByteArray> { QByteArray::fromHex("00"), Answer }
        << steps({ Step::NeedMore, Step::GarbageTrimmed, Step::Frame, Step::NeedMore })
        << QList<QByteArray> { Answer } << QByteArray();
    QTest::newRow("garbage cleared, next frame kept")
        << int(AnswerMarker) << QList<QByteArray> { QByteArray::fromHex("0011"), Answer }
        << steps({ Step::GarbageCleared, Step::Frame, Step::NeedMore })
        << QList<QByteArray> { Answer } << QByteArray();
    QTest::newRow("zero length drops frames behind it")
        << int(AnswerMarker) << QList<QByteArray> { QByteArray::fromHex("3c00") + Answer }
        << steps({ Step::ZeroLengthCleared }) << QList<QByteArray>() << QByteArray();
    QTest::newRow("bad crc, then frame, then a partial one")
        << int(AnswerMarker)
        << QList<QByteArray> { QByteArray::fromHex("3c0800015e9c0d0a") + Answer + Answer.left(4) }
        << steps({ Step::CrcMismatch, Step::Frame, Step::NeedMore }) << QList<QByteArray> { Answer }
        << Answer.left(4);
}

void TestReceiveBuffer::pieces_giveStepsFramesAndRest()
{
    QFETCH(int, marker);
    QFETCH(QList<QByteArray>, pieces);
    QFETCH(QList<int>, steps);
    QFETCH(QList<QByteArray>, frames);
    QFETCH(QByteArray, rest);
    VX4ReceiveBuffer buffer { char(marker) };
    QList<int> seen;
    QList<QByteArray> cut;
    for (const QByteArray &piece : pieces) {
        buffer.append(piece);
        for (int guard = 0; guard < 20; ++guard) {
            const VX4Framing::Cut step = buffer.next();
            seen.append(int(step.step));
            if (step.step == Step::Frame)
                cut.append(step.bytes);
            if (VX4ReceiveBuffer::endsPass(step.step))
                break;
        }
    }
    QCOMPARE(seen, steps);
    QCOMPARE(cut, frames);
    QCOMPARE(buffer.bytes().toHex(), rest.toHex());
    QCOMPARE(buffer.size(), rest.size());
}

QTEST_APPLESS_MAIN(TestReceiveBuffer)
#include "tst_receivebuffer.moc"
