#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include "regularfile.h" // ReadSmallRegularFile, for the browsers' files

/// The parts of a process's command line; empty when it cannot be read.
QStringList CommandLineOfProcess(qint64 pid);

/// Where a Chromium-family browser takes DevTools connections: its port, and the path of its
/// browser endpoint when DevToolsActivePort names one (empty: found through /json/version).
struct DebuggingEndpoint
{
    quint16 port = 0;
    QString browserPath;
};
/// The endpoint from a browser process's command line: --remote-debugging-port=N (N > 0), else
/// DevToolsActivePort in its --user-data-dir, or in its everyday profile folder when it names
/// none.
DebuggingEndpoint DebuggingEndpointOfProcess(qint64 pid);
DebuggingEndpoint DebuggingEndpointFromCommandLine(const QStringList& arguments);

/// The browser's debugging port from its command line (--remote-debugging-port=N with N > 0) or
/// from DevToolsActivePort in its --user-data-dir; 0 when neither gives one.
quint16 DebuggingPortOfProcess(qint64 pid);
/// The same from the parts of a command line, for tests.
quint16 DebuggingPortFromCommandLine(const QStringList& arguments);
