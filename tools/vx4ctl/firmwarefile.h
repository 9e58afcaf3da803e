#pragma once

#include "programmemoryrow.h"

#include <QList>
#include <QString>

/// A firmware file to flash: a package (.vx4f, recognised by its mark) or an Intel HEX file,
/// read and checked as the window reads a package before a download (FirmwareImage).
struct FirmwareFile
{
    QList<ProgramMemoryRow> rows;
    QString summary; ///< what the file holds, for the first line of a flash
    QString version; ///< "2.5" for a package; a plain HEX file has none
    QString error; ///< why the file is refused; empty when it is not

    static FirmwareFile load(const QString &path);
};
