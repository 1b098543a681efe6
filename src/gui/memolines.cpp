#include "memolines.h"

#include "texthelpers.h"

#include <QPlainTextEdit>

void LoadMemoLines(QPlainTextEdit* memo, QByteArrayView bytes)
{
    memo->clear();
    const QStringList lines = SplitMemoLines(bytes);
    for (const QString& line : lines)
        memo->appendPlainText(line);
}
