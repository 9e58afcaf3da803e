#include "vx4protocol.h"

namespace VX4Protocol {

namespace {
// clang-format off
constexpr CommandInfo table[] = {
    {AppQuery,         "APP QUERY",          7,    500,  3, 8},
    {AppChange,        "APP CHANGE",         7,    3000, 1, 8},
    {Reset,            "RESET",              7,    0,    3, 0},
    {WriteProgMem,     "WRITE PROG MEM",     138,  1000, 3, 8},
    {ReadProgMem,      "READ PROG MEM",      10,   1000, 3, 135},
    {WriteEeprom,      "WRITE EEPROM",       10,   1000, 3, 10},
    {ReadEeprom,       "READ EEPROM",        9,    500,  3, 8},
    {GetBootloaderVer, "GET BOOTLOADER VER", 0,    0,    0, 0},
    {8,                nullptr,              0,    0,    0, 0},
    {9,                nullptr,              0,    0,    0, 0},
    {PressureMsg,      "PRESSURE MSG",       0,    0,    0, 0},
    {ModeQuery,        "MODE QUERY",         7,    500,  3, 8},
    {ModeSwitch,       "MODE SWITCH",        8,    500,  3, 8},
    {CapturePressure,  "CAPTURE PRESSURE",   10,   1000, 3, 10},
    {SaveCalData,      "SAVE CAL DATA",      13,   1000, 3, 8},
    {GetCalData,       "GET CAL DATA",       7,    500,  3, 14},
    {GetFirmVer,       "GET FIRM. VER.",     7,    500,  3, 9},
    {SetSerial,        "SET SERIAL #",       9,    500,  3, 9},
    {GetSerial,        "GET SERIAL #",       7,    500,  3, 9},
    {19,               nullptr,              0,    0,    0, 0},
    {SetAdAddr,        "SET A/D ADDR",       0,    0,    0, 0},
    {GetAdAddr,        "GET A/D ADDR",       0,    0,    0, 0},
    {GetAdCounts,      "GET A/D COUNTS",     7,    500,  3, 10},
    {ZeroPsi,          "ZERO PSI",           7,    1000, 3, 8},
    {GetOffset,        "GET OFFSET",         7,    500,  3, 9},
};
// clang-format on
static_assert(sizeof(table) / sizeof(table[0]) == GetOffset + 1, "one row per code 0-24");
} // namespace

const CommandInfo *commandInfo(int code)
{
    if (code < 0 || code > GetOffset)
        return nullptr;
    return &table[code];
}

int lineTimeMs(int bytes, qint32 baud)
{
    if (baud <= 0 || bytes <= 0)
        return 0;
    return int((qint64(bytes) * 10 * 1000 + baud - 1) / baud);
}

quint16 requestTimeoutMs(int code, quint16 tableMs, qint32 baud)
{
    const CommandInfo *info = commandInfo(code);
    if (!info || tableMs == 0)
        return tableMs;
    const int total = tableMs + lineTimeMs(info->length + info->answerLength, baud);
    return quint16(qMin(total, 0xFFFF));
}

} // namespace VX4Protocol
