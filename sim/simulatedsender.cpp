#include "simulatedsender.h"

#include "bytes.h"
#include "vx4protocol.h"

#include <QTimer>

#include <algorithm>
#include <cmath>

using namespace VX4Protocol;

namespace {
// The sender's A/D converter: 3000 PSI gives about 2.5 V of its 3 V range.
constexpr double CountsPerPsi = 27306.0 / 3000.0;
constexpr quint16 ErasedWord = 0xFFFF; ///< program memory word never written
constexpr quint8 ErasedByte = 0xFF; ///< EEPROM byte never written
constexpr quint8 WriteOk = 1; ///< WRITE PROG MEM status: written
constexpr quint8 WriteFailed = 0; ///< WRITE PROG MEM status: not written
} // namespace

using VX4Bytes::appendWord;
using VX4Bytes::wordAt;

SimulatedSender::SimulatedSender(QObject *parent)
    : QObject(parent)
    , m_streamTimer(new QTimer(this))
{
    m_eeprom.insert(EepromBootFlagAddress, EepromBootFlagValid);
    connect(m_streamTimer, &QTimer::timeout, this, &SimulatedSender::sendPressureFrame);
    m_delayTimer = new QTimer(this);
    m_delayTimer->setSingleShot(true);
    m_delayTimer->setTimerType(Qt::PreciseTimer);
    connect(m_delayTimer, &QTimer::timeout, this, &SimulatedSender::sendDelayedAnswers);
    m_restartTimer = new QTimer(this);
    m_restartTimer->setSingleShot(true);
    m_restartTimer->setTimerType(Qt::PreciseTimer);
    connect(m_restartTimer, &QTimer::timeout, this, [this] { restartInto(m_restartApp); });
    m_clock.start();
    updateStreaming();
}

void SimulatedSender::restartInto(VX4App app)
{
    m_restartTimer->stop();
    m_app = app;
    m_mode = PressureSendingMode;
    updateStreaming();
}

void SimulatedSender::injectNoisePair(quint8 length)
{
    emit transmit(QByteArray(1, char(AnswerMarker)) + char(length));
}

void SimulatedSender::setApp(VX4App app)
{
    m_app = app;
    updateStreaming();
}

void SimulatedSender::setMode(VX4Mode mode)
{
    m_mode = mode;
    updateStreaming();
}

void SimulatedSender::setFirmwareVersion(quint8 major, quint8 minor)
{
    m_firmwareMajor = major;
    m_firmwareMinor = minor;
}

void SimulatedSender::setCalibrationError(double offsetPsi, double gain)
{
    m_errorOffsetPsi = offsetPsi;
    m_errorGain = gain;
}

void SimulatedSender::setStreamInterval(int ms)
{
    m_streamIntervalMs = ms;
    updateStreaming();
}

qint16 SimulatedSender::adCounts() const
{
    return qint16(qBound(-32767.0, std::round(m_appliedPsi * CountsPerPsi), 32767.0));
}

double SimulatedSender::calibratedReading() const
{
    const double counts = adCounts();
    if (m_saved.size() < 2)
        return counts / CountsPerPsi * m_errorGain + m_errorOffsetPsi;
    // Piecewise linear through the saved points, the end segments extended.
    QList<QPair<double, double>> points;
    for (const CapturePoint &p : m_saved)
        points.append({ std::round(p.appliedPsi * CountsPerPsi), double(p.setPointPsi) });
    std::sort(points.begin(), points.end());
    int segment = 0;
    while (segment < points.size() - 2 && counts > points.at(segment + 1).first)
        ++segment;
    const auto &a = points.at(segment);
    const auto &b = points.at(segment + 1);
    if (b.first == a.first)
        return a.second;
    return a.second + (counts - a.first) * (b.second - a.second) / (b.first - a.first);
}

int SimulatedSender::reading() const
{
    return int(std::lround(qBound(-32768.0, calibratedReading() - m_zeroPsi, 32767.0)));
}

quint16 SimulatedSender::programWord(quint32 wordAddress) const
{
    return m_program.value(wordAddress, ErasedWord);
}

void SimulatedSender::setProgramWord(quint32 wordAddress, quint16 value)
{
    m_program.insert(wordAddress, value);
}

quint8 SimulatedSender::eeprom(quint16 address) const
{
    return m_eeprom.value(address, ErasedByte);
}

void SimulatedSender::setEeprom(quint16 address, quint8 value)
{
    m_eeprom.insert(address, value);
}

