#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringList>

// Text helpers shared by the scanners and dialogs. Positions are 1-based; 0 means not found.

/// Position of the last occurrence of the one-character string `character` in `text`; 0 when
/// there is none, when `character` is not exactly one character, or when `text` has fewer than
/// two characters.
qsizetype LastCharPos(QStringView character, QStringView text);

/// Number of non-overlapping occurrences of `part` in `text`, searched left to right; 0 for an
/// empty `part`.
qsizetype CountOccurrences(QStringView part, QStringView text);

/// Splits bytes into lines as a multi-line text control loads them: a line ends at CR, LF or
/// CR LF; a last line without a break counts too; a line's text stops at its first NUL byte.
QStringList SplitMemoLines(QByteArrayView bytes);
