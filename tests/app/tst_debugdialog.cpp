// The debug output window: appending and clearing lines, saving them (also where the file cannot
// be written), and its size, position and font kept from one window to the next.
#include "debugdialog.h"
#include "modalanswer.h"
#include "settingskeys.h"

#include <QFileDialog>
#include <QFontDialog>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

class TestDebugDialog : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void appendedLines_showInOrder_andClearEmptiesTheView();
    void save_writesTheViewAsIs_data();
    void save_writesTheViewAsIs();
    void save_failing_tellsTheTechnician_data();
    void save_failing_tellsTheTechnician();
    void save_cancelled_writesNothing();
    void closing_keepsSizePositionAndFontForTheNextWindow();
    void escape_keepsTheGeometryToo();
    void storedValueThatIsNoFont_leavesTheDefaultFont();

private:
    /// Picks `path` in the file dialog and accepts it.
    static void choose(QFileDialog *dialog, const QString &path);
    /// Answers the next save dialog with `path`, or cancels it when `path` is empty.
    static void answerSaveDialog(const QString &path);
};

void TestDebugDialog::init()
{
    QSettings settings(SettingsStore::Organisation, SettingsStore::Application);
    settings.clear();
}

void TestDebugDialog::choose(QFileDialog *dialog, const QString &path)
{
    // The dialog leaves its name field alone while the field has the focus.
    if (QWidget *focused = dialog->focusWidget())
        focused->clearFocus();
    dialog->selectFile(path);
    static_cast<QDialog *>(dialog)->accept();
}

void TestDebugDialog::answerSaveDialog(const QString &path)
{
    ModalAnswer::expect([path](QWidget *modal) {
        auto *dialog = qobject_cast<QFileDialog *>(modal);
        if (!dialog) {
            qWarning("expected the save dialog");
            return;
        }
        if (path.isEmpty()) {
            dialog->reject();
            return;
        }
        // The older file is replaced once the dialog's own question is answered.
        if (QFile::exists(path))
            ModalAnswer::pressButton(QMessageBox::Yes);
        choose(dialog, path);
    });
}

void TestDebugDialog::appendedLines_showInOrder_andClearEmptiesTheView()
{
    DebugDialog dialog;
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Debug Output"));
    dialog.appendPlainText(QStringLiteral("first 100%"));
    dialog.appendPlainText(QStringLiteral("second"));
    QCOMPARE(dialog.view()->toPlainText(), QStringLiteral("first 100%\nsecond"));
    QVERIFY(dialog.view()->isReadOnly());
    dialog.clearButton()->click();
    QVERIFY(dialog.view()->toPlainText().isEmpty());
}

void TestDebugDialog::save_writesTheViewAsIs_data()
{
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("empty view") << QStringList() << QByteArray();
    QTest::newRow("lines joined, no final line feed")
        << QStringList { QStringLiteral("a"), QStringLiteral("b 50%") } << QByteArray("a\nb 50%");
}

void TestDebugDialog::save_writesTheViewAsIs()
{
    QFETCH(QStringList, lines);
    QFETCH(QByteArray, expected);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("log.txt"));
    {
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("older and longer content that must go");
    }
    DebugDialog dialog;
    for (const QString &line : lines)
        dialog.appendPlainText(line);

    answerSaveDialog(path);
    dialog.saveButton()->click();

    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), expected);
}

void TestDebugDialog::save_failing_tellsTheTechnician_data()
{
    // The chosen name is a link, so that root, too, meets the failure; the file dialog only ever
    // lists a temporary folder.
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("reason");
    QTest::newRow("cannot be opened")
        << QStringLiteral("missing-folder/log.txt") << QStringLiteral("No such file or directory");
    if (QFile::exists(QStringLiteral("/dev/full")))
        QTest::newRow("device full")
            << QStringLiteral("/dev/full") << QStringLiteral("No space left on device");
}

void TestDebugDialog::save_failing_tellsTheTechnician()
{
    QFETCH(QString, target);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("log.txt"));
    QVERIFY(QFile::link(QDir(dir.path()).absoluteFilePath(target), path));
    DebugDialog dialog;
    dialog.appendPlainText(QStringLiteral("a line"));

    QString text, seenReason;
    ModalAnswer::expect([&](QWidget *modal) {
        // The failure box follows the save dialog (and its question about replacing a file).
        if (QFile::exists(path)) {
            ModalAnswer::expect([&](QWidget *question) {
                ModalAnswer::pressButton(QMessageBox::Ok, &text, &seenReason);
                qobject_cast<QMessageBox *>(question)->button(QMessageBox::Yes)->click();
            });
        } else {
            ModalAnswer::pressButton(QMessageBox::Ok, &text, &seenReason);
        }
        choose(qobject_cast<QFileDialog *>(modal), path);
    });
    dialog.saveButton()->click();

    QTRY_VERIFY(!text.isEmpty());
    QVERIFY2(text.startsWith(QStringLiteral("The debug output could not be saved to ")),
             qPrintable(text));
    QCOMPARE(seenReason, reason);
}

void TestDebugDialog::save_cancelled_writesNothing()
{
    QTemporaryDir dir;
    DebugDialog dialog;
    dialog.appendPlainText(QStringLiteral("a line"));
    answerSaveDialog(QString());
    dialog.saveButton()->click();
    QVERIFY(QDir(dir.path()).isEmpty());
    QVERIFY(!QApplication::activeModalWidget());
}

void TestDebugDialog::closing_keepsSizePositionAndFontForTheNextWindow()
{
    QFont chosen(QStringLiteral("DejaVu Sans Mono"), 17);
    {
        DebugDialog dialog;
        dialog.show();
        QCOMPARE(dialog.size(), QSize(600, 600));
        QCOMPARE(dialog.pos(), QPoint(200, 200));

        ModalAnswer::expect([&](QWidget *modal) {
            auto *fonts = qobject_cast<QFontDialog *>(modal);
            fonts->setCurrentFont(chosen);
            chosen = fonts->currentFont();
            fonts->accept();
        });
        dialog.fontButton()->click();
        QCOMPARE(dialog.view()->font(), chosen);

        dialog.resize(640, 480);
        dialog.move(230, 240);
        dialog.close();
    }
    DebugDialog next;
    QCOMPARE(next.size(), QSize(640, 480));
    QCOMPARE(next.pos(), QPoint(230, 240));
    QCOMPARE(next.view()->font(), chosen);

    // A cancelled font dialog keeps the font.
    ModalAnswer::expect([](QWidget *modal) { qobject_cast<QDialog *>(modal)->reject(); });
    next.fontButton()->click();
    QCOMPARE(next.view()->font(), chosen);
}

void TestDebugDialog::escape_keepsTheGeometryToo()
{
    {
        DebugDialog dialog;
        dialog.show();
        dialog.resize(610, 420);
        QTest::keyClick(&dialog, Qt::Key_Escape);
        QVERIFY(!dialog.isVisible());
    }
    DebugDialog next;
    QCOMPARE(next.size(), QSize(610, 420));
}

void TestDebugDialog::storedValueThatIsNoFont_leavesTheDefaultFont()
{
    {
        QSettings settings(SettingsStore::Organisation, SettingsStore::Application);
        settings.setValue(QStringLiteral("DebugDialog/font"), QStringLiteral("not a font"));
    }
    DebugDialog dialog;
    QCOMPARE(dialog.view()->font(), QPlainTextEdit().font());
}

QTEST_MAIN(TestDebugDialog)
#include "tst_debugdialog.moc"
