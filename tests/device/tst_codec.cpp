// Frames, CRC, message rendering, the request operations' frames and the decoding of answers:
// everything of the protocol that takes bytes and returns values.
#include "VX4interface.h"
#include "crcengine.h"
#include "decoding.h"
#include "framing.h"
#include "logcapture.h"
#include "programmemoryrow.h"
#include "vx4protocol.h"

#include <QtTest>

using namespace VX4Protocol;

class TestCodec : public QObject
{
    Q_OBJECT

private slots:
    void crc16_checkValues_data();
    void crc16_checkValues();
    void crcEngine_otherParametersMatchCatalogue_data();
    void crcEngine_otherParametersMatchCatalogue();
    void crcEngine_continuesFromPreviousRegister();
    void reflect_data();
    void reflect();

    void workedFrames_buildAndCheck_data();
    void workedFrames_buildAndCheck();
    void checkCrc_failsOnAnyAlteredByte();
    void checkCrc_ignoresTerminator();
    void checkCrc_shortFramesNeverPass_data();
    void checkCrc_shortFramesNeverPass();

    void frameConstructor_edgeLengths_data();
    void frameConstructor_edgeLengths();
    void toString_renderings_data();
    void toString_renderings();
    void commandName_namesAndNumbers_data();
    void commandName_namesAndNumbers();

    void requestOperations_buildTableFrames_data();
    void requestOperations_buildTableFrames();
    void writeProgramMemory_refusesRowsThatAreNotWholeRows();

    void framing_resynchronisesAndCuts_data();
    void framing_resynchronisesAndCuts();

    void decode_answers_data();
    void decode_answers();
    void decode_calDateTime_data();
    void decode_calDateTime();
    void adCountsToVolts_data();
    void adCountsToVolts();
    void appAndModeTexts();
};

void TestCodec::crc16_checkValues_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<quint16>("crc");
    QTest::newRow("check string") << QByteArray("123456789") << quint16(0x29B1);
    QTest::newRow("empty") << QByteArray() << quint16(0xFFFF);
    QTest::newRow("marker only") << QByteArray("<") << quint16(0x162F);
    QTest::newRow("marker and length 4") << QByteArray::fromHex("3c04") << quint16(0x1D73);
}

void TestCodec::crc16_checkValues()
{
    QFETCH(QByteArray, bytes);
    QFETCH(quint16, crc);
    QCOMPARE(VX4Message::crc16(bytes), crc);
}

void TestCodec::crcEngine_otherParametersMatchCatalogue_data()
{
    // Published check values of "123456789" for other members of the family, so the general
    // width and reflection paths are right and not only the protocol's parameters.
    QTest::addColumn<int>("width");
    QTest::addColumn<quint32>("poly");
    QTest::addColumn<quint32>("init");
    QTest::addColumn<bool>("refIn");
    QTest::addColumn<bool>("refOut");
    QTest::addColumn<quint32>("xorOut");
    QTest::addColumn<quint32>("check");
    QTest::newRow("CRC-8") << 8 << 0x07u << 0x00u << false << false << 0x00u << 0xF4u;
    QTest::newRow("CRC-16/ARC") << 16 << 0x8005u << 0x0000u << true << true << 0x0000u << 0xBB3Du;
    QTest::newRow("CRC-16/XMODEM") << 16 << 0x1021u << 0x0000u << false << false << 0u << 0x31C3u;
    QTest::newRow("CRC-16/X-25") << 16 << 0x1021u << 0xFFFFu << true << true << 0xFFFFu << 0x906Eu;
    QTest::newRow("CRC-24/OPENPGP")
        << 24 << 0x864CFBu << 0xB704CEu << false << false << 0u << 0x21CF02u;
}

