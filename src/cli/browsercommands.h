#pragma once

#include <QStringList>

class QTextStream;

/// "browser status" and "browser at X Y": what the program sees of the user's browser.
/// Returns the exit code.
int RunBrowserCommand(const QStringList& words, bool json, QTextStream& out, QTextStream& err);
