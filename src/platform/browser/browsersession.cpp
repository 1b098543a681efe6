#include "browsersession.h"

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
