// The protocol's pure rules: frames and their CRC, cutting frames out of received bytes, numbers
// on the wire, decoding of answer payloads, the A/D status byte and what the firmware version
// decides.
#include "VX4message.h"
#include "adstatus.h"
#include "bytes.h"
#include "decoding.h"
#include "receivebuffer.h"
#include "senderidentity.h"
#include "vx4protocol.h"

#include <QtTest>

using namespace VX4Protocol;
using Step = VX4Framing::Step;

namespace {
const QByteArray Answer = QByteArray::fromHex("3c0800015e9b0d0a"); // APP QUERY: application 1
const QByteArray Request = QByteArray::fromHex("3e07008baf0d0a"); // APP QUERY
} // namespace

class TestProtocol : public QObject
{
    Q_OBJECT

private slots:
    void frames_carryCrcThatCatchesAnyAlteredByte_data();
    void frames_carryCrcThatCatchesAnyAlteredByte();
    void receivedPieces_giveFramesAndKeepOnlyAnIncompleteOne_data();
    void receivedPieces_giveFramesAndKeepOnlyAnIncompleteOne();
    void wireNumbers_highByteFirstAndAddressesTwentyFourBits_data();
    void wireNumbers_highByteFirstAndAddressesTwentyFourBits();
    void answerPayloads_decodeOrFallBack_data();
    void answerPayloads_decodeOrFallBack();
    void firmwareVersion_decidesOffsetAndSerialPrefix_data();
    void firmwareVersion_decidesOffsetAndSerialPrefix();
    void adStatus_givesTextsAndVoltsOnlyWhenOk_data();
    void adStatus_givesTextsAndVoltsOnlyWhenOk();
};

void TestProtocol::frames_carryCrcThatCatchesAnyAlteredByte_data()
{
    QTest::addColumn<int>("marker");
    QTest::addColumn<int>("command");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QByteArray>("frame");
    QTest::newRow("application query") << int(RequestMarker) << 0 << QByteArray() << Request;
    QTest::newRow("firmware version")
        << int(RequestMarker) << 16 << QByteArray() << QByteArray::fromHex("3e0710999e0d0a");
    QTest::newRow("set serial 1234") << int(RequestMarker) << 17 << QByteArray::fromHex("04d2")
                                     << QByteArray::fromHex("3e091104d272950d0a");
    QTest::newRow("application answer")
        << int(AnswerMarker) << 0 << QByteArray::fromHex("01") << Answer;
}

void TestProtocol::frames_carryCrcThatCatchesAnyAlteredByte()
{
    QFETCH(int, marker);
    QFETCH(int, command);
    QFETCH(QByteArray, payload);
    QFETCH(QByteArray, frame);
    const quint8 length = quint8(FrameOverhead + payload.size());
    QCOMPARE(VX4Message::buildFrame(quint8(marker), length, quint8(command), payload).toHex(),
             frame.toHex());
    QVERIFY(VX4Message::checkCrc(frame));
    for (int i = 0; i < frame.size(); ++i) {
        QByteArray altered = frame;
        altered[i] = char(altered.at(i) ^ 0x10);
        // The terminator is outside the CRC.
        QCOMPARE(VX4Message::checkCrc(altered), i >= frame.size() - 2);
    }
}

void TestProtocol::receivedPieces_giveFramesAndKeepOnlyAnIncompleteOne_data()
{
    QTest::addColumn<int>("marker");
    QTest::addColumn<QList<QByteArray>>("pieces");
    QTest::addColumn<QList<Step>>("steps");
    QTest::addColumn<QList<QByteArray>>("frames");
    QTest::addColumn<QByteArray>("rest");
    const auto answers = [](int n) { return QList<QByteArray>(n, Answer); };
    const QByteArray badCrc = QByteArray::fromHex("3c0800015e9c0d0a");
    const int a = AnswerMarker;
    QTest::newRow("frame in two pieces")
        << a << QList<QByteArray> { Answer.left(3), Answer.mid(3) }
        << QList<Step> { Step::NeedMore, Step::Frame, Step::NeedMore } << answers(1)
        << QByteArray();
    QTest::newRow("two frames in one piece")
        << a << QList<QByteArray> { Answer + Answer }
        << QList<Step> { Step::Frame, Step::Frame, Step::NeedMore } << answers(2) << QByteArray();
    QTest::newRow("request frames are garbage to the engine")
        << a << QList<QByteArray> { Request + Answer }
        << QList<Step> { Step::GarbageTrimmed, Step::Frame, Step::NeedMore } << answers(1)
        << QByteArray();
    QTest::newRow("the simulator takes requests")
        << int(RequestMarker) << QList<QByteArray> { Answer + Request }
        << QList<Step> { Step::GarbageTrimmed, Step::Frame, Step::NeedMore }
        << QList<QByteArray> { Request } << QByteArray();
    QTest::newRow("stray byte waits for a second")
        << a << QList<QByteArray> { QByteArray::fromHex("00"), Answer }
        << QList<Step> { Step::NeedMore, Step::GarbageTrimmed, Step::Frame, Step::NeedMore }
        << answers(1) << QByteArray();
    QTest::newRow("garbage cleared, next frame kept")
        << a << QList<QByteArray> { QByteArray::fromHex("0011"), Answer }
        << QList<Step> { Step::GarbageCleared, Step::Frame, Step::NeedMore } << answers(1)
        << QByteArray();
    QTest::newRow("zero length drops frames behind it")
        << a << QList<QByteArray> { QByteArray::fromHex("3c00") + Answer }
        << QList<Step> { Step::ZeroLengthCleared } << answers(0) << QByteArray();
    QTest::newRow("bad crc, frame, partial frame")
        << a << QList<QByteArray> { badCrc + Answer + Answer.left(4) }
        << QList<Step> { Step::CrcMismatch, Step::Frame, Step::NeedMore } << answers(1)
        << Answer.left(4);
    QTest::newRow("length one is a bad frame")
        << a << QList<QByteArray> { QByteArray::fromHex("3c01") }
        << QList<Step> { Step::CrcMismatch, Step::NeedMore } << answers(0)
        << QByteArray::fromHex("01");
}

