// The log path: every line time-stamped to the millisecond and passed on unchanged, the debug
// window that the View menu feeds, and saving its lines to a file (or failing to, with the reason).
#include "debugdialog.h"
#include "logcapture.h"
#include "modalanswer.h"
#include "qlogger.h"
#include "senderwindow.h"

#include <QtTest>
#include <QtWidgets>

class TestLogging : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void loggedLine_isStampedAndPassedOnUnchanged_data();
    void loggedLine_isStampedAndPassedOnUnchanged();
    void debugOutputAction_showsLinesUntilTheWindowCloses();
    void save_writesTheLinesOrExplainsTheFailure_data();
    void save_writesTheLinesOrExplainsTheFailure();

private:
    std::unique_ptr<LogCapture>
        previous; ///< the handler in force before QLogger's: it gets the same lines
};

void TestLogging::initTestCase()
{
    previous = std::make_unique<LogCapture>();
    QLogger::install();
}

void TestLogging::loggedLine_isStampedAndPassedOnUnchanged_data()
{
    QTest::addColumn<bool>("warning");
    QTest::addColumn<QString>("text");
    QTest::newRow("source line") << false << "mainwindow @ 42 : text \"quoted\" -7";
    QTest::newRow("place markers") << false << "%1 %2 100%1 done";
    QTest::newRow("printf letters, as a warning") << true << "%s %d %n %% 50%";
}

void TestLogging::loggedLine_isStampedAndPassedOnUnchanged()
{
    QFETCH(bool, warning);
    QFETCH(QString, text);
    previous->clear();
    QSignalSpy spy(QLogger::instance(), &QLogger::msgReady);
    const QDateTime before = QDateTime::currentDateTime();
    (warning ? qWarning() : qDebug()).noquote() << text;
    const QDateTime after = QDateTime::currentDateTime();
    QCOMPARE(spy.size(), 1);
    const QString line = spy.at(0).at(0).toString();
    QCOMPARE(previous->lines(), QStringList { line });
    const QDateTime stamp = QDateTime::fromString(line.left(23), "yyyy-MM-dd hh:mm:ss.zzz");
    QVERIFY2(stamp >= before && stamp <= after, qPrintable(line));
    QCOMPARE(line.mid(23), ' ' + text);
}

void TestLogging::debugOutputAction_showsLinesUntilTheWindowCloses()
{
    clearSettings();
    MainWindow window(QStringList { "tst" });
    QAction *action = window.form()->actionEnableDebugLogging;
    action->setChecked(true);
    QPointer<DebugDialog> debug = window.debugOutputWindow();
    QVERIFY(debug && debug->isVisible());
    qDebug() << "tst @ 1 : a line for the window";
    QVERIFY(debug->view()->toPlainText().endsWith(" tst @ 1 : a line for the window"));
    debug->close();
    QTRY_VERIFY(!debug);
    QVERIFY(!action->isChecked());
    // Unchecked and checked again before the old window has gone: the new one stays.
    action->setChecked(true);
    debug = window.debugOutputWindow();
    action->setChecked(false);
    action->setChecked(true);
    QTRY_VERIFY(!debug);
    QVERIFY(window.debugOutputWindow() && action->isChecked());
}

void TestLogging::save_writesTheLinesOrExplainsTheFailure_data()
{
    // A link to the failing target, so that root meets the failure too.
    QTest::addColumn<QString>("linkTo"); // none: an older file to replace
    QTest::addColumn<QString>("reason");
    QTest::newRow("older file replaced") << QString() << QString();
    QTest::newRow("folder missing") << "missing/log.txt"
                                    << "No such file or directory";
    QTest::newRow("device full") << "/dev/full"
                                 << "No space left on device";
}

void TestLogging::save_writesTheLinesOrExplainsTheFailure()
{
    QFETCH(QString, linkTo);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    QFile file(dir.filePath("log.txt"));
    if (linkTo.isEmpty())
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("an older, longer text") > 0);
    else
        QVERIFY(QFile::link(QDir(dir.path()).absoluteFilePath(linkTo), file.fileName()));
    file.close();
    DebugDialog dialog;
    dialog.appendPlainText("a");
    dialog.appendPlainText("b 50%");
    QString text, seenReason;
    const auto failureBox = [&] {
        if (!reason.isEmpty())
            ModalAnswer::pressButton(QMessageBox::Ok, &text, &seenReason);
    };
    ModalAnswer::expect([&](QWidget *modal) {
        auto *files = qobject_cast<QFileDialog *>(modal);
        if (QFileInfo::exists(file.fileName())) { // asked before a file is replaced
            ModalAnswer::expect([&](QWidget *question) {
                failureBox();
                qobject_cast<QMessageBox *>(question)->button(QMessageBox::Yes)->click();
            });
        } else {
            failureBox();
        }
        files->setFocus(); // the dialog leaves its name field alone while that has the focus
        files->selectFile(file.fileName());
        static_cast<QDialog *>(files)->accept();
    });
    dialog.saveButton()->click();
    QCOMPARE(seenReason, reason);
    if (reason.isEmpty())
        QVERIFY(file.open(QIODevice::ReadOnly) && file.readAll() == "a\nb 50%");
    else
        QVERIFY2(text.startsWith("The debug output could not be saved to "), qPrintable(text));
}

QTEST_MAIN(TestLogging)
#include "tst_logging.moc"
