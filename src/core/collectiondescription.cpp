#include "collectiondescription.h"

#include "confinedpath.h"

#include <QFile>
#include <QHash>
#include <QStringList>

namespace {

const QString kContent = QStringLiteral("content/");

/// TOML's and YAML's quoted values, with the escapes their writers use; a bare value as it is.
QString unquoted(QString value)
{
    value = value.trimmed();
    if (value.size() >= 2 && value.startsWith(u'\'') && value.endsWith(u'\''))
        return value.mid(1, value.size() - 2);
    if (value.size() < 2 || !value.startsWith(u'"') || !value.endsWith(u'"'))
        return value;
    QString text;
    for (qsizetype i = 1; i + 1 < value.size(); ++i) {
        const QChar c = value[i];
        if (c != u'\\' || i + 2 >= value.size()) {
            text += c;
            continue;
        }
        const QChar next = value[++i];
        if (next == u'n')
            text += u'\n';
        else if (next == u't')
            text += u'\t';
        else if (next == u'u' && i + 4 < value.size()) {
            text += QChar(value.mid(i + 1, 4).toUShort(nullptr, 16));
            i += 4;
        } else
            text += next;
    }
    return text;
}

/// The "key = value" (TOML) or "Key: value" (YAML) pairs of a small description, keys in
/// lower case; a TOML comment "# source = …" is read as a key too.
QHash<QString, QString> descriptionKeys(const QByteArray& text, QChar separator)
{
    QHash<QString, QString> keys;
    for (QString line : QString::fromUtf8(text).split(u'\n')) {
        line = line.trimmed();
        if (line.startsWith(u'#'))
            line = line.mid(1).trimmed();
        const qsizetype cut = line.indexOf(separator);
        if (cut <= 0 || line.startsWith(u'['))
            continue;
        const QString key = line.left(cut).trimmed().toLower();
        if (!keys.contains(key))
            keys.insert(key, unquoted(line.mid(cut + 1)));
    }
    return keys;
}

/// The entry below "content/" a path names, or the reason it cannot be one.
QString contentEntry(const QString& path, QString* error)
{
    QString why;
    if (PathBelowFolder(QStringLiteral("content"), path, &why).isEmpty()) {
        *error = QStringLiteral("it names its movie by an unsafe name (%1): %2").arg(why, path);
        return {};
    }
    return kContent + path;
}

} // namespace

QString PathBelowFolder(const QString& folder, const QString& name, QString* why)
{
    std::string reason;
    const std::optional<std::string> path = transfer::PathBelow(
        QFile::encodeName(folder).toStdString(), name.toUtf8().toStdString(), &reason);
    if (!path) {
        if (why)
            *why = QString::fromStdString(reason);
        return {};
    }
    return QFile::decodeName(QByteArray::fromStdString(*path));
}

bool IsWebAddress(const QUrl& address)
{
    const QString scheme = address.scheme().toLower();
    return address.isValid() && (scheme == u"http" || scheme == u"https") &&
           !address.host().isEmpty();
}

BundleDescription DescribeBundle(const QByteArray& toml)
{
    const QHash<QString, QString> keys = descriptionKeys(toml, u'=');
    BundleDescription description;
    const QUrl url(keys.value(QStringLiteral("url")));
    if (url.scheme() != u"file" || url.path().size() < 2) {
        description.error = QStringLiteral("no movie named by a file:/// address");
        return description;
    }
    // "file:///game.swf" is "content/game.swf", never a file of this machine.
    description.moviePath = contentEntry(url.path(QUrl::FullyDecoded).mid(1), &description.error);
    for (const QString& key : {QStringLiteral("source"), QStringLiteral("spoof_url")}) {
        const QString text = keys.value(key);
        if (text.isEmpty())
            continue;
        description.source = QUrl(text);
        if (!IsWebAddress(description.source)) {
            description.error =
                QStringLiteral("its %1 is no http or https address: %2").arg(key, text);
            description.source.clear();
        }
        break;
    }
    if (!description.error.isEmpty())
        description.moviePath.clear();
    return description;
}

CurationDescription DescribeCuration(const QByteArray& yaml)
{
    const QHash<QString, QString> keys = descriptionKeys(yaml, u':');
    CurationDescription description;
    const QUrl launch(keys.value(QStringLiteral("launch command")));
    if (!IsWebAddress(launch) || launch.path().size() < 2) {
        description.error = QStringLiteral("no Launch Command address (http or https)");
        return description;
    }
    description.moviePath =
        contentEntry(launch.host() + launch.path(QUrl::FullyDecoded), &description.error);
    // The Launch Command is always http, and on no port: the Source, when it names the same
    // movie, says how it was served.
    const QUrl source(keys.value(QStringLiteral("source")));
    const bool names =
        IsWebAddress(source) && source.host() == launch.host() && source.path() == launch.path();
    description.address = names ? source : launch;
    return description;
}