void SimulatedSender::injectGarbage(const QByteArray &bytes)
{
    emit transmit(bytes);
}

QList<quint8> SimulatedSender::requestCommands() const
{
    QList<quint8> commands;
    for (const VX4Message &m : m_requests)
        commands.append(m.command);
    return commands;
}

void SimulatedSender::receive(const QByteArray &bytes)
{
    m_inBuffer.append(bytes);
    for (;;) {
        const VX4Framing::Cut cut = m_inBuffer.next();
        if (VX4ReceiveBuffer::endsPass(cut.step))
            return;
        if (cut.step != VX4Framing::Step::Frame)
            continue;
        const VX4Message request(cut.bytes);
        if (request.isEmpty())
            continue;
        m_requests.append(request);
        emit requestReceived(request);
        if (!m_silent)
            handleRequest(request);
    }
}

void SimulatedSender::handleRequest(const VX4Message &request)
{
    const QByteArray &p = request.payload;
    const quint8 command = request.command;

    // Both applications
    switch (command) {
    case AppQuery:
        if (m_emptyAppAnswers > 0) {
            --m_emptyAppAnswers;
            answer(command, {});
            return;
        }
        answer(command, QByteArray(1, char(m_app)));
        return;
    case AppChange: {
        // Accepted (00) at once; the restart into the other application follows. A second
        // change while one is under way is accepted and changes nothing.
        answer(command, QByteArray(1, char(0)));
        if (m_restartTimer->isActive())
            return;
        m_restartApp = m_app == Bootloader ? PressureSendingApp : Bootloader;
        if (m_restartDelayMs <= 0)
            restartInto(m_restartApp);
        else
            m_restartTimer->start(m_restartDelayMs);
        return;
    }
    case Reset:
        // A restarting sender answers nothing; it starts the application only when marked valid.
        m_restartTimer->stop();
        m_app = eeprom(EepromBootFlagAddress) == EepromBootFlagValid ? PressureSendingApp
                                                                     : Bootloader;
        m_mode = PressureSendingMode;
        updateStreaming();
        emit didReset(m_app);
        return;
    case WriteEeprom:
        if (p.size() >= 3)
            setEeprom(wordAt(p, 0), quint8(p.at(2)));
        answer(command, p.left(3));
        return;
    case ReadEeprom:
        if (p.size() >= 2)
            answer(command, QByteArray(1, char(eeprom(wordAt(p, 0)))));
        return;
    default:
        break;
    }

    if (m_app == Bootloader) {
        if (command == ReadProgMem && p.size() >= 3) {
            const quint32 start = VX4Bytes::address24At(p, 0);
            QByteArray words;
            for (int k = 0; k < ProgramRowWords; ++k)
                appendWord(words, programWord(start + k));
            answer(command, words);
        } else if (command == WriteProgMem) {
            bool ok = p.size() >= 3 + ProgramRowBytes && m_failWrites == 0;
            if (m_failWrites > 0)
                --m_failWrites;
            if (ok) {
                const quint32 start = VX4Bytes::address24At(p, 0);
                for (int k = 0; k < ProgramRowWords; ++k)
                    setProgramWord(start + k, wordAt(p, 3 + 2 * k));
                // A flash cell that did not take the write: one word stored wrong, confirmed.
                if (m_corruptWrites != CorruptWrites::Off) {
                    const quint32 bad = start + ProgramRowWords / 2;
                    setProgramWord(bad, quint16(programWord(bad) ^ 0x0100));
                    if (m_corruptWrites == CorruptWrites::Once)
                        m_corruptWrites = CorruptWrites::Off;
                }
            }
            answer(command, QByteArray(1, char(ok ? WriteOk : WriteFailed)));
        }
        // The bootloader knows nothing else.
        return;
    }

    switch (command) {
    case ModeQuery:
        answer(command, QByteArray(1, char(m_mode)));
        break;
    case ModeSwitch:
        if (!p.isEmpty() && quint8(p.at(0)) <= 1) {
            m_mode = VX4Mode(quint8(p.at(0)));
            updateStreaming();
        }
        answer(command, QByteArray(1, char(m_mode)));
        break;
    case CapturePressure:
        if (p.size() >= 3) {
            m_captured.insert(quint8(p.at(0)), { qint16(wordAt(p, 1)), m_appliedPsi });
        }
        answer(command, p.left(3));
        break;
    case SaveCalData:
        if (p.size() >= 6) {
            const QDate date(wordAt(p, 0), quint8(p.at(2)), quint8(p.at(3)));
            const QTime time(quint8(p.at(4)), quint8(p.at(5)));
            m_calDateTime = QDateTime(date, time);
            saveCalibration();
        }
        answer(command, QByteArray(1, char(0)));
        break;
    case GetCalData: {
        QByteArray payload;
        if (!m_calDateTime.isValid()) {
            payload = QByteArray(7, char(0));
            payload[0] = char(1);
        } else {
            payload.append(char(0));
            appendWord(payload, quint16(m_calDateTime.date().year()));
            payload.append(char(m_calDateTime.date().month()));
            payload.append(char(m_calDateTime.date().day()));
            payload.append(char(m_calDateTime.time().hour()));
            payload.append(char(m_calDateTime.time().minute()));
        }
        answer(command, payload);
        break;
    }
    case GetFirmVer: {
        QByteArray payload;
        payload.append(char(m_firmwareMajor));
        payload.append(char(m_firmwareMinor));
        answer(command, payload);
        break;
    }
    case SetSerial:
        if (p.size() >= 2)
            m_serialNumber = wordAt(p, 0);
        answer(command, p.left(2));
        break;
    case GetSerial: {
        QByteArray payload;
        appendWord(payload, m_serialNumber);
        answer(command, payload);
        break;
    }
    case GetAdCounts: {
        QByteArray payload(1, char(m_adStatus));
        appendWord(payload, quint16(adCounts()));
        answer(command, payload);
        break;
    }
    case ZeroPsi:
        m_zeroPsi = calibratedReading();
        m_adOffset = adCounts();
        answer(command, QByteArray(1, char(0)));
        break;
    case GetOffset: {
        QByteArray payload;
        appendWord(payload, quint16(m_adOffset));
        answer(command, payload);
        break;
    }
    default:
        break;
    }
}

