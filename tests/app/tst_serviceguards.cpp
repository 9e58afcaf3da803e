// The main window's service actions against the simulated sender: nothing sent to a sender lost or
// replaced while a dialog was open, the serial number's checks, old firmware, the preset port.
#include "VX4interface.h"
#include "modalanswer.h"
#include "senderwindow.h"
#include "settingskeys.h"
#include "vx4protocol.h"
#include "vx4serialnumdialog.h"

#include <QtTest>
#include <QtWidgets>

using namespace VX4Protocol;

namespace {
// Once every queued request has been answered: none had `command`.
bool settledWithout(const SenderWindow &w, quint8 command)
{
    return QTest::qWaitFor([&] { return w.engine()->queuedMessages().isEmpty(); })
        && w.sent(command).isEmpty();
}
} // namespace

class TestServiceGuards : public QObject
{
    Q_OBJECT

private slots:
    void init() { QSettings(SettingsStore::Organisation, SettingsStore::Application).clear(); }
    void serviceDialog_sendsNothingToALostOrReplacedSender_data();
    void serviceDialog_sendsNothingToALostOrReplacedSender();
    void oldFirmware_endsConnectingWithZeroPressureDisabled_data();
    void oldFirmware_endsConnectingWithZeroPressureDisabled();
    void serialNumber_refusedWhenEmptyAndConfirmed_data();
    void serialNumber_refusedWhenEmptyAndConfirmed();
    void presetPort_isChosenButNotRemembered();
};

void TestServiceGuards::serviceDialog_sendsNothingToALostOrReplacedSender_data()
{
    QTest::addColumn<bool>("serial"); // else the zero box
    QTest::addColumn<bool>("reopen"); // else the sender goes silent and comes back
    QTest::newRow("serial number, sender lost and back") << true << false;
    QTest::newRow("serial number, port reopened") << true << true;
    QTest::newRow("zero, port reopened") << false << true;
}

void TestServiceGuards::serviceDialog_sendsNothingToALostOrReplacedSender()
{
    QFETCH(bool, serial);
    QFETCH(bool, reopen);
    SenderWindow w({ "-ShowSetSerial" });
    QVERIFY(w.openAndConnect());
    bool changed = false;
    ModalAnswer::expect([&](QWidget *modal) {
        if (reopen) {
            w.ui()->serButton->click();
            w.ui()->serButton->click();
        } else {
            w.sender.setSilent(true);
            changed = w.waitForStatus("Disconnected");
            w.sender.setSilent(false);
        }
        changed = w.waitForStatus("Connected") && (reopen || changed);
        w.sender.clearRequests();
        if (auto *dialog = qobject_cast<VX4SerialNumDialog *>(modal)) {
            QTest::keyClicks(dialog->serialNumberField(), "42");
            ModalAnswer::pressButton(QMessageBox::Yes);
            dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
        } else {
            qobject_cast<QMessageBox *>(modal)->button(QMessageBox::Ok)->click();
        }
    });
    (serial ? w.ui()->serNumButton : w.ui()->zeroPressureButton)->click();
    QVERIFY(changed);
    QVERIFY(settledWithout(w, serial ? SetSerial : ZeroPsi));
    QVERIFY2(w.statusText().contains("not sent"), qPrintable(w.statusText()));
}

void TestServiceGuards::oldFirmware_endsConnectingWithZeroPressureDisabled_data()
{
    QTest::addColumn<int>("minor"); // of firmware 0.x
    QTest::addColumn<QString>("offset");
    QTest::newRow("0.6, no A/D offset") << 6 << "N/A";
    QTest::newRow("0.7") << 7 << "-100";
}

void TestServiceGuards::oldFirmware_endsConnectingWithZeroPressureDisabled()
{
    QFETCH(int, minor);
    QFETCH(QString, offset);
    SenderWindow w;
    w.sender.setFirmwareVersion(0, quint8(minor));
    w.sender.setAdOffset(-100);
    QVERIFY(w.openAndConnect());
    QTRY_COMPARE(w.ui()->pressureOffsetValue->text(), offset);
    QCOMPARE(w.ui()->zeroPressureButton->isEnabled(), minor >= 7);
    QCOMPARE(w.ui()->pressureOffsetValue->isEnabled(), minor >= 7);
}

void TestServiceGuards::serialNumber_refusedWhenEmptyAndConfirmed_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QMessageBox::StandardButton>("answer");
    QTest::addColumn<QString>("box");
    QTest::newRow("empty") << "" << QMessageBox::Ok << "Enter the new serial number.";
    QTest::newRow("declined") << "42" << QMessageBox::No << "Change OVX4-1234 to OVX4-0042?";
    QTest::newRow("confirmed") << "42" << QMessageBox::Yes << "Change OVX4-1234 to OVX4-0042?";
}

void TestServiceGuards::serialNumber_refusedWhenEmptyAndConfirmed()
{
    QFETCH(QString, typed);
    QFETCH(QMessageBox::StandardButton, answer);
    QFETCH(QString, box);
    SenderWindow w({ "-ShowSetSerial" });
    QVERIFY(w.openAndConnect());
    w.sender.clearRequests();
    QString seen;
    bool stayed = false;
    ModalAnswer::expect([&](QWidget *modal) {
        auto *dialog = qobject_cast<VX4SerialNumDialog *>(modal);
        QTest::keyClicks(dialog->serialNumberField(), typed);
        ModalAnswer::expect([&](QWidget *box) { // the refusal or the question
            auto *question = qobject_cast<QMessageBox *>(box);
            seen = question->text();
            if (QAbstractButton *button = question->button(answer))
                button->click();
            else
                question->reject();
        });
        dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
        stayed = dialog->isVisible();
        if (stayed)
            dialog->reject();
    });
    w.ui()->serNumButton->click();
    QCOMPARE(seen, box);
    QCOMPARE(stayed, answer != QMessageBox::Yes);
    if (answer == QMessageBox::Yes)
        QTRY_COMPARE(w.sent(SetSerial), QList<QByteArray> { QByteArray::fromHex("002A") });
    else
        QVERIFY(settledWithout(w, SetSerial));
}

// As run.sh starts the utility: the simulator's port chosen, the technician's port kept.
void TestServiceGuards::presetPort_isChosenButNotRemembered()
{
    SenderWindow w;
    QSettings settings(SettingsStore::Organisation, SettingsStore::Application);
    settings.setValue("serialsetup/serialport", "USB Serial (ttyUSB0)");
    settings.sync();
    qputenv("VX4_PORT", w.portPath().toLocal8Bit());
    MainWindow started(QStringList { "tst" });
    qunsetenv("VX4_PORT");
    QCOMPARE(started.form()->serComboBox->currentText(), w.portPath());
    started.form()->serButton->click();
    QVERIFY(started.pressureSenderInterface());
    settings.sync();
    QCOMPARE(settings.value("serialsetup/serialport").toString(), "USB Serial (ttyUSB0)");
}

QTEST_MAIN(TestServiceGuards)
#include "tst_serviceguards.moc"
