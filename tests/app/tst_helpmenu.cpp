// The Help menu as the technician uses it: User Guide opens the guide installed beside the
// program, About shows the licence; and the window names the menu entry it belongs to.
#include "appidentity.h"
#include "helpmenu.h"
#include "mainwindow.h"
#include "modalanswer.h"

#include <QtTest>
#include <QtWidgets>

class TestHelpMenu : public QObject
{
    Q_OBJECT

public slots:
    void openUrl(const QUrl &url) { opened = url; }

private slots:
    void initTestCase()
    {
        AppIdentity::apply();
        AppIdentity::registerImages();
        QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "openUrl");
    }
    void helpMenu_opensTheGuideAndShowsTheLicence();

private:
    QUrl opened;
};

static QAction *helpEntry(MainWindow &window, const QString &text)
{
    for (QAction *menu : window.menuBar()->actions()) {
        for (QAction *action : menu->menu()->actions()) {
            if (menu->text().remove('&') == "Help" && action->text().remove('&') == text)
                return action;
        }
    }
    return nullptr;
}

void TestHelpMenu::helpMenu_opensTheGuideAndShowsTheLicence()
{
    MainWindow window;
    // Without the guide a box would wait for an answer.
    QVERIFY2(QFileInfo::exists(HelpMenu::userGuidePath()), qPrintable(HelpMenu::userGuidePath()));
    helpEntry(window, "User Guide")->trigger();
    QFile guide(opened.toLocalFile());
    QVERIFY(guide.open(QIODevice::ReadOnly));
    QVERIFY(guide.readAll().contains("<h2>Without a window: <code>vx4ctl</code></h2>"));

    QString text;
    QString licence;
    ModalAnswer::expect([&](QWidget *modal) {
        auto *box = qobject_cast<QMessageBox *>(modal);
        text = box->text();
        licence = box->detailedText();
        box->accept();
    });
    helpEntry(window, "About")->trigger();
    QVERIFY(text.startsWith(AppIdentity::applicationName()));
    QVERIFY(text.contains("MIT licence"));
    QFile file(QStringLiteral(SOURCE_DIR "/LICENSE"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(licence, QString::fromUtf8(file.readAll()));

    QCOMPARE(QGuiApplication::desktopFileName() + ".desktop",
             QFileInfo(SOURCE_DIR "/packaging/orvelle-utility.desktop").fileName());
}

QTEST_MAIN(TestHelpMenu)
#include "tst_helpmenu.moc"
