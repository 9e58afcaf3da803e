#include "vx4protocol.h"

namespace VX4Protocol {

namespace {
// clang-format off
constexpr CommandInfo table[] = {
    {AppQuery,         "APP QUERY",          7,    500,  3},
    {AppChange,        "APP CHANGE",         7,    3000, 1},
    {Reset,            "RESET",              7,    0,    3},
    {WriteProgMem,     "WRITE PROG MEM",     138,  1000, 3},
    {ReadProgMem,      "READ PROG MEM",      10,   1000, 3},
    {WriteEeprom,      "WRITE EEPROM",       10,   1000, 3},
    {ReadEeprom,       "READ EEPROM",        9,    500,  3},
    {GetBootloaderVer, "GET BOOTLOADER VER", 0,    0,    0},
    {8,                nullptr,              0,    0,    0},
    {9,                nullptr,              0,    0,    0},
    {PressureMsg,      "PRESSURE MSG",       0,    0,    0},
    {ModeQuery,        "MODE QUERY",         7,    500,  3},
    {ModeSwitch,       "MODE SWITCH",        8,    500,  3},
    {CapturePressure,  "CAPTURE PRESSURE",   10,   1000, 3},
    {SaveCalData,      "SAVE CAL DATA",      13,   1000, 3},
    {GetCalData,       "GET CAL DATA",       7,    500,  3},
    {GetFirmVer,       "GET FIRM. VER.",     7,    500,  3},
    {SetSerial,        "SET SERIAL #",       9,    500,  3},
    {GetSerial,        "GET SERIAL #",       7,    500,  3},
    {19,               nullptr,              0,    0,    0},
    {SetAdAddr,        "SET A/D ADDR",       0,    0,    0},
    {GetAdAddr,        "GET A/D ADDR",       0,    0,    0},
    {GetAdCounts,      "GET A/D COUNTS",     7,    500,  3},
    {ZeroPsi,          "ZERO PSI",           7,    1000, 3},
    {GetOffset,        "GET OFFSET",         7,    500,  3},
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

} // namespace VX4Protocol
