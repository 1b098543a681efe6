#pragma once

#include "desktopopen.h"

#include <QHash>
#include <QStringList>

#include <utility>
#include <vector>

/// Records what the program asked the desktop to open or start, for tests.
class FakeDesktopOpen final : public DesktopOpen
{
public:
    bool open(const QString& path, QObject*, EndedAtOnce endedAtOnce) override
    {
        opened << path;
        if (endedAtOnce && !endsAtOnceSaying.isEmpty())
            endedAtOnce(endsAtOnceSaying);
        return true;
    }
    bool startDetached(const QString& program, const QStringList& arguments, QObject*,
                       EndedAtOnce endedAtOnce) override
    {
        started.emplace_back(program, arguments);
        if (startSucceeds && endedAtOnce && !endsAtOnceSaying.isEmpty())
            endedAtOnce(endsAtOnceSaying);
        return startSucceeds;
    }
    /// What a program started says as it ends at once; empty: it runs on.
    QString endsAtOnceSaying;
    void defaultApplication(const QString& mimeType, QObject*,
                            std::function<void(const QString&)> answer) override
    {
        answer(defaults.value(mimeType));
    }
    QStringList opened;
    QHash<QString, QString> defaults; ///< MIME type → desktop entry
    std::vector<std::pair<QString, QStringList>> started;
    bool startSucceeds = true;
};