void TestCodec::crcEngine_otherParametersMatchCatalogue()
{
    QFETCH(int, width);
    QFETCH(quint32, poly);
    QFETCH(quint32, init);
    QFETCH(bool, refIn);
    QFETCH(bool, refOut);
    QFETCH(quint32, xorOut);
    QFETCH(quint32, check);
    CrcEngine engine(qint16(width), poly, init, refIn, refOut, xorOut);
    QCOMPARE(engine.compute("123456789"), check);
}

void TestCodec::crcEngine_continuesFromPreviousRegister()
{
    CrcEngine split(16, 0x1021, 0xFFFF, false, false, 0);
    split.compute("1234");
    QCOMPARE(split.compute("56789"), quint32(0x29B1));
}

void TestCodec::reflect_data()
{
    QTest::addColumn<quint32>("value");
    QTest::addColumn<int>("bits");
    QTest::addColumn<quint32>("result");
    QTest::newRow("byte") << 0x01u << 8 << 0x80u;
    QTest::newRow("keeps upper bits") << 0xAB01u << 8 << 0xAB80u;
    QTest::newRow("16 bits") << 0x1234u << 16 << 0x2C48u;
    QTest::newRow("zero bits") << 0x1234u << 0 << 0x1234u;
    QTest::newRow("negative bits") << 0x1234u << -3 << 0x1234u;
}

void TestCodec::reflect()
{
    QFETCH(quint32, value);
    QFETCH(int, bits);
    QFETCH(quint32, result);
    QCOMPARE(CrcEngine::reflect(value, bits), result);
}

void TestCodec::workedFrames_buildAndCheck_data()
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

void TestCodec::workedFrames_buildAndCheck()
{
    QFETCH(int, marker);
    QFETCH(int, command);
    QFETCH(QByteArray, payload);
    QFETCH(QByteArray, frame);
    const quint8 length = quint8(FrameOverhead + payload.size());
    QCOMPARE(VX4Message::buildFrame(quint8(marker), length, quint8(command), payload).toHex(),
             frame.toHex());
    QVERIFY(VX4Message::checkCrc(frame));
    if (marker == RequestMarker) {
        const VX4Message request(quint8(command), length, 500, payload, 3);
        QCOMPARE(request.frame.toHex(), frame.toHex());
        QCOMPARE(request.sendCount, quint16(0));
        QVERIFY(!request.sent);
        QVERIFY(!request.isEmpty());
    }
}

void TestCodec::checkCrc_failsOnAnyAlteredByte()
{
    const QList<QByteArray> frames
        = { QByteArray::fromHex("3e07008baf0d0a"), QByteArray::fromHex("3e091104d272950d0a"),
            QByteArray::fromHex("3c0800015e9b0d0a") };
    for (const QByteArray &frame : frames) {
        for (int i = 0; i < frame.size() - 2; ++i) {
            for (int bit = 0; bit < 8; ++bit) {
                QByteArray altered = frame;
                altered[i] = char(altered.at(i) ^ (1 << bit));
                QVERIFY2(!VX4Message::checkCrc(altered),
                         qPrintable(QStringLiteral("byte %1 bit %2 of %3")
                                        .arg(i)
                                        .arg(bit)
                                        .arg(QString::fromLatin1(frame.toHex()))));
            }
        }
    }
}

void TestCodec::checkCrc_ignoresTerminator()
{
    QVERIFY(VX4Message::checkCrc(QByteArray::fromHex("3c0800015e9b0000")));
    QVERIFY(VX4Message::checkCrc(QByteArray::fromHex("3c0800015e9bffff")));
}

void TestCodec::checkCrc_shortFramesNeverPass_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("1 byte") << QByteArray::fromHex("3c");
    QTest::newRow("2 bytes") << QByteArray::fromHex("3c02");
    QTest::newRow("3 bytes") << QByteArray::fromHex("3c0300");
    QTest::newRow("4 bytes") << QByteArray::fromHex("3c040d0a");
}

void TestCodec::checkCrc_shortFramesNeverPass()
{
    QFETCH(QByteArray, frame);
    QVERIFY(!VX4Message::checkCrc(frame));
}

