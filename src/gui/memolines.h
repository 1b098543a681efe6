#pragma once

#include <QByteArrayView>

class QPlainTextEdit;

/// Fills a multi-line text control with the lines of a byte stream (see SplitMemoLines): the
/// control is cleared first, and an empty stream leaves it empty.
void LoadMemoLines(QPlainTextEdit* memo, QByteArrayView bytes);
