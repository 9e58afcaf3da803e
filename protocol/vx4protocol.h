#pragma once

#include <QtGlobal>

/// The wire protocol's constants: frame markers, command codes and each request's length byte,
/// time-out and send count. The request operations of the engine take their values from here.
namespace VX4Protocol {

constexpr quint8 RequestMarker = 0x3E; ///< '>': first byte of a frame from the PC to the sender
constexpr quint8 AnswerMarker = 0x3C; ///< '<': first byte of a frame from the sender to the PC
constexpr quint8 FrameOverhead = 7; ///< bytes of a frame besides its payload: marker, length,
                                    ///< command, CRC (2), CR, LF
constexpr int MinMessageBytes = 5; ///< a received frame shorter than this holds no message
constexpr quint8 TerminatorCR = 0x0D; ///< first terminator byte
constexpr quint8 TerminatorLF = 0x0A; ///< second terminator byte
constexpr quint16 ReceivedTimeoutMs = 500; ///< time-out the frame constructor gives an answer
constexpr quint16 ReceivedMaxSends = 3; ///< send count the frame constructor gives an answer

/// Command codes (third byte of every frame).
enum Command : quint8 {
    AppQuery = 0,
    AppChange = 1,
    Reset = 2,
    WriteProgMem = 3,
    ReadProgMem = 4,
    WriteEeprom = 5,
    ReadEeprom = 6,
    GetBootloaderVer = 7,
    PressureMsg = 10,
    ModeQuery = 11,
    ModeSwitch = 12,
    CapturePressure = 13,
    SaveCalData = 14,
    GetCalData = 15,
    GetFirmVer = 16,
    SetSerial = 17,
    GetSerial = 18,
    SetAdAddr = 20,
    GetAdAddr = 21,
    GetAdCounts = 22,
    ZeroPsi = 23,
    GetOffset = 24,
};

/// One row of the command table. Commands the PC never sends have length 0.
struct CommandInfo
{
    quint8 code;
    const char *name; ///< log name; nullptr where the code is logged as its number
    quint8 length; ///< the request's length byte: 7 + payload size
    quint16 timeoutMs; ///< wait for the answer after each send, in ms
    quint16 maxSends; ///< sends before the request is given up
    quint8 answerLength; ///< length byte of the sender's answer; 0 where none comes
};

/// The table row of `code`, or nullptr for a code outside the table.
const CommandInfo *commandInfo(int code);

/// Time `bytes` take on a line at `baud` (10 bits a byte: start, 8 data, stop), rounded up to
/// whole ms; 0 for a baud rate that is unknown (0 or less).
int lineTimeMs(int bytes, qint32 baud);

/// Time-out per send of a request with `code`: its table value plus the time its request and
/// answer take on the line, so that slow lines do not fail every long request.
quint16 requestTimeoutMs(int code, quint16 tableMs, qint32 baud);

constexpr quint16 FastAppQueryTimeoutMs = 150; ///< application query while connecting, per send
constexpr quint16 FastAppQueryMaxSends = 20; ///< sends of the connecting application query
constexpr int PollingIdleMs = 333; ///< line idle time after which a poll goes out
constexpr int ProgramRowWords = 64; ///< words in one row of program memory
constexpr int ProgramRowBytes = 2 * ProgramRowWords; ///< payload bytes of a READ PROG MEM answer
constexpr quint32 ProgramWordSpace = 1u << 24; ///< words a 24-bit address on the wire reaches
constexpr int EepromBootFlagAddress = 0; ///< EEPROM byte that marks a valid application
constexpr quint8 EepromBootFlagInvalid = 0xFF; ///< written before the program memory is changed
constexpr quint8 EepromBootFlagValid = 0xA5; ///< written after the last row: start the app
constexpr int BootloaderStartMs = 500; ///< wait after APP CHANGE before asking for the bootloader
constexpr int BootloaderStartLimitMs = 5000; ///< an application may take this long after
                                             ///< acknowledging APP CHANGE to start its bootloader
constexpr int BootloaderAskAgainMs = 200; ///< pause before asking again while it starts
constexpr quint8 WriteConfirmed = 1; ///< status byte of a WRITE PROG MEM answer: row written
constexpr int MaxFirmwareFailures = 3; ///< failures in one download state before it is aborted
constexpr int MaxAppChanges = 3; ///< APP CHANGE requests one download may send
constexpr int FirmwareRestartLimitMs = 6000; ///< after the final RESET, the sender connects again
                                             ///< within this long or is reported silent
constexpr int DeferredStartLimitMs = 2000; ///< a download waits this long for queued requests
constexpr int StalledFrameMarginMs = 50; ///< an incomplete frame waits this long beyond the line
                                         ///< time of its missing bytes before it is dropped

} // namespace VX4Protocol
