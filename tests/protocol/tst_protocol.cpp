// The protocol's pure rules: frames and their CRC, answer payloads that are short or out of range,
// and what the firmware version decides. Cutting frames and numbers on the wire show in tst_device.
#include "VX4message.h"
#include "decoding.h"
#include "senderidentity.h"
#include "vx4protocol.h"

#include <QtTest>

using namespace VX4Protocol;

class TestProtocol : public QObject
{
    Q_OBJECT

private slots:
    void frames_carryCrcThatCatchesAnyAlteredByte_data();
    void frames_carryCrcThatCatchesAnyAlteredByte();
    void answerPayloads_decodeOrFallBackAndDecide_data();
    void answerPayloads_decodeOrFallBackAndDecide();
};

void TestProtocol::frames_carryCrcThatCatchesAnyAlteredByte_data()
{
    QTest::addColumn<int>("marker");
    QTest::addColumn<int>("command");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QByteArray>("frame");
    QTest::newRow("application query")
        << int(RequestMarker) << 0 << QByteArray() << QByteArray::fromHex("3e07008baf0d0a");
    QTest::newRow("firmware version")
        << int(RequestMarker) << 16 << QByteArray() << QByteArray::fromHex("3e0710999e0d0a");
    QTest::newRow("set serial 1234") << int(RequestMarker) << 17 << QByteArray::fromHex("04d2")
                                     << QByteArray::fromHex("3e091104d272950d0a");
    QTest::newRow("application answer") << int(AnswerMarker) << 0 << QByteArray::fromHex("01")
                                        << QByteArray::fromHex("3c0800015e9b0d0a");
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
    for (int i = 0; i < frame.size(); ++i) {
        QByteArray altered = frame;
        altered[i] = char(altered.at(i) ^ 0x10);
        // The terminator is outside the CRC.
        QCOMPARE(VX4Message::checkCrc(altered), i >= frame.size() - 2);
    }
}

void TestProtocol::answerPayloads_decodeOrFallBackAndDecide_data()
{
    QTest::addColumn<QString>("what");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QString>("decoded");
    const auto row = [](const char *what, const char *hex, const QString &decoded) {
        QTest::addRow("%s %s", what, hex) << what << QByteArray::fromHex(hex) << decoded;
    };
    row("app", "02", "2");
    row("app", "", "2");
    row("mode", "02", "1");
    row("mode", "03", "2");
    row("offset", "12", "-30000");
    row("serial", "04", "0");
    row("firmware", "05", "0.0");
    row("pressure", "00ff", "0");
    row("caldate", "0207de03050907", "2014-03-05 09:07");
    row("caldate", "0107de03050907", "invalid"); // no date stored
    row("caldate", "0007de030509", "invalid");
    row("caldate", "0007de0d050907", "invalid");
    // What the firmware version (major, minor) decides.
    row("has offset", "0006", "0");
    row("has offset", "0007", "1");
    row("serial text", "04007b", "OVX4-0123"); // major, serial number
    row("serial text", "05002a", "OVX5-0042");
    row("serial text", "0affff", "OVX10-65535");
    row("serial text", "ff002a", "invalid"); // version unknown
}

void TestProtocol::answerPayloads_decodeOrFallBackAndDecide()
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
    else if (what == "has offset")
        text = QString::number(
            VX4Identity::firmwareHasAdOffset(quint8(payload.at(0)), quint8(payload.at(1))));
    else if (what == "serial text")
        text = VX4Identity::serialNumberText(VX4Decode::serialNumber(payload.mid(1)),
                                             quint8(payload.at(0)));
    else if (what == "caldate")
        text = VX4Decode::calDateTime(payload).toString("yyyy-MM-dd HH:mm");
    else {
        quint8 major = 99, minor = 99;
        VX4Decode::firmwareVersion(payload, major, minor);
        text = QString("%1.%2").arg(major).arg(minor);
    }
    QCOMPARE(text.isEmpty() ? QString("invalid") : text, decoded);
}

QTEST_APPLESS_MAIN(TestProtocol)
#include "tst_protocol.moc"
