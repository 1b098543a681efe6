#pragma once

#include "desktopopen.h"

/// Opens through the desktop's handlers (xdg-open and the like).
class XdgDesktopOpen final : public DesktopOpen
{
public:
    bool open(const QString& path) override;
    bool startDetached(const QString& program, const QStringList& arguments) override;
    void defaultApplication(const QString& mimeType, QObject* context,
                            std::function<void(const QString& entry)> answer) override;

private:
    static constexpr int kAnswerMs = 3000;
};