void TestCodec::frameConstructor_edgeLengths_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<bool>("empty");
    QTest::addColumn<QByteArray>("payload");
    QTest::newRow("4 bytes") << QByteArray::fromHex("3c040d0a") << true << QByteArray();
    QTest::newRow("5 bytes") << QByteArray::fromHex("3c05000d0a") << false << QByteArray();
    QTest::newRow("6 bytes") << QByteArray::fromHex("3c0600000d0a") << false << QByteArray();
    QTest::newRow("7 bytes") << QByteArray::fromHex("3e07008baf0d0a") << false << QByteArray();
    QTest::newRow("8 bytes") << QByteArray::fromHex("3c0800015e9b0d0a") << false
                             << QByteArray::fromHex("01");
}

void TestCodec::frameConstructor_edgeLengths()
{
    QFETCH(QByteArray, frame);
    QFETCH(bool, empty);
    QFETCH(QByteArray, payload);
    const VX4Message msg(frame);
    QCOMPARE(msg.isEmpty(), empty);
    QCOMPARE(msg.payload, payload);
    QCOMPARE(msg.frame, frame);
    if (!empty) {
        QCOMPARE(msg.length, quint8(frame.at(1)));
        QCOMPARE(msg.command, quint8(frame.at(2)));
        QCOMPARE(msg.timeoutMs, quint16(500));
        QCOMPARE(msg.maxSends, quint16(3));
    }
}

void TestCodec::toString_renderings_data()
{
    QTest::addColumn<VX4Message>("msg");
    QTest::addColumn<QString>("text");
    VX4Message sentQuery(0, 7, 500, {}, 3);
    sentQuery.sendCount = 1;
    QTest::newRow("request after first send")
        << sentQuery << QStringLiteral("PC -> VX4, 1/3, 500, APP QUERY, 3e07008baf0d0a");
    QTest::newRow("answer") << VX4Message(QByteArray::fromHex("3c0800015e9b0d0a"))
                            << QStringLiteral("PC <- VX4, 0/3, 500, APP QUERY, 3c0800015e9b0d0a");
    QTest::newRow("invalid head")
        << VX4Message(QByteArray::fromHex("410800015e9b0d0a"))
        << QStringLiteral("INVALID MESSAGE HEAD, 0/3, 500, APP QUERY, 410800015e9b0d0a");
    QTest::newRow("unnamed code") << VX4Message(QByteArray::fromHex("3c0713aaaa0d0a"))
                                  << QStringLiteral("PC <- VX4, 0/3, 500, 19, 3c0713aaaa0d0a");
    QTest::newRow("default") << VX4Message() << QStringLiteral("Empty VX4Message");
    QTest::newRow("short frame") << VX4Message(QByteArray::fromHex("3c040d0a"))
                                 << QStringLiteral("Empty VX4Message");
}

void TestCodec::toString_renderings()
{
    QFETCH(VX4Message, msg);
    QFETCH(QString, text);
    QCOMPARE(msg.toString(), text);
}

void TestCodec::commandName_namesAndNumbers_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("name");
    QTest::newRow("0") << 0 << "APP QUERY";
    QTest::newRow("7") << 7 << "GET BOOTLOADER VER";
    QTest::newRow("8") << 8 << "8";
    QTest::newRow("9") << 9 << "9";
    QTest::newRow("10") << 10 << "PRESSURE MSG";
    QTest::newRow("16") << 16 << "GET FIRM. VER.";
    QTest::newRow("19") << 19 << "19";
    QTest::newRow("20") << 20 << "SET A/D ADDR";
    QTest::newRow("24") << 24 << "GET OFFSET";
    QTest::newRow("25") << 25 << "25";
    QTest::newRow("255") << 255 << "255";
}

