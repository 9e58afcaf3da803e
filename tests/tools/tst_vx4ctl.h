#pragma once

#include "programmemoryrow.h"
#include "simlink.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>

struct Run
{
    int code = -1;
    QString out; ///< standard output, a line "--", then standard error
    QString err; ///< standard error alone
    QString secondOpener; ///< why an engine of this process could not open the port meanwhile
};

class TestVx4ctl : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void command_printsItsResultAndLeavesTheSenders_data();
    void command_printsItsResultAndLeavesTheSenders();
    void interruptedCommand_stopsAtASafePointAndSaysWhere_data();
    void interruptedCommand_stopsAtASafePointAndSaysWhere();

private:
    /// Runs vx4ctl with "PORT", "PORT2", "LINK" (a link to PORT) and the names of initTestCase's
    /// files replaced, leading NAME=VALUE words set in its environment; the senders keep
    /// answering meanwhile, since this process's event loop serves them. On a terminal, standard
    /// error is one. A monitor without an end is stopped after its first line, once an engine of
    /// this process has tried to open the port through the link.
    Run run(QStringList args, const QStringList &ports, bool terminal = false,
            const std::function<void(QProcess &)> &started = {});

    QTemporaryDir dir { qEnvironmentVariable("VX4_TEST_TMP", QDir::tempPath())
                        + QStringLiteral("/vx4ctl-XXXXXX") };
    QMap<QString, QString> files;
    bool asNobody = false; ///< the next run drops root for the user nobody
    QByteArray errSoFar; ///< the running process's standard error as it comes
    QList<ProgramMemoryRow> bigRows; ///< BIGHEX's
};
