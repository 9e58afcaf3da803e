#pragma once

class QAction;
class QComboBox;
class QGridLayout;
class QGroupBox;
class QLabel;
class QMainWindow;
class QMenu;
class QMenuBar;
class QPushButton;
class QStatusBar;
class QVBoxLayout;
class QString;
class QWidget;
class ReadingDisplay;

/// The main window's widgets, laid out and named as the technician knows them; the window's
/// behaviour lives in MainWindow.
struct MainWindowForm
{
    QWidget *mainWidget = nullptr;
    QVBoxLayout *verticalLayout = nullptr;

    QGroupBox *psiBox = nullptr;
    QGridLayout *gridLayout_3 = nullptr;
    QLabel *psiLabel = nullptr;
    ReadingDisplay *psiLCD = nullptr;

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

    /// The outcome of the last update, kept until the technician's next action.
    QLabel *outcome = nullptr;

    QGroupBox *serBox = nullptr;
    QGridLayout *gridLayout_2 = nullptr;
    QLabel *serLabel = nullptr;
    QComboBox *serComboBox = nullptr;
    QPushButton *serButton = nullptr;
    QPushButton *serConfigButton = nullptr;

    QMenuBar *menuBar = nullptr;
    QMenu *menuFile = nullptr;
    QMenu *menuOptions = nullptr;
    QMenu *menuAbout = nullptr;
    QAction *actionQuit = nullptr;
    QAction *actionEnableDebugLogging = nullptr;
    QAction *actionCalibrationHistory = nullptr;
    QAction *actionAbout = nullptr;
    QAction *actionUserGuide = nullptr;
    QStatusBar *statusBar = nullptr;

    /// Builds every widget inside `window`, which owns them from then on.
    void setupUi(QMainWindow *window);
    /// Shows `text` in one of the sender panel's value labels; its accessible name is the row's
    /// caption with the value, or "not known" while it is empty.
    void showValue(QLabel *value, const QString &text);
};
