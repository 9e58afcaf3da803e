// The protocol's pure rules: frames and their CRC, answer payloads that are short or out of range,
// and what the firmware version decides. Cutting frames and numbers on the wire show in tst_device.
#include "VX4message.h"
#include "decoding.h"
#include "senderidentity.h"

#include <QtTest>

using Decode = std::function<QString(const QByteArray &)>;

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
    QTest::addColumn<QByteArray>("frame"); // marker, length, command, payload, CRC, CR LF
    QTest::newRow("application query") << QByteArray::fromHex("3e07008baf0d0a");
    QTest::newRow("set serial 1234") << QByteArray::fromHex("3e091104d272950d0a");
    QTest::newRow("application answer") << QByteArray::fromHex("3c0800015e9b0d0a");
}

void TestProtocol::frames_carryCrcThatCatchesAnyAlteredByte()
{
    QFETCH(QByteArray, frame);
    const QByteArray payload = frame.mid(3, frame.size() - 7);
    QCOMPARE(VX4Message::buildFrame(frame[0], frame[1], frame[2], payload), frame);
    for (int i = 0; i < frame.size(); ++i) {
        QByteArray altered = frame;
        altered[i] = char(altered.at(i) ^ 0x10);
        // The terminator is outside the CRC.
        QCOMPARE(VX4Message::checkCrc(altered), i >= frame.size() - 2);
    }
}

void TestProtocol::answerPayloads_decodeOrFallBackAndDecide_data()
{
    QTest::addColumn<Decode>("decode");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QString>("decoded"); // empty: no valid value
    const auto number = [](auto decode) {
        return Decode([decode](const QByteArray &p) { return QString::number(decode(p)); });
    };
    const Decode firmware = [](const QByteArray &p) {
        quint8 major = 99, minor = 99;
        VX4Decode::firmwareVersion(p, major, minor);
        const bool hasOffset = VX4Identity::firmwareHasAdOffset(major, minor);
        return QString("%1.%2 %3").arg(major).arg(minor).arg(hasOffset);
    };
    const Decode caldate = [](const QByteArray &p) {
        return VX4Decode::calDateTime(p).toString("yyyy-MM-dd HH:mm");
    };
    const Decode serialText = [](const QByteArray &p) {
        return VX4Identity::serialNumberText(VX4Decode::serialNumber(p.mid(1)), quint8(p.at(0)));
    };
    const auto row = [](const char *what, const Decode &decode, const char *hex, const char *out) {
        QTest::addRow("%s %s", what, hex) << decode << QByteArray::fromHex(hex) << QString(out);
    };
    row("app", number(VX4Decode::app), "", "2");
    row("mode", number(VX4Decode::mode), "03", "2");
    row("offset", number(VX4Decode::adOffset), "12", "-30000");
    row("serial", number(VX4Decode::serialNumber), "04", "0");
    row("pressure", number(VX4Decode::pressure), "00ff", "0");
    row("firmware", firmware, "05", "0.0 0");
    row("firmware", firmware, "0006", "0.6 0");
    row("firmware", firmware, "0007", "0.7 1"); // the first with an A/D offset
    row("caldate", caldate, "0207de03050907", "2014-03-05 09:07");
    row("caldate", caldate, "0107de03050907", ""); // no date stored
    row("caldate", caldate, "0007de030509", "");
    row("caldate", caldate, "0007de0d050907", "");
    row("serial text", serialText, "04007b", "OVX4-0123"); // major, serial number
    row("serial text", serialText, "05002a", "OVX5-0042");
    row("serial text", serialText, "ff002a", ""); // version unknown
}

void TestProtocol::answerPayloads_decodeOrFallBackAndDecide()
{
    QFETCH(Decode, decode);
    QFETCH(QByteArray, payload);
    QFETCH(QString, decoded);
    QCOMPARE(decode(payload), decoded);
}

QTEST_APPLESS_MAIN(TestProtocol)
#include "tst_protocol.moc"
