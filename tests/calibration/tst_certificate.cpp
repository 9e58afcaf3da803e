// The certificate's content without widgets: pass and fail at the tolerance edges, the model
// text, the document's pieces, the PDF file name and the voltage file's row.
#include "certificate.h"

#include <QtTest>

class TestCertificate : public QObject
{
    Q_OBJECT

private slots:
    void verificationReading_passesWithinTenPsi_data();
    void verificationReading_passesWithinTenPsi();
    void modelText_takesFirstDigitOfSerial_data();
    void modelText_takesFirstDigitOfSerial();
    void document_holdsItsPiecesInOrder();
    void pdfFileName_isSerialDateAndTime_data();
    void pdfFileName_isSerialDateAndTime();
    void voltagesRow_isEightFieldsWithFiveDecimals();
};

void TestCertificate::verificationReading_passesWithinTenPsi_data()
{
    QTest::addColumn<int>("setPoint");
    QTest::addColumn<int>("reading");
    QTest::addColumn<bool>("passed");
    QTest::newRow("750: 740") << 750 << 740 << true;
    QTest::newRow("750: 760") << 750 << 760 << true;
    QTest::newRow("750: 761") << 750 << 761 << false;
    QTest::newRow("750: 739") << 750 << 739 << false;
    QTest::newRow("0: -10") << 0 << -10 << true;
    QTest::newRow("0: 11") << 0 << 11 << false;
}

void TestCertificate::verificationReading_passesWithinTenPsi()
{
    QFETCH(int, setPoint);
    QFETCH(int, reading);
    QFETCH(bool, passed);
    QCOMPARE(Certificate::resultText(setPoint, reading),
             passed ? QStringLiteral("<font color=\"green\">Passed</font>")
                    : QStringLiteral("<font color=\"red\">Failed</font>"));
}

void TestCertificate::modelText_takesFirstDigitOfSerial_data()
{
    QTest::addColumn<QString>("serial");
    QTest::addColumn<QString>("model");
    QTest::newRow("OVX4-0123") << "OVX4-0123" << QStringLiteral("Orvelle\u00ae 4");
    QTest::newRow("OVX10-0007") << "OVX10-0007" << QStringLiteral("Orvelle\u00ae 1");
    QTest::newRow("four characters") << "OVX7" << QStringLiteral("Orvelle\u00ae 7");
    QTest::newRow("three characters") << "OVX" << QStringLiteral("Orvelle\u00ae 5");
    QTest::newRow("empty") << "" << QStringLiteral("Orvelle\u00ae 5");
}

void TestCertificate::modelText_takesFirstDigitOfSerial()
{
    QFETCH(QString, serial);
    QFETCH(QString, model);
    QCOMPARE(Certificate::modelText(serial), model);
}

