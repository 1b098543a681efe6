#include "browsersession.h"

#include "filetransfer.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

void AddTabMovie(QList<TabMovie>& movies, const QString& url, const QString& frame,
                 const QString& seenAs)
{
    if (url.isEmpty())
        return;
    for (TabMovie& movie : movies) {
        if (movie.url == url) {
            if (!movie.seenAs.contains(seenAs))
                movie.seenAs << seenAs;
            return;
        }
    }
    if (movies.size() < kMaxTabMovies)
        movies.append({url, frame, {seenAs}});
}

QByteArray TabMoviesJson(const QList<TabMovie>& movies)
{
    QJsonArray array;
    for (const TabMovie& movie : movies)
        array.append(
            QJsonObject{{QStringLiteral("url"), movie.url},
                        {QStringLiteral("frame"), movie.frame},
                        {QStringLiteral("seenAs"), QJsonArray::fromStringList(movie.seenAs)}});
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

std::optional<QList<TabMovie>> TabMoviesFromJson(const QByteArray& json)
{
    const QJsonDocument document = QJsonDocument::fromJson(json);
    if (!document.isArray())
        return std::nullopt;
    QList<TabMovie> movies;
    for (const QJsonValue& value : document.array()) {
        const QJsonObject movie = value.toObject();
        for (const QJsonValue& how : movie.value(QStringLiteral("seenAs")).toArray())
            AddTabMovie(movies, movie.value(QStringLiteral("url")).toString(),
                        movie.value(QStringLiteral("frame")).toString(), how.toString());
    }
    return movies;
}

bool IsFlashMovieResponse(const QString& mimeType, const QString& url)
{
    const QString path = QUrl(url).path();
    return mimeType == u"application/x-shockwave-flash" ||
           mimeType == u"application/futuresplash" ||
           mimeType == u"application/vnd.adobe.flash.movie" ||
           path.endsWith(QStringLiteral(".swf"), Qt::CaseInsensitive) ||
           path.endsWith(QStringLiteral(".spl"), Qt::CaseInsensitive);
}

void BrowserSession::SaveLoadedMovie(const BrowserEndpoint& browser, const QString& url,
                                     const QString& target, QObject* context, SavedAnswer answer)
{
    FetchLoadedMovie(
        browser, url, context, [target, answer = std::move(answer)](const QByteArray& body) {
            QString error;
            answer(BeginsAsFlashMovie(body) && ReplaceFileWith(target, body, &error), error);
        });
}
