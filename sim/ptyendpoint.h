#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>

class QSocketNotifier;
class QTimer;
class SimulatedSender;

/// Serves a SimulatedSender on a pseudo-terminal: the program under test opens the slave path
/// as its serial port. Can pace the sender's output to a baud rate (10 bits per byte).
class PtyEndpoint : public QObject
{
    Q_OBJECT

public:
    explicit PtyEndpoint(SimulatedSender *sender, QObject *parent = nullptr);
    ~PtyEndpoint() override;

    bool open(QString *error = nullptr);
    QString slavePath() const { return m_slavePath; }
    /// 0 writes at once; otherwise bytes in both directions take 10 bits each at this rate.
    void setPacingBaud(int baud) { m_pacingBaud = baud; }
    /// An echoing line (a two-wire adapter): every byte from the PC comes back to it as it crosses
    /// the line, beside the request, without holding up the answer.
    void setEcho(bool echo) { m_echo = echo; }
    bool echoes() const { return m_echo; }
    /// A symbolic link at `linkPath` to the slave, replacing an older link there.
    bool createLink(const QString &linkPath, QString *error = nullptr);
    /// The port vanishes, as an unplugged adapter does: the pty is closed under its user.
    void vanish();
    bool hasVanished() const { return m_vanished; }
    quint64 bytesFromPc() const { return m_bytesIn; }
    quint64 bytesToPc() const { return m_bytesOut; }

private:
    void onMasterReadable();
    void queueOutput(const QByteArray &bytes);
    void echo(const QByteArray &bytes, qint64 lastDueNs);
    qint64 lineTimeNs(qsizetype bytes) const;
    void schedule();
    void deliverDue();
    void writePending();

    SimulatedSender *m_sender;
    int m_master = -1;
    int m_slave = -1;
    QString m_slavePath;
    QString m_linkPath;
    QSocketNotifier *m_readNotifier = nullptr;
    QTimer *m_paceTimer = nullptr;
    QByteArray m_pending; ///< due but not yet taken by the pty
    QList<QPair<qint64, QByteArray>> m_scheduled; ///< to the PC: (due time in ns, bytes)
    QList<QPair<qint64, QByteArray>> m_incoming; ///< to the sender: (due time in ns, bytes)
    qint64 m_inLineFreeAtNs = 0;
    qint64 m_deliveringDueNs = 0; ///< due time of the request being handed to the sender
    int m_pacingBaud = 0;
    qint64 m_lineFreeAtNs = 0;
    quint64 m_bytesIn = 0;
    quint64 m_bytesOut = 0;
    bool m_vanished = false;
    bool m_echo = false;
};
