#pragma once

#include "VX4message.h"
#include "firmwaredownload.h"
#include "portlock.h"
#include "portsettings.h"
#include "programmemoryrow.h"
#include "receivebuffer.h"
#include "vx4protocol.h"

#include <QDateTime>
#include <QList>
#include <QMap>
#include <QSerialPort>

class QTimer;

/// The protocol engine: the open serial port to one sender, its command queue, receive path,
/// connection state machine and the sender's last known state.
class VX4Interface : public QSerialPort
{
    Q_OBJECT

public:
    enum ConnectionState { Connecting = 0, Connected = 1, Disconnected = 2 };

    VX4Interface(const QString &portName, const PortSettings &settings);
    ~VX4Interface() override;

    static QString appText(VX4App app);
    static QString modeText(VX4Mode mode);
    static double adCountsToVolts(const VX4Message &msg);

    // Requests; each ends in the command queue.
    void queryApp();
    void changeApp();
    void resetDevice();
    void writeProgramMemory(const ProgramMemoryRow &row);
    void readProgramMemory(qint64 address);
    void writeEeprom(qint64 address, quint8 value);
    void readEeprom(qint64 address);
    void queryMode();
    void switchMode(quint8 mode);
    void capturePressure(quint8 index, int pressure);
    void saveCalDateTime(quint16 year, quint8 month, quint8 day, quint8 hour, quint8 minute);
    void requestCalDateTime();
    void requestFirmwareVersion();
    void setSerialNumber(quint16 sn);
    void requestSerialNumber();
    void requestADCounts();
    void zeroPressure();
    void requestADOffset();

    void startConnecting();
    bool isConnected() const { return state == Connected; }
    ConnectionState connectionState() const { return state; }

    VX4App app() const { return m_app; }
    VX4Mode mode() const { return m_mode; }
    quint16 serialNumber() const { return m_serialNumber; }
    QDateTime calDateTime() const { return m_calDateTime; }
    quint8 firmwareMajor() const { return firmwareMajorVersion; }
    quint8 firmwareMinor() const { return firmwareMinorVersion; }
    qint16 adOffset() const { return m_adOffset; }
    QString firmwareVersionString() const;
    QString serialNumberString();

    /// Starts a download of `rows` (64 words each, ascending addresses). Refused, with a log line,
    /// when the port is closed, a download runs, or the rows are empty or malformed (an address
    /// not a multiple of 64 or beyond 24 bits). With `verify`, each written row is read back and
    /// must equal what was written. `imageVersion` is the image's firmware version as
    /// "MAJOR.MINOR" (a package's), empty when unknown (a plain HEX file): when it differs from
    /// the version the sender reported, rows the image covers whole are written without being
    /// read first.
    bool startFirmwareUpdate(const QList<ProgramMemoryRow> &rows, bool verify = true,
                             const QString &imageVersion = QString());
    void finishFirmwareUpdate();
    bool isFirmwareUpdateRunning() const { return download.isRunning(); }
    /// Rows of the running or last download; valid from vx4FirmwareUpdateStarted on.
    FirmwareDownload::Counts firmwareUpdateCounts() const { return download.counts(); }
    /// Where the last download that ended left the sender (while one runs: where it stands).
    FirmwareDownload::SenderState firmwareUpdateSenderState() const
    {
        return download.senderState();
    }
    /// Stops at a safe point: drops every request not yet on the wire, lets the one on the wire
    /// be answered or time out once, sends nothing new and stops polling. A running download
    /// ends with vx4FirmwareUpdateFinished(false, ...). vx4Interrupted follows (queued) once
    /// nothing is on the wire; the engine then stays quiet until startConnecting() or a new
    /// request.
    void interrupt();

    /// Bytes as read from the line: cut into frames and routed. The ready-read slot calls it.
    void receiveBytes(const QByteArray &bytes);
    /// Received bytes not yet cut into frames: at most one incomplete frame.
    qsizetype pendingBytes() const { return receiver.size(); }
    /// Requests waiting or on the wire, head first.
    const QList<VX4Message> &queuedMessages() const { return messageQueue; }

