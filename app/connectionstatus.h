#pragma once

#include <QCoreApplication>
#include <QString>
#include <QTime>

class QLabel;

/// What the window says about its connection to the sender: connected, or why not, in words the
/// technician can act on. Every event shows its text on the label at once, and it stays until the
/// next event changes it.
class ConnectionStatus
{
    Q_DECLARE_TR_FUNCTIONS(MainWindow)

public:
    /// `label` may be null: the text is then only kept.
    explicit ConnectionStatus(QLabel *label = nullptr);

    QString text() const { return current; }

    /// `port` is open; no sender has answered on it yet.
    void opened(const QString &port);
    void openFailed(const QString &port, const QString &reason);
    /// A frame from the sender arrived at `at`.
    void heard(const QTime &at = QTime::currentTime()) { lastHeard = at; }
    void connected();
    /// No answer: a request went unanswered while none was connected, or the connected sender
    /// stopped answering.
    void silence();
    void portLost(const QString &port, const QString &reason);
    void closed();

private:
    void show(const QString &text);

    QLabel *label;
    QString current;
    QString portName;
    QTime lastHeard; ///< when the sender was last heard on this port; invalid before
    bool everConnected = false; ///< a sender connected since the port was opened
};
