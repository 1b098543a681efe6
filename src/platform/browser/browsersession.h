#pragma once

#include <QObject>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

/// The protocols browsers are reached by: Chromium-family browsers speak the DevTools
/// protocol, Firefox WebDriver BiDi.
enum class BrowserKind
{
    Chromium,
    Firefox
};

/// Where a browser is asked: its debugging port on 127.0.0.1 and the protocol it speaks there.
struct BrowserEndpoint
{
    quint16 port = 0; ///< 0: none to reach
    BrowserKind kind = BrowserKind::Chromium;
    /// A Chromium-family browser's own endpoint, when its profile names one (remote debugging
    /// allowed on the everyday profile answers no /json/ discovery); empty: discovered.
    QString socketPath = {};

    bool isKnown() const { return port != 0; }
    friend bool operator==(const BrowserEndpoint&, const BrowserEndpoint&) = default;
};

/// A Flash movie found in a page: its address exactly as the page wrote it, and where it is.
struct MovieAtPoint
{
    QString address;
    QRect screenRect;
    /// The address of the document the movie is in (a frame's, not the top page's); empty when
    /// the browser did not say.
    QString frameUrl;
    /// The address of the page the movie was found in, which the movie is filed under.
    QString pageUrl = {};
};

/// A Flash movie the visible tab holds: its absolute address, the document it was seen in, and
/// how it was seen ("element": an embed, object or movie parameter; "ruffle": a Ruffle player;
/// "network": the tab fetched it).
struct TabMovie
{
    QString url;
    QString frame;
    QStringList seenAs;
};

/// The questions the program asks the pages of the user's browser, whichever protocol reaches
/// them. Nothing here ever holds the caller: a question goes out, its answer comes by signal or
/// callback, also when the browser does not answer (then empty). A browser is named by its
/// debugging port; asking another port leaves the browser asked before.
class BrowserSession : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    /// How long a question waits for its answer before it is answered empty.
    static constexpr int kAnswerMs = 1000;
    /// How long a question about the visible tab may take, opening the session included.
    static constexpr int kTabAnswerMs = 5000;
    /// The longest address the visible tab is told by.
    static constexpr int kAddressLimit = 248;

    /// Asks for the Flash movie under a screen point in the visible tab; answered by located().
    /// One point is answered at a time; a point asked while another is answered waits, and a
    /// later point replaces it.
    virtual void FindMovieAtPoint(const BrowserEndpoint& browser, QPoint screen) = 0;
    /// Pauses the movie under `screen` in the page it was last found in, when the page plays it
    /// with Ruffle. Nothing answers.
    virtual void PauseMovieAtPoint(QPoint screen) = 0;

    using MoviesAnswer = std::function<void(const QList<TabMovie>& movies)>;
    /// Asks for every Flash movie of the visible tab: in the document of each of its frames,
    /// frames of other sites included, and among what the tab fetched. One entry per address,
    /// in the order first seen; answered as GetAddressBarText is.
    virtual void FindTabMovies(const BrowserEndpoint& browser, QObject* context,
                               MoviesAnswer answer) = 0;

    using BodyAnswer = std::function<void(const QByteArray& body)>;
    /// The browser's own copy of a movie a tab loaded from `url`; empty when it holds none.
    /// Answered as GetAddressBarText is.
    virtual void FetchLoadedMovie(const BrowserEndpoint& browser, const QString& url,
                                  QObject* context, BodyAnswer answer) = 0;

    using SavedAnswer = std::function<void(bool saved, const QString& error)>;
    /// Puts the browser's own copy of a movie a tab loaded from `url` at `target`, as a
    /// download replaces a file; `saved` is false when the browser holds none that begins as a
    /// Flash movie, or writing failed (then `error` says why). Answered as GetAddressBarText is.
    /// By default through FetchLoadedMovie.
    virtual void SaveLoadedMovie(const BrowserEndpoint& browser, const QString& url,
                                 const QString& target, QObject* context, SavedAnswer answer);

    using AddressAnswer = std::function<void(const QString& address)>;
    /// Asks for the address of the visible tab (at most kAddressLimit characters): the tab the
    /// user last looked at when the browser is covered. `answer` runs once, later, unless
    /// `context` is gone by then; with an empty address when no browser answered.
    virtual void GetAddressBarText(const BrowserEndpoint& browser, QObject* context,
                                   AddressAnswer answer) = 0;

signals:
    /// The answer for a point: the movie there, or none (also when the browser did not answer).
    void located(QPoint screen, const std::optional<MovieAtPoint>& movie);
};

/// Asks the user's browser for its visible tab's address: `use` hears it later on this thread
/// (empty when no browser answers), unless `context` is gone by then.
using BrowserAddressSource =
    std::function<void(QObject* context, std::function<void(const QString& address)> use)>;
/// Asks the user's browser for the Flash movies of its visible tab, answered the same way.
using TabMoviesSource = std::function<void(QObject* context, BrowserSession::MoviesAnswer use)>;
/// Asks the user's browser to put its own copy of a movie a tab loaded at a file.
using LoadedMovieSource = std::function<void(const QString& url, const QString& target,
                                             QObject* context, BrowserSession::SavedAnswer use)>;

/// What the windows ask of the user's browser; an empty one asks nothing.
struct BrowserSources
{
    BrowserAddressSource address;
    TabMoviesSource tabMovies;
    LoadedMovieSource loadedMovie;
    /// The browsers whose companion is connected, as "name version".
    std::function<QStringList()> companions = {};
};

/// Adds a movie seen in a tab to those gathered: one entry per address, in the order first
/// seen, each with every way it was seen; at most kMaxTabMovies.
void AddTabMovie(QList<TabMovie>& movies, const QString& url, const QString& frame,
                 const QString& seenAs);
inline constexpr int kMaxTabMovies = 1000;

/// Whether a response is a Flash movie by its Content-Type (lower case) or by its address's
/// path.
bool IsFlashMovieResponse(const QString& mimeType, const QString& url);

/// The movies as one JSON array of {"url","frame","seenAs"}, and back (nothing for what is no
/// such array).
QByteArray TabMoviesJson(const QList<TabMovie>& movies);
std::optional<QList<TabMovie>> TabMoviesFromJson(const QByteArray& json);
