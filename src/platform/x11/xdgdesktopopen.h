#pragma once

#include "desktopopen.h"

/// Opens through the desktop's handlers (xdg-open and the like).
class XdgDesktopOpen final : public DesktopOpen
{
public:
    bool open(const QString& path, QObject* context, EndedAtOnce endedAtOnce) override;
    bool startDetached(const QString& program, const QStringList& arguments, QObject* context,
                       EndedAtOnce endedAtOnce) override;
    void defaultApplication(const QString& mimeType, QObject* context,
                            std::function<void(const QString& entry)> answer) override;

private:
    static constexpr int kAnswerMs = 3000;
    /// How long a program started is watched for ending at once.
    static constexpr int kAtOnceMs = 3000;
};