    /// Opens the port holding it exclusively (PortLock); a refusal is in `errorString()`.
    bool open(OpenMode mode) override;

public slots:
    void close() override;
    void pollForConnectionChange(bool poll);
    void onPollingTimerTimeout();
    void onAppQueryTimerTimeout();

signals:
    void vx4ResponseRdy(VX4Message msg);
    void vx4PressureMsgRdy(int pressure, VX4Message msg);
    void vx4MessageTimeout(VX4Message msg);
    void vx4AppChanged(VX4App a);
    void vx4ModeChanged(VX4Mode m);
    void vx4CalDateTimeChanged(QDateTime dt);
    void vx4FirmwareVersionChanged(quint8 major, quint8 minor);
    void vx4SerialNumberChanged(quint16 sn);
    void vx4ADOffsetChanged(qint16 offset);
    void vx4ConnectedSignal();
    void vx4DisconnectedSignal();
    /// The port went away (adapter unplugged, write failed); the engine has closed it.
    void vx4PortLost(const QString &reason);
    void vx4FirmwareUpdateStarted();
    void vx4FirmwareUpdateProgressChanged(int i);
    void vx4FirmwareUpdateFinished(bool result, QString errorMsg);
    /// Once per successful download, after its RESET: the restarted sender connected again in its
    /// application and reports `version` ("2.6"); or it came back only in its bootloader
    /// (`answered` true, `version` empty); or it did not connect within the restart limit
    /// (`answered` false, `version` empty).
    void vx4FirmwareReadBack(bool answered, QString version);
    /// interrupt() is done: nothing is on the wire.
    void vx4Interrupted();

private slots:
    void onSerialPortReadyRead();
    void onPortError(QSerialPort::SerialPortError error);
    void onStalledFrame();
    void onMsgTimerTimeout();
    void onResponseRdy(const VX4Message &msg);
    void connectingMsgHandler(const VX4Message &msg);
    void connectingTimeoutHandler(const VX4Message &msg);
    void connectedMsgHandler(const VX4Message &msg);
    void connectedTimeoutHandler(const VX4Message &msg);
    void disconnectedMsgHandler(const VX4Message &msg);
    void disconnectedTimeoutHandler(const VX4Message &msg);
    void firmwareUpdateMsgHandler(const VX4Message &msg);
    void firmwareUpdateTimeoutHandler(const VX4Message &msg);

private:
    // The download drives the engine's requests and binds its own handler pair.
    friend class FirmwareDownload;

    enum class Pair { Connecting, Connected, Disconnected, FirmwareUpdate };
    struct HandlerPair;
    static const HandlerPair &handlerPair(Pair pair);

    // Receive path
    void processReceiveBuffer();
    void cutFrames();
    void portLost(const QString &reason);
    // Command queue
    void enqueueMessage(const VX4Message &msg);
    VX4Message request(quint8 command, const QByteArray &payload = {}) const;
    void enqueueRequest(quint8 command, const QByteArray &payload = {});
    void sendNextMessage();
    void sendMessage(VX4Message &msg);
    void restartPollingTimer(int ms);
    VX4Message removeHeadMessage();
    void answerHead(const VX4Message &answer);
    void giveUpHead();
    void markLate(const VX4Message &request);
    int fenceCommand(quint8 lateCommand) const;
    // Connection states
    void bindPair(Pair pair);
    void unbindPair(Pair pair);
    void finishConnecting(VX4App finishedApp);
    void completeInterrupt(const VX4Message *answer);
    // Device status
    void resetDeviceInfo();
    void decodeAnswer(const VX4Message &msg);

    PortLock portLock;
    VX4ReceiveBuffer receiver { char(VX4Protocol::AnswerMarker) };
    QDateTime m_calDateTime;
    quint16 connectingStep = 0;
    ConnectionState state = Disconnected;
    VX4App m_app = UnknownApp;
    VX4Mode m_mode = UnknownMode;
    bool pollingEnabled = false;
    bool quiet = false; ///< interrupted: the engine starts nothing of its own
    bool interruptPending = false; ///< interrupted while a request was on the wire
    FirmwareDownload download { *this };
    quint8 firmwareMajorVersion = 255;
    quint8 firmwareMinorVersion = 0;
    QList<VX4Message> messageQueue;
    QTimer *messageTimer = nullptr;
    QTimer *pollingTimer = nullptr;
    QTimer *stallTimer = nullptr; ///< gives up on an incomplete frame that gets no more bytes
    quint32 lastSerial = 0; ///< serial of the request enqueued last
    quint32 answeredSerial = 0; ///< serial of the request the answer being routed belongs to
    quint32 writeCount = 0; ///< writes so far, to order requests on the line
    /// Commands with a request that timed out, and the number of its last write: a late answer to
    /// it may still come, so an answer of that command is taken for a later request only once
    /// the line is proven clean.
    QMap<quint8, quint32> lateCommands;
    qint16 m_adOffset = -30000;
    quint16 m_serialNumber = 0;
};