void TestCodec::commandName_namesAndNumbers()
{
    QFETCH(int, code);
    QFETCH(QString, name);
    QCOMPARE(VX4Message::commandName(code), name);
}

void TestCodec::requestOperations_buildTableFrames_data()
{
    QTest::addColumn<std::function<void(VX4Interface &)>>("operation");
    QTest::addColumn<QByteArray>("frameWithoutCrc");
    QTest::addColumn<int>("timeoutMs");
    QTest::addColumn<int>("maxSends");
    using Op = std::function<void(VX4Interface &)>;
    ProgramMemoryRow row(64);
    row.address = 0x012340;
    for (int k = 0; k < 64; ++k)
        row.words[k] = quint32(0x1000 + k);
    QByteArray rowPayload = QByteArray::fromHex("012340");
    for (int k = 0; k < 64; ++k)
        rowPayload.append(QByteArray::fromHex(QByteArray::number(0x1000 + k, 16)));

    QTest::newRow("queryApp") << Op([](VX4Interface &e) { e.queryApp(); })
                              << QByteArray::fromHex("3e0700") << 500 << 3;
    QTest::newRow("resetDevice") << Op([](VX4Interface &e) { e.resetDevice(); })
                                 << QByteArray::fromHex("3e0702") << 0 << 3;
    QTest::newRow("writeProgramMemory") << Op([row](VX4Interface &e) { e.writeProgramMemory(row); })
                                        << QByteArray::fromHex("3e8a03") + rowPayload << 1000 << 3;
    QTest::newRow("readProgramMemory")
        << Op([](VX4Interface &e) { e.readProgramMemory(0x7abcdef); })
        << QByteArray::fromHex("3e0a04abcdef") << 1000 << 3;
    QTest::newRow("writeEeprom") << Op([](VX4Interface &e) { e.writeEeprom(0x10203, 0xA5); })
                                 << QByteArray::fromHex("3e0a050203a5") << 1000 << 3;
    QTest::newRow("readEeprom") << Op([](VX4Interface &e) { e.readEeprom(0x1ff); })
                                << QByteArray::fromHex("3e090601ff") << 500 << 3;
    QTest::newRow("queryMode") << Op([](VX4Interface &e) { e.queryMode(); })
                               << QByteArray::fromHex("3e070b") << 500 << 3;
    QTest::newRow("switchMode") << Op([](VX4Interface &e) { e.switchMode(CalibrationMode); })
                                << QByteArray::fromHex("3e080c01") << 500 << 3;
    QTest::newRow("capturePressure") << Op([](VX4Interface &e) { e.capturePressure(4, 3000); })
                                     << QByteArray::fromHex("3e0a0d040bb8") << 1000 << 3;
    QTest::newRow("saveCalDateTime")
        << Op([](VX4Interface &e) { e.saveCalDateTime(2026, 12, 6, 21, 5); })
        << QByteArray::fromHex("3e0d0e07ea0c061505") << 1000 << 3;
    QTest::newRow("requestCalDateTime") << Op([](VX4Interface &e) { e.requestCalDateTime(); })
                                        << QByteArray::fromHex("3e070f") << 500 << 3;
    QTest::newRow("requestFirmwareVersion")
        << Op([](VX4Interface &e) { e.requestFirmwareVersion(); }) << QByteArray::fromHex("3e0710")
        << 500 << 3;
    QTest::newRow("setSerialNumber") << Op([](VX4Interface &e) { e.setSerialNumber(1234); })
                                     << QByteArray::fromHex("3e091104d2") << 500 << 3;
    QTest::newRow("requestSerialNumber") << Op([](VX4Interface &e) { e.requestSerialNumber(); })
                                         << QByteArray::fromHex("3e0712") << 500 << 3;
    QTest::newRow("requestADCounts") << Op([](VX4Interface &e) { e.requestADCounts(); })
                                     << QByteArray::fromHex("3e0716") << 500 << 3;
    QTest::newRow("zeroPressure") << Op([](VX4Interface &e) { e.zeroPressure(); })
                                  << QByteArray::fromHex("3e0717") << 1000 << 3;
    QTest::newRow("requestADOffset") << Op([](VX4Interface &e) { e.requestADOffset(); })
                                     << QByteArray::fromHex("3e0718") << 500 << 3;
}

