#include "senderwindow.h"

#include "settingskeys.h"

#include <QComboBox>
#include <QLCDNumber>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QStatusBar>
#include <QTest>

void clearSettings()
{
    QSettings settings(SettingsStore::Organisation, SettingsStore::Application);
    settings.clear();
    settings.sync();
}

SenderWindow::SenderWindow(const QStringList &arguments, const QStringList &extraPorts)
{
    QString error;
    if (!pty.open(&error))
        qFatal("Cannot open a pseudo-terminal: %s", qPrintable(error));
    qputenv("VX4_EXTRA_PORTS",
            (QStringList(extraPorts) << pty.slavePath()).join(':').toLocal8Bit());
    window = std::make_unique<MainWindow>(QStringList { QStringLiteral("tst") } + arguments);
    selectPort(pty.slavePath());
}

QString SenderWindow::statusText() const
{
    return ui()->statusBar->currentMessage();
}

bool SenderWindow::selectPort(const QString &friendlyName)
{
    const int index = ui()->serComboBox->findText(friendlyName);
    if (index < 0)
        return false;
    ui()->serComboBox->setCurrentIndex(index);
    return true;
}

bool SenderWindow::openAndConnect(int timeoutMs)
{
    ui()->serButton->click();
    return waitForStatus(QStringLiteral("Connected"), timeoutMs);
}

bool SenderWindow::waitForStatus(const QString &text, int timeoutMs)
{
    return QTest::qWaitFor([&]() { return ui()->connectionStatus->text() == text; }, timeoutMs);
}

bool SenderWindow::waitForReading(int psi, int timeoutMs)
{
    return QTest::qWaitFor([&]() { return ui()->psiLCD->intValue() == psi; }, timeoutMs);
}
