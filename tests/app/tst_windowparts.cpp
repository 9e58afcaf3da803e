// The main window's parts on their own: the reading display's liveness rule, what the connection
// status says event by event, and a download's progress in words.
#include "connectionstatus.h"
#include "downloadprogress.h"
#include "readingdisplay.h"

#include <QLabel>
#include <QtTest>

class TestWindowParts : public QObject
{
    Q_OBJECT

private slots:
    void readingDisplay_showsOnlyAGoodReadingUnderASecondOld_data()
    {
        QTest::addColumn<QString>("frames"); // psi/A/D status/ms received, ';' between them
        QTest::addColumn<int>("nowMs");
        QTest::addColumn<QString>("spoken"); // the display's accessible name
        QTest::newRow("fresh") << "-12/0/0" << 999 << "Pressure: -12 PSI";
        QTest::newRow("a second old") << "-12/0/0" << 1000 << "Pressure: no live reading";
        QTest::newRow("renewed") << "5/0/0;6/0/900" << 1800 << "Pressure: 6 PSI";
        QTest::newRow("A/D NACK") << "5/0/0;6/2/10" << 10 << "Pressure: no live reading";
        QTest::newRow("after an A/D fault") << "5/1/0;6/0/10" << 10 << "Pressure: 6 PSI";
        QTest::newRow("too wide for four digits") << "12345/0/0" << 0 << "Pressure: 12345 PSI";
    }

    void readingDisplay_showsOnlyAGoodReadingUnderASecondOld()
    {
        QFETCH(QString, frames);
        QFETCH(int, nowMs);
        QFETCH(QString, spoken);
        ReadingDisplay display;
        for (const QString &frame : frames.split(';')) {
            const QStringList f = frame.split('/');
            display.showFrame(f[0].toInt(), quint8(f[1].toInt()), f[2].toInt());
        }
        display.expire(nowMs);
        QCOMPARE(display.accessibleName(), spoken);
        QCOMPARE(display.reading().has_value(), !spoken.contains("no live"));
        // The last good reading leaves by itself once no frame follows.
        QTRY_VERIFY(!display.reading());
    }

    void connectionStatus_saysWhyNoSenderIsConnected_data()
    {
        QTest::addColumn<QString>("events"); // ';' between them
        QTest::addColumn<QString>("text");
        const QString noAnswer
            = "No sender answers on ttyS0 (check the cable, the port and the baud rate)";
        QTest::newRow("wrong port") << "open ttyS0;silence;silence" << noAnswer;
        QTest::newRow("silent sender")
            << "open ttyS0;heard 14:02:08;connected;heard 14:02:11;silence;silence"
            << "The sender stopped answering at 14:02:11";
        QTest::newRow("back") << "open ttyS0;heard 14:02:08;connected;silence;connected"
                              << "Connected";
        QTest::newRow("opened again") << "open ttyS0;heard 14:02:08;connected;closed;open "
                                         "ttyS0;silence"
                                      << noAnswer;
        QTest::newRow("adapter unplugged")
            << "open ttyUSB0;heard 14:02:08;connected;silence;lost ttyUSB0 Input/output error"
            << "Lost the port ttyUSB0: Input/output error; plug it in and press Open";
        QTest::newRow("busy") << "failed ttyS0 port busy: in use by process 42"
                              << "Could not open ttyS0: port busy: in use by process 42";
        QTest::newRow("closed") << "open ttyS0;connected;closed"
                                << "Disconnected";
    }

    void connectionStatus_saysWhyNoSenderIsConnected()
    {
        QFETCH(QString, events);
        QFETCH(QString, text);
        QLabel label;
        ConnectionStatus status(&label);
        for (const QString &event : events.split(';')) {
            const QString name = event.section(' ', 0, 0);
            const QString port = event.section(' ', 1, 1);
            const QString reason = event.section(' ', 2);
            if (name == "open")
                status.opened(port);
            else if (name == "heard")
                status.heard(QTime::fromString(port, "hh:mm:ss"));
            else if (name == "connected")
                status.connected();
            else if (name == "silence")
                status.silence();
            else if (name == "lost")
                status.portLost(port, reason);
            else if (name == "failed")
                status.openFailed(port, reason);
            else
                status.closed();
        }
        QCOMPARE(label.text(), text);
        QCOMPARE(label.accessibleName(), "Connection Status: " + text);
    }

    void downloadProgress_givesRowsSkippedAndTimeLeftAtThePaceSoFar_data()
    {
        QTest::addColumn<QList<int>>("rows"); // done, total, skipped
        QTest::addColumn<int>("elapsedS");
        QTest::addColumn<QString>("text"); // after "Downloading firmware...\nSender OVX4-1234: "
        QTest::newRow("nothing done yet") << QList<int> { 0, 512, 0 } << 3
                                          << "row 0 of 512\nElapsed 0:03, time left not known yet";
        QTest::newRow("a quarter in a minute")
            << QList<int> { 128, 512, 0 } << 65 << "row 128 of 512\nElapsed 1:05, about 3:15 left";
        QTest::newRow("skipped, past an hour")
            << QList<int> { 100, 200, 40 } << 3725
            << "row 100 of 200, 40 skipped (already held the image)\nElapsed 1:02:05, about "
               "1:02:05 left";
    }

    void downloadProgress_givesRowsSkippedAndTimeLeftAtThePaceSoFar()
    {
        QFETCH(QList<int>, rows);
        QFETCH(int, elapsedS);
        QFETCH(QString, text);
        QCOMPARE(DownloadProgress::text("OVX4-1234", rows[0], rows[1], rows[2], elapsedS * 1000),
                 "Downloading firmware...\nSender OVX4-1234: " + text);
    }
};

QTEST_MAIN(TestWindowParts)
#include "tst_windowparts.moc"
