#pragma once

#include "VX4message.h"
#include "receivebuffer.h"
#include "vx4protocol.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QList>
#include <QMap>
#include <QObject>

class QTimer;

/// A stand-in for the sender's firmware: takes the PC's bytes, answers as a sender would, and
/// streams pressure frames in pressure sending mode. No I/O of its own: bytes leave by `transmit`.
class SimulatedSender : public QObject
{
    Q_OBJECT

public:
    /// One point captured by CAPTURE PRESSURE: the set point the PC named and what was applied.
    struct CapturePoint
    {
        int setPointPsi = 0;
        double appliedPsi = 0;
    };

    explicit SimulatedSender(QObject *parent = nullptr);

    // Identity and state
    VX4App app() const { return m_app; }
    void setApp(VX4App app);
    VX4Mode mode() const { return m_mode; }
    void setMode(VX4Mode mode);
    quint8 firmwareMajor() const { return m_firmwareMajor; }
    quint8 firmwareMinor() const { return m_firmwareMinor; }
    void setFirmwareVersion(quint8 major, quint8 minor);
    quint16 serialNumber() const { return m_serialNumber; }
    void setSerialNumber(quint16 sn) { m_serialNumber = sn; }
    /// A null date means no calibration date is stored.
    QDateTime calDateTime() const { return m_calDateTime; }
    void setCalDateTime(const QDateTime &dt) { m_calDateTime = dt; }
    qint16 adOffset() const { return m_adOffset; }
    void setAdOffset(qint16 offset) { m_adOffset = offset; }
    /// Status byte of pressure frames and A/D count answers: 0 okay, 1 time-out, 2 NACK, 3 config.
    void setAdStatus(quint8 status) { m_adStatus = status; }

    // The pressure at the sender's port, as the technician's reference calibrator applies it
    double appliedPressure() const { return m_appliedPsi; }
    void setAppliedPressure(double psi) { m_appliedPsi = psi; }
    /// Error of the factory calibration before a new one is saved: reading = gain * applied +
    /// offset.
    void setCalibrationError(double offsetPsi, double gain);
    /// The pressure the sender reports now, in whole PSI, zero offset and calibration applied.
    int reading() const;
    /// A/D counts for the applied pressure: 0 PSI gives 0 counts, 3000 PSI about 2.5 V.
    qint16 adCounts() const;
    /// Period of pressure frames in pressure sending mode (default 50 ms); 0 stops the stream.
    void setStreamInterval(int ms);

    // Program memory (by word address; erased words read 0xFFFF) and EEPROM (erased 0xFF)
    quint16 programWord(quint32 wordAddress) const;
    void setProgramWord(quint32 wordAddress, quint16 value);
    const QMap<quint32, quint16> &programMemory() const { return m_program; }
    quint8 eeprom(quint16 address) const;
    void setEeprom(quint16 address, quint8 value);

    // Calibration
    const QMap<int, CapturePoint> &capturedPoints() const { return m_captured; }
    /// The set points of the calibration in force, as last saved; empty for the factory one.
    const QMap<int, CapturePoint> &savedCalibration() const { return m_saved; }

    // Faults
    void setSilent(bool silent) { m_silent = silent; }
    bool isSilent() const { return m_silent; }
    void dropNextAnswers(int count) { m_dropAnswers = count; }
    /// Drops the next `count` answers to `command` only.
    void dropAnswersTo(quint8 command, int count) { m_dropAnswersTo[command] = count; }
    void corruptNextCrc() { m_corruptNextCrc = true; }
    void injectGarbage(const QByteArray &bytes);
    /// Answers leave this many ms after their request (0: at once).
    void setAnswerDelay(int ms) { m_answerDelayMs = ms; }
    /// The next answer leaves this many ms late; answers to later requests, a resend's included,
    /// follow it in order.
    void delayNextAnswer(int ms) { m_lateNextMs = ms; }
    /// The next `count` APP QUERY answers carry no payload.
    void setEmptyAppAnswers(int count) { m_emptyAppAnswers = count; }
    /// The next `count` WRITE PROG MEM requests are answered with status 0 and change nothing.
    void failNextWrites(int count) { m_failWrites = count; }
    /// Written rows that are stored wrong (one word differs from the one sent), yet confirmed.
    enum class CorruptWrites { Off, Once, Always };
    void setCorruptWrites(CorruptWrites corrupt) { m_corruptWrites = corrupt; }
    CorruptWrites corruptWrites() const { return m_corruptWrites; }
    /// APP CHANGE is acknowledged with 00 at once; the other application runs this many ms
    /// later (default 30). Until then the old one answers.
    void setRestartDelay(int ms) { m_restartDelayMs = ms; }
    int restartDelay() const { return m_restartDelayMs; }
    /// A noise pair: a stray start marker and a length byte, as a line glitch would give.
    void injectNoisePair(quint8 length = 0xF0);

    /// Every good request received, oldest first.
    const QList<VX4Message> &requests() const { return m_requests; }
    QList<quint8> requestCommands() const;
    void clearRequests() { m_requests.clear(); }

public slots:
    /// Bytes from the PC.
    void receive(const QByteArray &bytes);

signals:
    /// Bytes to the PC.
    void transmit(const QByteArray &bytes);
    void requestReceived(const VX4Message &request);
    /// The sender restarted, into the application it now runs.
    void didReset(VX4App app);

private:
    void handleRequest(const VX4Message &request);
    void answer(quint8 command, const QByteArray &payload);
    void sendFrame(QByteArray frame);
    void sendPressureFrame();
    void sendDelayedAnswers();
    void updateStreaming();
    void restartInto(VX4App app);
    void saveCalibration();
    double calibratedReading() const;

    VX4App m_app = PressureSendingApp;
    VX4Mode m_mode = PressureSendingMode;
    quint8 m_firmwareMajor = 1;
    quint8 m_firmwareMinor = 0;
    quint16 m_serialNumber = 1234;
    QDateTime m_calDateTime;
    qint16 m_adOffset = 0;
    quint8 m_adStatus = 0;
    double m_appliedPsi = 0;
    double m_errorOffsetPsi = 0;
    double m_errorGain = 1;
    double m_zeroPsi = 0;
    QMap<quint32, quint16> m_program;
    QMap<quint16, quint8> m_eeprom;
    QMap<int, CapturePoint> m_captured;
    QMap<int, CapturePoint> m_saved;

    bool m_silent = false;
    int m_dropAnswers = 0;
    QMap<quint8, int> m_dropAnswersTo;
    bool m_corruptNextCrc = false;
    int m_answerDelayMs = 0;
    int m_lateNextMs = 0;
    int m_emptyAppAnswers = 0;
    int m_failWrites = 0;
    CorruptWrites m_corruptWrites = CorruptWrites::Off;
    int m_restartDelayMs = 30;
    QTimer *m_restartTimer = nullptr;
    VX4App m_restartApp = PressureSendingApp;

    VX4ReceiveBuffer m_inBuffer { char(VX4Protocol::RequestMarker) };
    QList<VX4Message> m_requests;
    QTimer *m_streamTimer = nullptr;
    QTimer *m_delayTimer = nullptr;
    QElapsedTimer m_clock;
    QList<QPair<qint64, QByteArray>> m_delayed; ///< (due in ms on m_clock, frame)
    int m_streamIntervalMs = 50;
};
