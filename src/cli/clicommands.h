#pragma once

#include <QStringList>

class QTextStream;

/// Runs one clipvault-cli command line (without the program name). Writes results to `out`
/// and a one-line reason for a failure to `err`. Returns the exit code: 0 success, 1 a failed
/// operation, 2 bad usage. `gone`: the launcher already found the address of this download
/// gone, for that reason.
int RunCli(const QStringList& arguments, QTextStream& out, QTextStream& err,
           const QString& gone = {});
