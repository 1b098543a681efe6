#pragma once

#include "clicommands.h"

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
