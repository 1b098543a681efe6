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
    bool open(const QString& path) override
    {
        opened << path;
        return true;
    }
    bool startDetached(const QString& program, const QStringList& arguments) override
    {
        started.emplace_back(program, arguments);
        return startSucceeds;
    }
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
