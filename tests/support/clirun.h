#pragma once

#include "clicommands.h"

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTextStream>

/// What one in-process run of the command-line tool said.
struct CliRun
{
    int code;
    QString out;
    QString err;
};

inline CliRun RunCliHere(const QStringList& arguments)
{
    QString out;
    QString err;
    QTextStream outStream(&out);
    QTextStream errStream(&err);
    const int code = RunCli(arguments, outStream, errStream);
    outStream.flush();
    errStream.flush();
    return {code, out, err};
}

/// The tool as a script starts it: a process of its own (the launcher, which runs a plain
/// download before Qt is loaded).
inline CliRun RunCliProcess(const QStringList& arguments)
{
    QProcess tool;
    tool.start(QStringLiteral(CLIPVAULT_CLI), arguments);
    if (!tool.waitForFinished(60000))
        return {-1, QString(), QStringLiteral("the tool did not end")};
    return {tool.exitCode(), QString::fromLocal8Bit(tool.readAllStandardOutput()),
            QString::fromLocal8Bit(tool.readAllStandardError())};
}