void TestCodec::requestOperations_buildTableFrames()
{
    QFETCH(std::function<void(VX4Interface &)>, operation);
    QFETCH(QByteArray, frameWithoutCrc);
    QFETCH(int, timeoutMs);
    QFETCH(int, maxSends);
    LogCapture log;
    // A port that is never opened keeps every request at the head of the queue, unsent.
    VX4Interface engine(QStringLiteral("/nonexistent/port"), PortSettings());
    operation(engine);
    QCOMPARE(engine.queuedMessages().size(), 1);
    const VX4Message &msg = engine.queuedMessages().first();
    QByteArray expected = frameWithoutCrc;
    VX4Message::appendCrc(expected);
    expected.append("\r\n");
    QCOMPARE(msg.frame.toHex(), expected.toHex());
    QCOMPARE(int(msg.length), frameWithoutCrc.size() + 4);
    QCOMPARE(int(msg.timeoutMs), timeoutMs);
    QCOMPARE(int(msg.maxSends), maxSends);
    QCOMPARE(msg.sendCount, quint16(0));
    QVERIFY(!msg.sent);
    QCOMPARE(log.count(QStringLiteral("Cannot send command.  Serial port not open.")), 1);
}

void TestCodec::writeProgramMemory_refusesRowsThatAreNotWholeRows()
{
    LogCapture log;
    VX4Interface engine(QStringLiteral("/nonexistent/port"), PortSettings());
    engine.writeProgramMemory(ProgramMemoryRow());
    ProgramMemoryRow shortRow(10);
    shortRow.address = 0x40;
    engine.writeProgramMemory(shortRow);
    engine.writeProgramMemory(ProgramMemoryRow(64)); // no address
    QVERIFY(engine.queuedMessages().isEmpty());
}

void TestCodec::framing_resynchronisesAndCuts_data()
{
    QTest::addColumn<QByteArray>("buffer");
    QTest::addColumn<QList<int>>("steps");
    QTest::addColumn<QByteArray>("left");
    const QByteArray answer = QByteArray::fromHex("3c0800015e9b0d0a");
    using S = VX4Framing::Step;
    QTest::newRow("one byte waits") << QByteArray::fromHex("00") << QList<int> { int(S::NeedMore) }
                                    << QByteArray::fromHex("00");
    QTest::newRow("all garbage") << QByteArray::fromHex("0011")
                                 << QList<int> { int(S::GarbageCleared) } << QByteArray();
    QTest::newRow("trim then frame")
        << QByteArray::fromHex("0011") + answer
        << QList<int> { int(S::GarbageTrimmed), int(S::Frame), int(S::NeedMore) } << QByteArray();
    QTest::newRow("request marker is garbage")
        << QByteArray::fromHex("3e07008baf0d0a") + answer
        << QList<int> { int(S::GarbageTrimmed), int(S::Frame), int(S::NeedMore) } << QByteArray();
    QTest::newRow("partial frame waits")
        << answer.left(5) << QList<int> { int(S::NeedMore) } << answer.left(5);
    QTest::newRow("zero length clears") << QByteArray::fromHex("3c00") + answer
                                        << QList<int> { int(S::ZeroLengthCleared) } << QByteArray();
    QTest::newRow("bad crc then good")
        << QByteArray::fromHex("3c0800015e9c0d0a") + answer
        << QList<int> { int(S::CrcMismatch), int(S::Frame), int(S::NeedMore) } << QByteArray();
    QTest::newRow("length one") << QByteArray::fromHex("3c01")
                                << QList<int> { int(S::CrcMismatch), int(S::NeedMore) }
                                << QByteArray::fromHex("01");
}