void TestCertificate::document_holdsItsPiecesInOrder()
{
    CertificateData d;
    d.serialNumber = QStringLiteral("OVX4-0123");
    d.firmwareVersion = QStringLiteral("1.2");
    d.firstName = QStringLiteral("Ann");
    d.lastName = QStringLiteral("Smith");
    d.company = QStringLiteral("Smith & Sons <Hydraulics>");
    d.calibratorMakeModel = QStringLiteral("Fluke 700G");
    d.calibratorSerialNumber = QStringLiteral("FK-991");
    d.calibratorCertNumber = QStringLiteral("C-17");
    d.calibratorDueDate = QStringLiteral("2030-01-31");
    d.calibrationDateTime = QDateTime(QDate(2013, 12, 11), QTime(15, 31, 52));
    d.capturedPressures = { { 2, 777 }, { 11, -10 }, { 12, 761 }, { 13, 1500 }, { 15, 3010 } };
    const QUuid id = QUuid::createUuid();
    const QString doc = Certificate::html(d, id);

    const QString crlf = QStringLiteral("\r\n");
    const QStringList pieces {
        "<html>\r\n<title>Ostrand Orvelle\u00ae Certificate of Calibration</title>\r\n<body>\r\n"
        "<center><img src=:/images/images/ostrand.png /></center>\r\n<hr/>\r\n<center><h2>"
        "Calibration Setup</h2>\r\n<table border=0 cellspacing=10>\r\n",
        "<tr><td align=right>Model:</td><td>Orvelle\u00ae 4</td></tr>\r\n",
        "<tr><td align=right>Serial Number:</td><td>OVX4-0123</td></tr>\r\n",
        "<tr><td align=right>Firmware Version:</td><td>1.2</td></tr>\r\n",
        "<tr><td align=right>Date and Time:</td><td>2013-12-11 15:31</td></tr>\r\n",
        "<tr><td align=right>Next calibration due:</td><td>2014-12-11</td></tr>\r\n",
        "<tr><td align=right>Technician:</td><td>Ann Smith</td></tr>\r\n",
        "<tr><td align=right>Company:</td><td>Smith &amp; Sons &lt;Hydraulics&gt;</td></tr>\r\n",
        "<tr><td align=right>Calibrator Make:</td><td>Fluke 700G</td></tr>\r\n",
        "<tr><td align=right>Calibrator Serial Number:</td><td>FK-991</td></tr>\r\n",
        "<tr><td align=right>Calibrator Certificate Number:</td><td>C-17</td></tr>\r\n",
        "<tr><td align=right>Calibrator Due Date:</td><td>2030-01-31</td></tr>\r\n</table>\r\n"
        "<h2>Calibration Summary</h2>\r\n<table border=0 cellspacing=10>\r\n<tr><th>Setpoint</th>"
        "<th>As Found</th><th>Verification</th><th>Result</th></tr>\r\n",
        "<tr><td>0</td><td>N/A</td><td>-10</td><td><font "
        "color=\"green\">Passed</font></td></tr>\r\n",
        "<tr><td>750</td><td>777</td><td>761</td><td><font "
        "color=\"red\">Failed</font></td></tr>\r\n",
        "<tr><td>1500</td><td>N/A</td><td>1500</td><td><font color=\"green\">Passed</font></td>",
        // A missing verification reading counts as 0 PSI.
        "<tr><td>2250</td><td>N/A</td><td>0</td><td><font "
        "color=\"red\">Failed</font></td></tr>\r\n",
        "<tr><td>3000</td><td>N/A</td><td>3010</td><td><font color=\"green\">Passed</font></td>",
        "</table>\r\n</center><br/><br/><br/><br/>\r\n<br/><br/><br/>\r\n<u>"
            + QStringLiteral("&nbsp;").repeated(130) + "</u><br/><br/>\r\nTechnician's signature"
            + crlf + "<br/><br/><br/><br/><br/>\r\n<p>Ostrand Manufacturing, Inc., certifies",
        "conducting automated calibration procedures.\r\n<p>" + id.toString()
            + "</body>\r\n</html>\r\n",
    };
    int at = 0;
    for (const QString &piece : pieces) {
        const int found = int(doc.indexOf(piece, at));
        QVERIFY2(found >= at, qPrintable(piece));
        at = found + int(piece.size());
    }
    QCOMPARE(at, doc.size());
}

void TestCertificate::pdfFileName_isSerialDateAndTime_data()
{
    QTest::addColumn<QString>("serial");
    QTest::addColumn<QString>("fileName");
    QTest::newRow("plain") << "OVX4-0123"
                           << "OVX4-0123 2013-12-11 15-31-52.pdf";
    QTest::newRow("path characters") << "../OVX4/0123"
                                     << ".._OVX4_0123 2013-12-11 15-31-52.pdf";
    QTest::newRow("reserved characters") << "A:B*C?D\"E<F>G|H\\I\tJ"
                                         << "A_B_C_D_E_F_G_H_I_J 2013-12-11 15-31-52.pdf";
}

void TestCertificate::pdfFileName_isSerialDateAndTime()
{
    QFETCH(QString, serial);
    QFETCH(QString, fileName);
    QCOMPARE(Certificate::pdfFileName(serial, QDateTime(QDate(2013, 12, 11), QTime(15, 31, 52))),
             fileName);
}

void TestCertificate::voltagesRow_isEightFieldsWithFiveDecimals()
{
    const QDateTime written(QDate(2013, 12, 11), QTime(15, 31, 52));
    QCOMPARE(Certificate::voltagesRow(written, QStringLiteral("OVX4-0123"), QStringLiteral("1.0"),
                                      { 0.0, 0.6250019, 1.25, -0.000004, 2.5 }),
             QStringLiteral("Wed Dec 11 15:31:52 2013, OVX4-0123, 1.0, 0.00000, 0.62500, 1.25000, "
                            "-0.00000, 2.50000"));
}

QTEST_GUILESS_MAIN(TestCertificate)
#include "tst_certificate.moc"