void TestProtocol::receivedPieces_giveFramesAndKeepOnlyAnIncompleteOne()
{
    QFETCH(int, marker);
    QFETCH(QList<QByteArray>, pieces);
    QFETCH(QList<Step>, steps);
    QFETCH(QList<QByteArray>, frames);
    QFETCH(QByteArray, rest);
    VX4ReceiveBuffer buffer { char(marker) };
    QList<Step> seen;
    QList<QByteArray> cut;
    for (const QByteArray &piece : pieces) {
        buffer.append(piece);
        for (int guard = 0; guard < 20; ++guard) {
            const VX4Framing::Cut step = buffer.next();
            seen.append(step.step);
            if (step.step == Step::Frame)
                cut.append(step.bytes);
            if (VX4ReceiveBuffer::endsPass(step.step))
                break;
        }
    }
    QCOMPARE(seen, steps);
    QCOMPARE(cut, frames);
    QCOMPARE(buffer.bytes().toHex(), rest.toHex());
}

void TestProtocol::wireNumbers_highByteFirstAndAddressesTwentyFourBits_data()
{
    QTest::addColumn<bool>("address");
    QTest::addColumn<qint64>("value");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("word") << false << qint64(0x1234) << QByteArray::fromHex("1234");
    QTest::newRow("word, high bit") << false << qint64(0x8001) << QByteArray::fromHex("8001");
    QTest::newRow("address, three bytes")
        << true << qint64(0xFE7F40) << QByteArray::fromHex("fe7f40");
    QTest::newRow("address, top of range")
        << true << qint64(0xFFFFFF) << QByteArray::fromHex("ffffff");
    QTest::newRow("address, higher bits dropped")
        << true << qint64(0xAB123456) << QByteArray::fromHex("123456");
}

void TestProtocol::wireNumbers_highByteFirstAndAddressesTwentyFourBits()
{
    QFETCH(bool, address);
    QFETCH(qint64, value);
    QFETCH(QByteArray, bytes);
    QByteArray written("x");
    if (address)
        VX4Bytes::appendAddress24(written, value);
    else
        VX4Bytes::appendWord(written, quint16(value));
    QCOMPARE(written.mid(1).toHex(), bytes.toHex());
    // Read back behind a leading byte, so a reader ignoring its index fails.
    const qint64 read = address ? VX4Bytes::address24At(written, 1) : VX4Bytes::wordAt(written, 1);
    QCOMPARE(read, value & 0xFFFFFF);
}

void TestProtocol::answerPayloads_decodeOrFallBack_data()
{
    QTest::addColumn<QString>("what");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QString>("decoded");
    const auto row = [](const char *what, const char *hex, const QString &decoded) {
        QTest::addRow("%s %s", what, hex) << what << QByteArray::fromHex(hex) << decoded;
    };
    row("app", "00", "0");
    row("app", "01", "1");
    row("app", "02", "2");
    row("app", "", "2");
    row("mode", "00", "0");
    row("mode", "01", "1");
    row("mode", "02", "1");
    row("mode", "03", "2");
    row("offset", "ff9c", "-100");
    row("offset", "12", "-30000");
    row("serial", "04d2", "1234");
    row("serial", "04", "0");
    row("firmware", "0007", "0.7");
    row("firmware", "05", "0.0");
    row("pressure", "00ff38", "-200");
    row("pressure", "000bb8", "3000");
    row("pressure", "00ff", "0");
    row("caldate", "0007de03050907", "2014-03-05 09:07");
    row("caldate", "0207de03050907", "2014-03-05 09:07");
    row("caldate", "0107de03050907", "invalid"); // no date stored
    row("caldate", "0007de030509", "invalid");
    row("caldate", "0007de0d050907", "invalid");
}