void TestCodec::framing_resynchronisesAndCuts()
{
    QFETCH(QByteArray, buffer);
    QFETCH(QList<int>, steps);
    QFETCH(QByteArray, left);
    QList<int> seen;
    for (int guard = 0; guard < 20; ++guard) {
        const VX4Framing::Cut cut = VX4Framing::takeNext(buffer, char(AnswerMarker));
        seen.append(int(cut.step));
        if (cut.step == VX4Framing::Step::NeedMore || cut.step == VX4Framing::Step::GarbageCleared
            || cut.step == VX4Framing::Step::ZeroLengthCleared)
            break;
    }
    QCOMPARE(seen, steps);
    QCOMPARE(buffer.toHex(), left.toHex());
}

void TestCodec::decode_answers_data()
{
    QTest::addColumn<QString>("what");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<int>("value");
    QTest::newRow("app 01") << "app" << QByteArray::fromHex("01") << int(PressureSendingApp);
    QTest::newRow("app 00") << "app" << QByteArray::fromHex("00") << int(Bootloader);
    QTest::newRow("app 02") << "app" << QByteArray::fromHex("02") << int(UnknownApp);
    QTest::newRow("app empty") << "app" << QByteArray() << int(UnknownApp);
    QTest::newRow("mode 00") << "mode" << QByteArray::fromHex("00") << int(PressureSendingMode);
    QTest::newRow("mode 01") << "mode" << QByteArray::fromHex("01") << int(CalibrationMode);
    QTest::newRow("mode 02") << "mode" << QByteArray::fromHex("02") << int(CalibrationMode);
    QTest::newRow("mode 03") << "mode" << QByteArray::fromHex("03") << int(UnknownMode);
    QTest::newRow("mode empty") << "mode" << QByteArray() << int(UnknownMode);
    QTest::newRow("offset ff9c") << "offset" << QByteArray::fromHex("ff9c") << -100;
    QTest::newRow("offset empty") << "offset" << QByteArray() << -30000;
    QTest::newRow("offset 1 byte") << "offset" << QByteArray::fromHex("12") << -30000;
    QTest::newRow("serial 04d2") << "serial" << QByteArray::fromHex("04d2") << 1234;
    QTest::newRow("serial ffff") << "serial" << QByteArray::fromHex("ffff") << 65535;
    QTest::newRow("serial 1 byte") << "serial" << QByteArray::fromHex("04") << 0;
    QTest::newRow("firmware 0007") << "firmware" << QByteArray::fromHex("0007") << 0x0007;
    QTest::newRow("firmware 1 byte") << "firmware" << QByteArray::fromHex("05") << 0;
    QTest::newRow("pressure 00ff38") << "pressure" << QByteArray::fromHex("00ff38") << -200;
    QTest::newRow("pressure 000bb8") << "pressure" << QByteArray::fromHex("000bb8") << 3000;
    QTest::newRow("pressure 2 bytes") << "pressure" << QByteArray::fromHex("00ff") << 0;
}

void TestCodec::decode_answers()
{
    QFETCH(QString, what);
    QFETCH(QByteArray, payload);
    QFETCH(int, value);
    int decoded = 0;
    if (what == QLatin1String("app")) {
        decoded = VX4Decode::app(payload);
    } else if (what == QLatin1String("mode")) {
        decoded = VX4Decode::mode(payload);
    } else if (what == QLatin1String("offset")) {
        decoded = VX4Decode::adOffset(payload);
    } else if (what == QLatin1String("serial")) {
        decoded = VX4Decode::serialNumber(payload);
    } else if (what == QLatin1String("pressure")) {
        decoded = VX4Decode::pressure(payload);
    } else {
        quint8 major = 99;
        quint8 minor = 99;
        VX4Decode::firmwareVersion(payload, major, minor);
        decoded = major << 8 | minor;
    }
    QCOMPARE(decoded, value);
}

