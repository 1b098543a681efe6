#include "sharedblock.h"

#include "mouseblock.h"
#include "privatefolder.h"

#include <QDir>
#include <QFile>

SharedBlock::SharedBlock(const QString& path)
    : m_path(path)
{
    if (path.isEmpty())
        return;
    mouseblock::Opened opened = mouseblock::Opened::Refused;
    m_block = mouseblock::map(QFile::encodeName(path).constData(), true, &opened);
    m_created = opened == mouseblock::Opened::Created;
    clearFlag();
}

SharedBlock::~SharedBlock()
{
    mouseblock::unmap(m_block);
}

QString SharedBlock::PathFor(const QString& display, const QString& dataFolder)
{
    const QString folder = PrivateRuntimeFolder(dataFolder);
    if (folder.isEmpty())
        return {};
    return QDir(folder).filePath(QStringLiteral("QARVEN_MOUSE.") + SessionTag(display, dataFolder));
}

void SharedBlock::clearFlag()
{
    if (m_block)
        mouseblock::flag(m_block).store(0);
}

std::optional<QPoint> SharedBlock::takePoint()
{
    if (!m_block)
        return std::nullopt;
    const QPoint point(m_block[1], m_block[2]);
    clearFlag();
    return point;
}
