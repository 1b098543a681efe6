#pragma once

#include "desktopopen.h"

/// Opens through the desktop's handlers (xdg-open and the like).
class XdgDesktopOpen final : public DesktopOpen
{
public:
    bool open(const QString& path) override;
    bool startDetached(const QString& program, const QStringList& arguments) override;
    QString defaultApplication(const QString& mimeType) override;
};
