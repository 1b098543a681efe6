#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

// What a Ruffle bundle's "ruffle-bundle.toml" and a curation folder's "meta.yaml" say of their
// movie, read as the hostile text they may be: the movie is named by a path that must stay
// inside the bundle's "content/" folder, and the address it is filed under must be a web one.

/// A name from outside (an archive's entry, a bundle's description, a manifest) as a path below
/// `folder`: empty, with the reason in `why`, for a name that could lead out of it.
QString PathBelowFolder(const QString& folder, const QString& name, QString* why = nullptr);

/// What a bundle says: the movie's entry ("content/…"), and the web address it was served from
/// (its recorded source, else the player's spoof_url) when it says so; `error` when it names no
/// movie the bundle could hold or a source that is no web address.
struct BundleDescription
{
    QString moviePath;
    QUrl source;
    QString error;
};
BundleDescription DescribeBundle(const QByteArray& toml);

/// What a curation says: the movie's entry ("content/<host>/<path>" of its Launch Command), and
/// the address it is filed under (its Source where that names the same movie, else the Launch
/// Command); `error` when it names none.
struct CurationDescription
{
    QString moviePath;
    QUrl address;
    QString error;
};
CurationDescription DescribeCuration(const QByteArray& yaml);

/// Whether an address may be the one an item is filed under: http or https with a host.
bool IsWebAddress(const QUrl& address);
