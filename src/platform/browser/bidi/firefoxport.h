#pragma once

#include <QString>
#include <QStringList>

/// Firefox's WebDriver BiDi port from its process: "--remote-debugging-port N" on its command
/// line (N > 0); else the port it wrote to WebDriverBiDiServer.json in its profile folder
/// ("--profile DIR", "-profile DIR", else the default profile of profiles.ini); 0 when none.
quint16 FirefoxPortOfProcess(qint64 pid);
/// The same from the parts of a command line; `firefoxFolder` holds profiles.ini.
quint16 FirefoxPortFromCommandLine(const QStringList& arguments, const QString& firefoxFolder);
/// The profile folder profiles.ini in `firefoxFolder` names as the default; empty when none.
QString FirefoxDefaultProfile(const QString& firefoxFolder);
