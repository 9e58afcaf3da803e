#include "mainwindowform.h"

#include "readingdisplay.h"

#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QVBoxLayout>

namespace {
constexpr int LayoutSpacing = 6; ///< px between the cells of every layout of the form
constexpr int LayoutMargin = 11; ///< px around every layout of the form
constexpr int ButtonMinHeight = 21; ///< px, push buttons of the sender panel
constexpr int CaptionMinHeight = 15; ///< px, caption labels of the sender panel

QString tr(const char *text)
{
    return QCoreApplication::translate("MainWindow", text);
}

void setSpacingAndMargins(QLayout *layout)
{
    layout->setSpacing(LayoutSpacing);
    layout->setContentsMargins(LayoutMargin, LayoutMargin, LayoutMargin, LayoutMargin);
}

template<typename W> W *named(W *widget, const char *name)
{
    widget->setObjectName(QLatin1String(name));
    return widget;
}
} // namespace

void MainWindowForm::setupUi(QMainWindow *window)
{
    window->resize(459, 476);
    window->setMinimumSize(0, 0);
    window->setMaximumSize(16000, 16000);

    mainWidget = named(new QWidget(window), "mainWidget");
    verticalLayout = named(new QVBoxLayout(mainWidget), "verticalLayout");
    setSpacingAndMargins(verticalLayout);

    // Pressure
    psiBox = named(new QGroupBox(tr("Pressure"), mainWidget), "psiBox");
    gridLayout_3 = named(new QGridLayout(psiBox), "gridLayout_3");
    setSpacingAndMargins(gridLayout_3);
    psiLabel = named(new QLabel(tr("PSI:"), psiBox), "psiLabel");
    QFont big = psiLabel->font();
    big.setPointSize(48);
    psiLabel->setFont(big);
    psiLabel->setEnabled(false);
    // The reading grows with the window, so it can be read from across the bench.
    psiLCD = named(new ReadingDisplay(psiBox), "psiLCD");
    psiLCD->setMinimumSize(250, 80);
    psiLCD->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    psiLCD->setEnabled(false);
    gridLayout_3->addWidget(psiLabel, 1, 0);
    gridLayout_3->addWidget(psiLCD, 1, 1);
    gridLayout_3->setColumnStretch(1, 1);
    verticalLayout->addWidget(psiBox, 1);

    // Digital Pressure Sender
    dpsBox = named(new QGroupBox(tr("Digital Pressure Sender"), mainWidget), "dpsBox");
    dpsBox->setEnabled(false);
    gridLayout = named(new QGridLayout(dpsBox), "gridLayout");
    setSpacingAndMargins(gridLayout);
    gridLayout->setSizeConstraint(QLayout::SetNoConstraint);

    auto button
        = [&](const char *name, const char *text, const char *spoken, int row, bool enabled) {
              auto *b = named(new QPushButton(tr(text), dpsBox), name);
              b->setAccessibleName(tr(spoken));
              b->setMinimumHeight(ButtonMinHeight);
              b->setEnabled(enabled);
              gridLayout->addWidget(b, row, 0);
              return b;
          };
    auto caption = [&](const char *name, const char *text, int row, bool enabled) {
        auto *l = named(new QLabel(tr(text), dpsBox), name);
        l->setMinimumHeight(CaptionMinHeight);
        l->setEnabled(enabled);
        gridLayout->addWidget(l, row, 1);
        return l;
    };
    auto value = [&](const char *name, int row, bool enabled) {
        auto *l = named(new QLabel(dpsBox), name);
        l->setEnabled(enabled);
        gridLayout->addWidget(l, row, 2);
        return l;
    };

    serNumButton = button("serNumButton", "Set Serial #", "Set serial number", 0, false);
    serNumLabel = caption("serNumLabel", "Serial #:", 0, false);
    serNum = value("serNum", 0, false);
    calButton = button("calButton", "Calibrate", "Calibrate the sender", 1, false);
    calDateLabel = caption("calDateLabel", "Calibration Date:", 1, false);
    calDate = value("calDate", 1, false);
    updateFirmButton = button("updateFirmButton", "Update Firmware", "Update firmware", 2, false);
    firmVerLabel = caption("firmVerLabel", "Firmware Version:", 2, false);
    firmVer = value("firmVer", 2, false);
    zeroPressureButton
        = button("zeroPressureButton", "Zero Pressure", "Zero the pressure reading", 3, true);
    pressureOffsetLabel = caption("pressureOffsetLabel", "A/D Offset:", 3, true);
    pressureOffsetValue = value("pressureOffsetValue", 3, true);
    appChangePushButton = button("appChangePushButton", "Toggle Application",
                                 "Toggle the running application", 4, true);
    currAppLabel = caption("currAppLabel", "Running App:", 4, false);
    currApp = value("currApp", 4, false);
    opModePushButton
        = button("opModePushButton", "Toggle Operating Mode", "Toggle the operating mode", 5, true);
    opModeLabel = caption("opModeLabel", "Operating Mode:", 5, false);
    opMode = value("opMode", 5, false);
    connectionStatusLabel = caption("connectionStatusLabel", "Connection Status:", 6, true);
    connectionStatus = value("connectionStatus", 6, true);
    connectionStatus->setText(tr("Disconnected"));
    // The reasons are long: they wrap rather than widen the window, in room kept for them, and
    // stay readable while the rest of the panel is greyed for want of a sender.
    connectionStatus->setWordWrap(true);
    connectionStatus->setMinimumHeight(3 * connectionStatus->fontMetrics().lineSpacing());
    QPalette readable = connectionStatus->palette();
    readable.setColor(QPalette::Disabled, QPalette::WindowText,
                      readable.color(QPalette::Active, QPalette::WindowText));
    connectionStatus->setPalette(readable);
    adStatusLabel = caption("adStatusLabel", "A/D Status:", 7, true);
    adStatus = value("adStatus", 7, true);
    verticalLayout->addWidget(dpsBox);

    outcome = named(new QLabel(mainWidget), "outcome");
    outcome->setWordWrap(true);
    verticalLayout->addWidget(outcome);

    QWidget::setTabOrder(serNumButton, calButton);
    QWidget::setTabOrder(calButton, updateFirmButton);

    // Serial Port
    serBox = named(new QGroupBox(tr("Serial Port"), mainWidget), "serBox");
    gridLayout_2 = named(new QGridLayout(serBox), "gridLayout_2");
    setSpacingAndMargins(gridLayout_2);
    serLabel = named(new QLabel(tr("Serial Port:"), serBox), "serLabel");
    serComboBox = named(new QComboBox(serBox), "serComboBox");
    serComboBox->setMinimumWidth(200);
    serButton = named(new QPushButton(tr("Open"), serBox), "serButton");
    serButton->setCheckable(true);
    serButton->setAccessibleName(tr("Open the serial port"));
    serConfigButton = named(new QPushButton(tr("Configure"), serBox), "serConfigButton");
    serConfigButton->setAccessibleName(tr("Configure the serial line"));
    serComboBox->setAccessibleName(tr("Serial port"));
    gridLayout_2->addWidget(serLabel, 0, 1);
    gridLayout_2->addWidget(serComboBox, 0, 2);
    gridLayout_2->addWidget(serButton, 0, 3);
    gridLayout_2->addWidget(serConfigButton, 0, 4);
    gridLayout_2->setColumnStretch(2, 1);
    verticalLayout->addWidget(serBox);

    window->setCentralWidget(mainWidget);

    // Menus and status bar
    menuBar = named(new QMenuBar(window), "menuBar");
    menuBar->setGeometry(0, 0, 458, 20);
    menuFile = named(new QMenu(tr("&File"), menuBar), "menuFile");
    menuOptions = named(new QMenu(tr("&View"), menuBar), "menuOptions");
    menuAbout = named(new QMenu(tr("&Help"), menuBar), "menuAbout");
    actionQuit = named(new QAction(tr("&Quit"), window), "actionQuit");
    actionQuit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    // From the debug and history windows too: the program is one.
    actionQuit->setShortcutContext(Qt::ApplicationShortcut);
    actionEnableDebugLogging
        = named(new QAction(tr("&Debug Output"), window), "actionEnableDebugLogging");
    actionEnableDebugLogging->setCheckable(true);
    actionCalibrationHistory
        = named(new QAction(tr("Calibration &History"), window), "actionCalibrationHistory");
    actionAbout = named(new QAction(tr("&About"), window), "actionAbout");
    actionUserGuide = named(new QAction(tr("&User Guide"), window), "actionUserGuide");
    menuFile->addAction(actionQuit);
    menuOptions->addAction(actionEnableDebugLogging);
    menuOptions->addAction(actionCalibrationHistory);
    menuAbout->addAction(actionUserGuide);
    menuAbout->addAction(actionAbout);
    menuBar->addMenu(menuFile);
    menuBar->addMenu(menuOptions);
    menuBar->addMenu(menuAbout);
    window->setMenuBar(menuBar);

    statusBar = named(new QStatusBar(window), "statusBar");
    window->setStatusBar(statusBar);
}

void MainWindowForm::showValue(QLabel *value, const QString &text)
{
    value->setText(text);
    int row = 0;
    int column = 0;
    int span = 0;
    gridLayout->getItemPosition(gridLayout->indexOf(value), &row, &column, &span, &span);
    const auto *caption = qobject_cast<QLabel *>(gridLayout->itemAtPosition(row, 1)->widget());
    value->setAccessibleName(caption->text() + QLatin1Char(' ')
                             + (text.isEmpty() ? tr("not known") : text));
}
