// The protocol's small rules: numbers on the wire, the A/D status byte and its texts, and what the
// firmware version decides (A/D offset, serial number prefix).
#include "adstatus.h"
#include "bytes.h"
#include "senderidentity.h"

#include <QtTest>

class TestWireHelpers : public QObject
{
    Q_OBJECT

private slots:
    void words_bigEndianBothWays_data();
    void words_bigEndianBothWays();
    void addresses_lowTwentyFourBitsBigEndian_data();
    void addresses_lowTwentyFourBitsBigEndian();
    void adStatus_textsAndVolts_data();
    void adStatus_textsAndVolts();
    void adOffset_fromFirmwareZeroSeven_data();
    void adOffset_fromFirmwareZeroSeven();
    void serialNumberText_prefixFollowsMajor_data();
    void serialNumberText_prefixFollowsMajor();
};

void TestWireHelpers::words_bigEndianBothWays_data()
{
    QTest::addColumn<int>("word");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("zero") << 0x0000 << QByteArray::fromHex("0000");
    QTest::newRow("order") << 0x1234 << QByteArray::fromHex("1234");
    QTest::newRow("high bit") << 0x8001 << QByteArray::fromHex("8001");
    QTest::newRow("all ones") << 0xFFFF << QByteArray::fromHex("ffff");
}

void TestWireHelpers::words_bigEndianBothWays()
{
    QFETCH(int, word);
    QFETCH(QByteArray, bytes);
    QByteArray written("x");
    VX4Bytes::appendWord(written, quint16(word));
    QCOMPARE(written.toHex(), (QByteArray("x") + bytes).toHex());
    // Read back behind a leading byte, so a reader ignoring its index fails.
    QCOMPARE(VX4Bytes::wordAt(written, 1), quint16(word));
}

void TestWireHelpers::addresses_lowTwentyFourBitsBigEndian_data()
{
    QTest::addColumn<qint64>("address");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<quint32>("readBack");
    QTest::newRow("row 1") << qint64(0x40) << QByteArray::fromHex("000040") << 0x40u;
    QTest::newRow("three bytes") << qint64(0x123456) << QByteArray::fromHex("123456") << 0x123456u;
    QTest::newRow("top of range") << qint64(0xFFFFFF) << QByteArray::fromHex("ffffff") << 0xFFFFFFu;
    QTest::newRow("higher bits dropped")
        << qint64(0xAB123456) << QByteArray::fromHex("123456") << 0x123456u;
}

void TestWireHelpers::addresses_lowTwentyFourBitsBigEndian()
{
    QFETCH(qint64, address);
    QFETCH(QByteArray, bytes);
    QFETCH(quint32, readBack);
    QByteArray written("x");
    VX4Bytes::appendAddress24(written, address);
    QCOMPARE(written.toHex(), (QByteArray("x") + bytes).toHex());
    QCOMPARE(VX4Bytes::address24At(written, 1), readBack);
}

void TestWireHelpers::adStatus_textsAndVolts_data()
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

void TestWireHelpers::adStatus_textsAndVolts()
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

void TestWireHelpers::adOffset_fromFirmwareZeroSeven_data()
{
    QTest::addColumn<int>("major");
    QTest::addColumn<int>("minor");
    QTest::addColumn<bool>("hasOffset");
    QTest::newRow("0.0") << 0 << 0 << false;
    QTest::newRow("0.6") << 0 << 6 << false;
    QTest::newRow("0.7") << 0 << 7 << true;
    QTest::newRow("0.12") << 0 << 12 << true;
    QTest::newRow("1.0") << 1 << 0 << true;
    QTest::newRow("unknown version") << 255 << 0 << true;
}

void TestWireHelpers::adOffset_fromFirmwareZeroSeven()
{
    QFETCH(int, major);
    QFETCH(int, minor);
    QFETCH(bool, hasOffset);
    QCOMPARE(VX4Identity::firmwareHasAdOffset(quint8(major), quint8(minor)), hasOffset);
}

void TestWireHelpers::serialNumberText_prefixFollowsMajor_data()
{
    QTest::addColumn<int>("serial");
    QTest::addColumn<int>("major");
    QTest::addColumn<QString>("text");
    QTest::newRow("major 0") << 7 << 0 << "OVX4-0007";
    QTest::newRow("major 4") << 123 << 4 << "OVX4-0123";
    QTest::newRow("major 5") << 42 << 5 << "OVX5-0042";
    QTest::newRow("major 10, five digits") << 65535 << 10 << "OVX10-65535";
    QTest::newRow("major 254") << 0 << 254 << "OVX254-0000";
    QTest::newRow("unknown version") << 42 << 255 << QString();
}

void TestWireHelpers::serialNumberText_prefixFollowsMajor()
{
    QFETCH(int, serial);
    QFETCH(int, major);
    QFETCH(QString, text);
    QCOMPARE(VX4Identity::serialNumberText(quint16(serial), quint8(major)), text);
}

QTEST_APPLESS_MAIN(TestWireHelpers)
#include "tst_wirehelpers.moc"