void TestProtocol::answerPayloads_decodeOrFallBack()
{
    QFETCH(QString, what);
    QFETCH(QByteArray, payload);
    QFETCH(QString, decoded);
    QString text;
    if (what == "app")
        text = QString::number(VX4Decode::app(payload));
    else if (what == "mode")
        text = QString::number(VX4Decode::mode(payload));
    else if (what == "offset")
        text = QString::number(VX4Decode::adOffset(payload));
    else if (what == "serial")
        text = QString::number(VX4Decode::serialNumber(payload));
    else if (what == "pressure")
        text = QString::number(VX4Decode::pressure(payload));
    else if (what == "caldate")
        text = VX4Decode::calDateTime(payload).toString("yyyy-MM-dd HH:mm");
    else {
        quint8 major = 99, minor = 99;
        VX4Decode::firmwareVersion(payload, major, minor);
        text = QString("%1.%2").arg(major).arg(minor);
    }
    QCOMPARE(text.isEmpty() ? QString("invalid") : text, decoded);
}

void TestProtocol::firmwareVersion_decidesOffsetAndSerialPrefix_data()
{
    QTest::addColumn<int>("major");
    QTest::addColumn<int>("minor");
    QTest::addColumn<int>("serial");
    QTest::addColumn<bool>("hasOffset");
    QTest::addColumn<QString>("text");
    QTest::newRow("0.6") << 0 << 6 << 7 << false << "OVX4-0007";
    QTest::newRow("0.7") << 0 << 7 << 7 << true << "OVX4-0007";
    QTest::newRow("4.0") << 4 << 0 << 123 << true << "OVX4-0123";
    QTest::newRow("5.0") << 5 << 0 << 42 << true << "OVX5-0042";
    QTest::newRow("10.0, five digits") << 10 << 0 << 65535 << true << "OVX10-65535";
    QTest::newRow("unknown version") << 255 << 0 << 42 << true << QString();
}

void TestProtocol::firmwareVersion_decidesOffsetAndSerialPrefix()
{
    QFETCH(int, major);
    QFETCH(int, minor);
    QFETCH(int, serial);
    QFETCH(bool, hasOffset);
    QFETCH(QString, text);
    QCOMPARE(VX4Identity::firmwareHasAdOffset(quint8(major), quint8(minor)), hasOffset);
    QCOMPARE(VX4Identity::serialNumberText(quint16(serial), quint8(major)), text);
}

void TestProtocol::adStatus_givesTextsAndVoltsOnlyWhenOk_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QString>("logText");
    QTest::addColumn<QString>("displayText");
    QTest::addColumn<double>("volts");
    QTest::newRow("ok, full scale") << QByteArray::fromHex("007fff") << QString() << "Okay" << 3.0;
    QTest::newRow("ok, negative") << QByteArray::fromHex("00c000") << QString() << "Okay"
                                  << -1.5000457763671875;
    QTest::newRow("timeout") << QByteArray::fromHex("017fff") << "A/D reported a timeout"
                             << "A/D timeout" << 0.0;
    QTest::newRow("nack") << QByteArray::fromHex("027fff") << "NACK received from A/D"
                          << "A/D NACK" << 0.0;
    QTest::newRow("config byte") << QByteArray::fromHex("037fff")
                                 << "ADS1100 configuration byte != 0x8C"
                                 << "A/D Bad Config Byte" << 0.0;
    QTest::newRow("unknown code") << QByteArray::fromHex("047fff") << QString() << QString() << 0.0;
    QTest::newRow("ok but short") << QByteArray::fromHex("007f") << QString() << "Okay" << 0.0;
}

void TestProtocol::adStatus_givesTextsAndVoltsOnlyWhenOk()
{
    QFETCH(QByteArray, payload);
    QFETCH(QString, logText);
    QFETCH(QString, displayText);
    QFETCH(double, volts);
    const quint8 status = quint8(payload.at(0));
    QCOMPARE(QString::fromLatin1(VX4AdStatus::logText(status)), logText);
    QCOMPARE(QString::fromLatin1(VX4AdStatus::displayText(status)), displayText);
    QVERIFY(qAbs(VX4AdStatus::countsToVolts(payload) - volts) < 1e-6);
}

QTEST_APPLESS_MAIN(TestProtocol)
#include "tst_protocol.moc"
