#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>

#include <functional>
#include <memory>
#include <optional>

class QLocalServer;
class QLocalSocket;
class DataFolderLock;

/// One running program per data folder. The first start holds the data folder's lock and
/// listens on a local socket in a folder only its user can create names in; a later start of
/// the same user tells it to come to the front, or to play a movie, and ends. Each end checks
/// that the other runs as the same user. A start while the command-line tool changes the catalogue
/// waits for the change to be saved.
class SingleInstance final : public QObject
{
    Q_OBJECT
public:
    explicit SingleInstance(const QString& dataFolder, QObject* parent = nullptr);
    ~SingleInstance() override;
    Q_DISABLE_COPY_MOVE(SingleInstance)

    /// Takes the data folder. False when another running program holds it (that program has
    /// then been asked to show its window, or to play `movie` in its stand-alone player when
    /// one is given), or a change by the command-line tool did not end.
    bool acquire(const std::optional<QString>& movie = std::nullopt);

    /// Whether later starts can reach this program.
    bool isListening() const;

    /// Answers a question of the command line's, the line `request` (kCompanionsRequest,
    /// kTabMoviesRequest): `answer` gets the connection, writes its reply, now or later, and
    /// ends it.
    using Answer = std::function<void(QLocalSocket& socket)>;
    void answerRequest(const QByteArray& request, Answer answer)
    {
        m_answers.insert(request, std::move(answer));
    }

    /// Answers a question with an argument: the line `request`, then one line, its argument.
    using AnswerWith = std::function<void(QLocalSocket& socket, const QByteArray& argument)>;
    void answerRequestWith(const QByteArray& request, AnswerWith answer)
    {
        m_argumentAnswers.insert(request, std::move(answer));
    }

    /// Hands `movie` (or the wish to see the window) to a program already running on the data
    /// folder; false when none listens. Needs no application object: a later start hands its
    /// movie over before it makes one, which is most of what it would otherwise wait for.
    static bool handOff(const QString& dataFolder, const std::optional<QString>& movie);

signals:
    /// A later start asked this program to show its window.
    void activationRequested();
    /// A later start asked this program to play a movie (empty: the player with none).
    void playRequested(const QString& movie);
    /// A browser companion's host connected; whoever takes `socket` owns it from now on, and
    /// `rest` holds what came after the greeting.
    void companionConnected(QLocalSocket* socket, const QByteArray& rest);

private:
    /// The socket's path; empty when there is no folder only this user can create names in.
    QString serverName() const;
    void listen();
    /// Whether the other end of a connection runs as this user.
    static bool isOwnPeer(const QLocalSocket& socket);
    /// False when no program listens for the folder.
    bool askRunningProgram(const QByteArray& request);
    void acceptConnection();
    void handleRequest(const QByteArray& request);
    /// Answers the request when it is a question this program answers, whole; false otherwise.
    bool answer(QLocalSocket& socket, const QByteArray& request);

    QString m_dataFolder;
    std::unique_ptr<DataFolderLock> m_lock;
    QLocalServer* m_server = nullptr;
    QHash<QByteArray, Answer> m_answers;
    QHash<QByteArray, AnswerWith> m_argumentAnswers;
};