void TestCodec::decode_calDateTime_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QDateTime>("expected");
    QTest::newRow("stored") << QByteArray::fromHex("0007de03050907")
                            << QDateTime(QDate(2014, 3, 5), QTime(9, 7));
    QTest::newRow("status 2 counts as stored")
        << QByteArray::fromHex("0207de03050907") << QDateTime(QDate(2014, 3, 5), QTime(9, 7));
    QTest::newRow("no date stored") << QByteArray::fromHex("0107de03050907") << QDateTime();
    QTest::newRow("six bytes") << QByteArray::fromHex("0007de030509") << QDateTime();
    QTest::newRow("month 13") << QByteArray::fromHex("0007de0d050907") << QDateTime();
    QTest::newRow("minute 60") << QByteArray::fromHex("0007de0305093c") << QDateTime();
    QTest::newRow("year 5") << QByteArray::fromHex("00000501010000")
                            << QDateTime(QDate(5, 1, 1), QTime(0, 0));
}

void TestCodec::decode_calDateTime()
{
    QFETCH(QByteArray, payload);
    QFETCH(QDateTime, expected);
    const QDateTime decoded = VX4Decode::calDateTime(payload);
    QCOMPARE(decoded.isValid(), expected.isValid());
    if (expected.isValid())
        QCOMPARE(decoded, expected);
}

void TestCodec::adCountsToVolts_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<double>("volts");
    QTest::addColumn<QString>("logText");
    QTest::newRow("full scale") << QByteArray::fromHex("007fff") << 3.0 << QString();
    QTest::newRow("negative full scale") << QByteArray::fromHex("008001") << -3.0 << QString();
    QTest::newRow("zero") << QByteArray::fromHex("000000") << 0.0 << QString();
    QTest::newRow("half") << QByteArray::fromHex("004000") << 1.5000457763671875 << QString();
    QTest::newRow("short") << QByteArray::fromHex("007f") << 0.0 << "payload length < 3";
    QTest::newRow("timeout") << QByteArray::fromHex("017fff") << 0.0 << "A/D reported a timeout";
    QTest::newRow("nack") << QByteArray::fromHex("027fff") << 0.0 << "NACK received from A/D";
    QTest::newRow("config") << QByteArray::fromHex("037fff") << 0.0
                            << "ADS1100 configuration byte != 0x8C";
    QTest::newRow("other status") << QByteArray::fromHex("047fff") << 0.0 << QString();
}

void TestCodec::adCountsToVolts()
{
    QFETCH(QByteArray, payload);
    QFETCH(double, volts);
    QFETCH(QString, logText);
    LogCapture log;
    const QByteArray frame
        = VX4Message::buildFrame(AnswerMarker, quint8(7 + payload.size()), GetAdCounts, payload);
    QVERIFY(qAbs(VX4Interface::adCountsToVolts(VX4Message(frame)) - volts) < 1e-6);
    QCOMPARE(log.texts(), logText.isEmpty() ? QStringList() : QStringList { logText });
}

void TestCodec::appAndModeTexts()
{
    QCOMPARE(VX4Interface::appText(Bootloader), QStringLiteral("Bootloader Application"));
    QCOMPARE(VX4Interface::appText(PressureSendingApp),
             QStringLiteral("Pressure Sending Application"));
    QCOMPARE(VX4Interface::appText(VX4App(7)), QStringLiteral("Unknown Application"));
    QCOMPARE(VX4Interface::modeText(PressureSendingMode), QStringLiteral("Pressure Sending Mode"));
    QCOMPARE(VX4Interface::modeText(CalibrationMode), QStringLiteral("Calibration Mode"));
    QCOMPARE(VX4Interface::modeText(UnknownMode), QStringLiteral("Unknown Mode"));
}

QTEST_GUILESS_MAIN(TestCodec)
#include "tst_codec.moc"
