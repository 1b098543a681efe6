#include "windowstyle.h"

#include <QApplication>
#include <QStyle>
#include <QStyleFactory>

void ApplyWindowStyle(bool modern)
{
    const QString wanted = modern ? QStringLiteral("Fusion") : QStringLiteral("Windows");
    if (QApplication::style() &&
        QApplication::style()->name().compare(wanted, Qt::CaseInsensitive) == 0)
        return;
    if (QStyle* style = QStyleFactory::create(wanted))
        QApplication::setStyle(style);
}
