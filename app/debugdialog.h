#pragma once

#include <QDialog>

class QPlainTextEdit;
class QPushButton;

/// The debug output window: shows the log lines that arrive while it is open, and can clear
/// them, save them to a text file and change their font.
class DebugDialog : public QDialog
{
    Q_OBJECT

public:
    /// Lines the window keeps; older ones leave it as new ones come, so a long run with the
    /// window open holds bounded memory.
    static constexpr int MaxLines = 20000;

    explicit DebugDialog(QWidget *parent = nullptr);
    ~DebugDialog() override;

    QPlainTextEdit *view() const { return outputView; }
    QPushButton *clearButton() const { return m_clearButton; }
    QPushButton *fontButton() const { return m_fontButton; }
    QPushButton *saveButton() const { return m_saveButton; }

public slots:
    void appendPlainText(const QString &text);
    void onFontButtonClicked();
    void onSave();
    /// Escape leaves through the close path too, so the window's geometry and font are kept.
    void reject() override;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    QPlainTextEdit *outputView = nullptr;
    QPushButton *m_clearButton = nullptr;
    QPushButton *m_fontButton = nullptr;
    QPushButton *m_saveButton = nullptr;
};
