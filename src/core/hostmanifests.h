#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// Where the browsers look for the companion's host, and writing the manifests that let them start
// it: the one part of connecting a browser that Clip Vault does itself.

/// A host manifest written for one kind of browser.
struct HostManifestPlace
{
    QString browser; ///< "chromium", "chrome" or "firefox"
    QString path;
};

/// The kinds of browser a host manifest is written for, in order.
QStringList HostManifestBrowsers();

/// The host manifest a browser of kind `browser` ("chromium", "chrome" or "firefox") reads to
/// start the host at `hostPath`.
QByteArray HostManifestText(const QString& browser, const QString& hostPath);

/// Writes the host manifest for each browser of `browsers` (all when empty), in the user's
/// folders or, for a Chromium-family browser started with --user-data-dir=`profile`, in that
/// profile, naming `hostPath`; and records `dataFolder` as the one the host serves. The places
/// written, or nothing with the reason in `error`.
std::optional<QList<HostManifestPlace>>
WriteHostManifests(const QStringList& browsers, const QString& profile, const QString& hostPath,
                   const QString& dataFolder, QString* error);

/// The host installed beside the running program (bin/clipvault-browser-host).
QString InstalledHostPath();
/// The extension installed with it (share/clipvault/browser-extension); empty when not there.
QString InstalledExtensionFolder();
