#include "processtree.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QStringList>

QList<pid_t> ProcessesBelow(pid_t ancestor)
{
    QHash<pid_t, pid_t> parents;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString& entry : entries) {
        const pid_t pid = entry.toInt();
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (pid <= 0 || !stat.open(QIODevice::ReadOnly))
            continue;
        // After the name in parentheses (which may hold anything): the state, then the parent.
        const QByteArray line = stat.read(1024);
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1 && fields[0] != "Z")
            parents.insert(pid, fields[1].toInt());
    }
    QList<pid_t> below;
    for (auto it = parents.cbegin(); it != parents.cend(); ++it) {
        // Bounded: a snapshot read while processes come and go may hold a loop.
        qsizetype steps = parents.size();
        for (pid_t up = it.value(); up > 1 && steps-- > 0; up = parents.value(up)) {
            if (up == ancestor) {
                below << it.key();
                break;
            }
        }
    }
    return below;
}
