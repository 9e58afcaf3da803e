// The main window's service actions against the simulated sender: nothing sent to a sender lost or
// replaced while a dialog was open, and the serial number's checks.
#include "VX4interface.h"
#include "modalanswer.h"
#include "senderwindow.h"
#include "settingskeys.h"
#include "vx4protocol.h"
#include "vx4serialnumdialog.h"

#include <QtTest>
#include <QtWidgets>

using namespace VX4Protocol;

enum Change { Kept, LostAndBack, Reopened };

class TestServiceGuards : public QObject
{
    Q_OBJECT

private slots:
    void init() { QSettings(SettingsStore::Organisation, SettingsStore::Application).clear(); }
    void serviceAction_sendsOnlyWhatIsConfirmedToTheSameSender_data()
    {
        QTest::addColumn<QString>("typed"); // none: the zero box
        QTest::addColumn<QMessageBox::StandardButton>("answer"); // to the box after Ok
        QTest::addColumn<int>("change"); // to the sender while the dialog is open
        QTest::addColumn<QString>("box");
        QTest::addColumn<QByteArray>("sent"); // SET SERIAL's payload; none: nothing sent
        const QString question = "Change OVX4-1234 to OVX4-0042?";
        QTest::newRow("empty") << "" << QMessageBox::Ok << int(Kept)
                               << "Enter the new serial number." << QByteArray();
        QTest::newRow("declined") << "42" << QMessageBox::No << int(Kept) << question
                                  << QByteArray();
        QTest::newRow("confirmed")
            << "42" << QMessageBox::Yes << int(Kept) << question << QByteArray::fromHex("002A");
        QTest::newRow("largest") << "65535" << QMessageBox::Yes << int(Kept)
                                 << "Change OVX4-1234 to OVX4-65535?"
                                 << QByteArray::fromHex("FFFF");
        QTest::newRow("too large")
            << "65536" << QMessageBox::Ok << int(Kept)
            << "The serial number 65536 is too large.\nSerial numbers range from 0 to 65535."
            << QByteArray();
        QTest::newRow("sender lost and back")
            << "42" << QMessageBox::Yes << int(LostAndBack) << question << QByteArray();
        QTest::newRow("port reopened")
            << "42" << QMessageBox::Yes << int(Reopened) << question << QByteArray();
        QTest::newRow("zero, port reopened") << QString() << QMessageBox::Ok << int(Reopened)
                                             << "Warning.  Disconnect hydraulic pressure source "
                                                "before proceeding!"
                                             << QByteArray();
    }

    void serviceAction_sendsOnlyWhatIsConfirmedToTheSameSender()
    {
        QFETCH(QString, typed);
        QFETCH(QMessageBox::StandardButton, answer);
        QFETCH(int, change);
        QFETCH(QString, box);
        QFETCH(QByteArray, sent);
        SenderWindow w({ "-ShowSetSerial" });
        QVERIFY(w.openAndConnect());
        QString seen;
        bool changed = change != LostAndBack; // lost: once the window has seen it
        ModalAnswer::expect([&](QWidget *modal) {
            if (change == Reopened) {
                w.ui()->serButton->click();
                w.ui()->serButton->click();
            } else if (change == LostAndBack) {
                w.sender.setSilent(true);
                changed = w.waitForStatus("The sender stopped answering at ");
                w.sender.setSilent(false);
            }
            changed = changed && w.waitForStatus("Connected");
            w.sender.clearRequests();
            auto *zeroBox = qobject_cast<QMessageBox *>(modal);
            if (zeroBox) {
                seen = zeroBox->text();
                return zeroBox->button(QMessageBox::Ok)->click();
            }
            auto *dialog = qobject_cast<VX4SerialNumDialog *>(modal);
            QTest::keyClicks(dialog->serialNumberField(), typed);
            ModalAnswer::expect([&](QWidget *next) { // the refusal or the question
                auto *question = qobject_cast<QMessageBox *>(next);
                seen = question->text();
                if (QAbstractButton *button = question->button(answer))
                    button->click();
                else
                    question->reject();
            });
            dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
            if (dialog->isVisible()) // refused or declined: the technician may type again
                dialog->reject();
        });
        (typed.isNull() ? w.ui()->zeroPressureButton : w.ui()->serNumButton)->click();
        QVERIFY(changed);
        QCOMPARE(seen, box);
        if (!sent.isEmpty())
            QTRY_COMPARE(w.sent(SetSerial), QList<QByteArray> { sent });
        else
            QVERIFY(QTest::qWaitFor([&] { return w.engine()->queuedMessages().isEmpty(); })
                    && w.sent(typed.isNull() ? ZeroPsi : SetSerial).isEmpty()); // once all answered
        QCOMPARE(w.statusText().contains("not sent"), change != Kept);
    }
};

QTEST_MAIN(TestServiceGuards)
#include "tst_serviceguards.moc"
