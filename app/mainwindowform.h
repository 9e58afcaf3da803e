#pragma once

class QAction;
class QComboBox;
class QGridLayout;
class QGroupBox;
class QLCDNumber;
class QLabel;
class QMainWindow;
class QMenu;
class QMenuBar;
class QPushButton;
class QStatusBar;
class QVBoxLayout;
class QWidget;

/// The main window's widgets, laid out and named as the technician knows them; the window's
/// behaviour lives in MainWindow.
struct MainWindowForm
{
    QWidget *mainWidget = nullptr;
    QVBoxLayout *verticalLayout = nullptr;

    QGroupBox *psiBox = nullptr;
    QGridLayout *gridLayout_3 = nullptr;
    QLabel *psiLabel = nullptr;
    QLCDNumber *psiLCD = nullptr;

    QGroupBox *dpsBox = nullptr;
    QGridLayout *gridLayout = nullptr;
    QPushButton *serNumButton = nullptr;
    QLabel *serNumLabel = nullptr;
    QLabel *serNum = nullptr;
    QPushButton *calButton = nullptr;
    QLabel *calDateLabel = nullptr;
    QLabel *calDate = nullptr;
    QPushButton *updateFirmButton = nullptr;
    QLabel *firmVerLabel = nullptr;
    QLabel *firmVer = nullptr;
    QPushButton *zeroPressureButton = nullptr;
    QLabel *pressureOffsetLabel = nullptr;
    QLabel *pressureOffsetValue = nullptr;
    QPushButton *appChangePushButton = nullptr;
    QLabel *currAppLabel = nullptr;
    QLabel *currApp = nullptr;
    QPushButton *opModePushButton = nullptr;
    QLabel *opModeLabel = nullptr;
    QLabel *opMode = nullptr;
    QLabel *connectionStatusLabel = nullptr;
    QLabel *connectionStatus = nullptr;
    QLabel *adStatusLabel = nullptr;
    QLabel *adStatus = nullptr;

    QGroupBox *serBox = nullptr;
    QGridLayout *gridLayout_2 = nullptr;
    QLabel *serLabel = nullptr;
    QComboBox *serComboBox = nullptr;
    QPushButton *serButton = nullptr;
    QPushButton *serConfigButton = nullptr;

    QMenuBar *menuBar = nullptr;
    QMenu *menuOptions = nullptr;
    QMenu *menuAbout = nullptr;
    QAction *actionEnableDebugLogging = nullptr;
    QAction *actionCalibrationHistory = nullptr;
    QAction *actionAbout = nullptr;
    QAction *actionUserGuide = nullptr;
    QStatusBar *statusBar = nullptr;

    /// Builds every widget inside `window`, which owns them from then on.
    void setupUi(QMainWindow *window);
};
