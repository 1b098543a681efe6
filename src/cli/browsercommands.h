#pragma once

#include <QStringList>

class QTextStream;

/// "browser status" and "browser at X Y": what the program sees of the user's browser.
/// Returns the exit code.
/// `portOverride` (from clipvault.conf; 0: none) replaces the port found from the browser.
int RunBrowserCommand(const QStringList& words, bool json, quint16 portOverride, QTextStream& out,
                      QTextStream& err);
