#pragma once

#include <QString>

#include <memory>
#include <string_view>

/// Reads a whole movie, piece by piece as it is copied or hashed, and tells whether a player can
/// read it: its header parses, its body unpacks to the length the header announces, and its tags
/// follow one another to the End tag or to the end of that length, none running past it. A file
/// that merely begins with "FWS", "CWS" or "ZWS" is no movie by that alone. Memory stays small
/// whatever the movie's size: bodies of tags are counted, never kept.
class MovieCheck final
{
public:
    MovieCheck();
    ~MovieCheck();
    MovieCheck(const MovieCheck&) = delete;
    MovieCheck& operator=(const MovieCheck&) = delete;

    /// The most a movie may announce; more is refused before anything is unpacked.
    static constexpr qint64 kMostLength = qint64(1) << 30;

    /// Takes the next bytes of the file. False once they show it is no sound movie (the reason
    /// is then given by finish()); later bytes are not looked at.
    bool add(std::string_view bytes);
    /// After the last bytes: empty for a sound movie, else why it is not one, in the user's words.
    QString finish();

private:
    class State;
    std::unique_ptr<State> m_state;
};

/// The same for a movie held whole in memory.
QString WhyNotASoundMovie(std::string_view bytes);

/// The same for a file, read in pieces; the reason it cannot be read counts as one too.
QString WhyNotASoundMovieFile(const QString& path);
