// The window on a port that goes away and comes back, and on a download whose progress must
// not be shown from inside the engine's answer handling.
#include "VX4interface.h"
#include "firmwarepackage.h"
#include "modalanswer.h"
#include "senderwindow.h"
#include "settingskeys.h"

#include <QtTest>
#include <QtWidgets>

class TestPortLoss : public QObject
{
    Q_OBJECT

private slots:
    void init() { QSettings(SettingsStore::Organisation, SettingsStore::Application).clear(); }
    void lostPort_releasesOpenAndReplugOpensAgain();
    void downloadProgress_shownOnlyAfterTheEngineIsDone();

private:
    QTemporaryDir work;
};

void TestPortLoss::lostPort_releasesOpenAndReplugOpensAgain()
{
    // The adapter's name stays while the terminal behind it changes, as a re-plugged one does.
    const QString adapter = work.filePath("ttyVX4");
    SenderWindow w({}, { adapter });
    QVERIFY(w.pty.createLink(adapter));
    w.selectPort(adapter);
    QVERIFY(w.openAndConnect());
    w.pty.vanish();
    QVERIFY(QTest::qWaitFor([&] { return w.statusText().startsWith("Lost the port"); }, 5000));
    QVERIFY2(w.statusText().startsWith("Lost the port " + adapter + ": "),
             qPrintable(w.statusText()));
    QVERIFY(!w.ui()->serButton->isChecked());
    QCOMPARE(w.ui()->serButton->text(), "Open");
    QCOMPARE(w.ui()->connectionStatus->text(), "Disconnected");
    QVERIFY(!w.engine());

    SimulatedSender replugged;
    PtyEndpoint pty(&replugged);
    QVERIFY(pty.open());
    QVERIFY(pty.createLink(adapter));
    w.ui()->serButton->click();
    QVERIFY(w.waitForStatus("Connected"));
    QVERIFY(!replugged.requests().isEmpty());
}

void TestPortLoss::downloadProgress_shownOnlyAfterTheEngineIsDone()
{
    SenderWindow w;
    QVERIFY(w.openAndConnect());
    FirmwarePackage package;
    package.versionMajor = 1;
    package.hexData = ":10008000341278569A78BCDE00F011E022D033C0EA\r\n:02020000AA55FD\r\n"
                      ":00000001FF\r\n";
    package.md5 = packageDigest(package);
    QFile file(work.filePath("image.vx4f"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(FirmwarePackageWriter::toBytes(package));
    file.close();
    // What the dialog shows at the moment the engine reports: the report is still on its way.
    QStringList seen;
    connect(w.engine(), &VX4Interface::vx4FirmwareUpdateStarted, this, [&] {
        connect(w.engine(), &VX4Interface::vx4FirmwareUpdateProgressChanged, this, [&](int row) {
            seen.append(QStringLiteral("%1 shows %2")
                            .arg(row)
                            .arg(w.window->firmwareProgressDialog()->value()));
        });
    });
    w.window->setFileChooser([&](QWidget *, const QString &, const QString &, const QString &) {
        return file.fileName();
    });
    QSignalSpy status(w.window->statusBar(), &QStatusBar::messageChanged);
    ModalAnswer::pressButton(QMessageBox::Ok);
    w.ui()->updateFirmButton->click();
    QTRY_VERIFY_WITH_TIMEOUT(status.contains({ "Firmware update completed successfully!" }), 15000);
    QCOMPARE(seen, (QStringList { "0 shows -1", "1 shows 0", "2 shows 1" }));
}

QTEST_MAIN(TestPortLoss)
#include "tst_portloss.moc"
