#include "browsersession.h"

void TabMovieList::add(const QString& url, const QString& frame, const QString& seenAs)
{
    if (url.isEmpty())
        return;
    for (TabMovie& movie : m_movies) {
        if (movie.url == url) {
            if (!movie.seenAs.contains(seenAs))
                movie.seenAs << seenAs;
            return;
        }
    }
    if (m_movies.size() < kMaxMovies)
        m_movies.append({url, frame, {seenAs}});
}