void SimulatedSender::saveCalibration()
{
    if (m_captured.size() < 2)
        return;
    m_saved = m_captured;
    m_zeroPsi = 0;
}

void SimulatedSender::answer(quint8 command, const QByteArray &payload)
{
    if (m_dropAnswers > 0) {
        --m_dropAnswers;
        return;
    }
    if (m_dropAnswersTo.value(command) > 0) {
        --m_dropAnswersTo[command];
        return;
    }
    QByteArray frame = VX4Message::buildFrame(AnswerMarker, quint8(FrameOverhead + payload.size()),
                                              command, payload);
    if (m_corruptNextCrc) {
        m_corruptNextCrc = false;
        frame[frame.size() - 3] = char(frame.at(frame.size() - 3) ^ 0x5A);
    }
    const int delay = qMax(m_answerDelayMs, m_lateNextMs);
    m_lateNextMs = 0;
    if (delay <= 0 && m_delayed.isEmpty()) {
        emit transmit(frame);
        return;
    }
    // A sender answers in order: a later answer never overtakes a delayed one.
    const qint64 due
        = qMax(m_clock.elapsed() + delay, m_delayed.isEmpty() ? 0 : m_delayed.last().first);
    m_delayed.append({ due, frame });
    if (!m_delayTimer->isActive())
        m_delayTimer->start(int(qMax<qint64>(0, m_delayed.first().first - m_clock.elapsed())));
}

void SimulatedSender::sendDelayedAnswers()
{
    while (!m_delayed.isEmpty() && m_delayed.first().first <= m_clock.elapsed())
        emit transmit(m_delayed.takeFirst().second);
    if (!m_delayed.isEmpty())
        m_delayTimer->start(int(qMax<qint64>(0, m_delayed.first().first - m_clock.elapsed())));
}

void SimulatedSender::sendPressureFrame()
{
    if (m_silent)
        return;
    QByteArray payload(1, char(m_adStatus));
    appendWord(payload, quint16(qint16(reading())));
    emit transmit(VX4Message::buildFrame(AnswerMarker, quint8(FrameOverhead + payload.size()),
                                         PressureMsg, payload));
}

void SimulatedSender::updateStreaming()
{
    const bool streaming
        = m_app == PressureSendingApp && m_mode == PressureSendingMode && m_streamIntervalMs > 0;
    if (!streaming) {
        m_streamTimer->stop();
        return;
    }
    if (!m_streamTimer->isActive() || m_streamTimer->interval() != m_streamIntervalMs)
        m_streamTimer->start(m_streamIntervalMs);
}
