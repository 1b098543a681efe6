#pragma once

#include "nativemessaging.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <set>

/// The browser companion's native messaging host: the browser starts it with pipes on its
/// standard input and output, and it relays the extension's messages to the running program
/// over the data folder's private socket, and the program's back. Each message is checked on
/// the way in either direction: what fails is answered with an error (logged once per kind on
/// stderr, which the browser keeps in its log) and goes no further. While the program is not
/// running the host answers for it that it is not, and looks for it again every second, so that a
/// program started after the browser is reached without a reload.
class BrowserHost final
{
public:
    /// `socketPath`: the program's private socket for its data folder.
    BrowserHost(int input, int output, QString socketPath);
    ~BrowserHost();
    BrowserHost(const BrowserHost&) = delete;
    BrowserHost& operator=(const BrowserHost&) = delete;

    /// Relays until the browser closes the pipe or breaks the protocol; the exit status.
    int run();

    /// How often a program that is not running is looked for.
    static constexpr int kLookAgainMs = 1000;

private:
    void readBrowser();
    void readProgram();
    void fromExtension(const QByteArray& json);
    void fromProgram(const QByteArray& json);
    void tryToReachProgram();
    void loseProgram();
    /// Tells the extension the program is not running.
    void sayNotRunning();
    void toBrowser(const QJsonObject& message);
    void toProgram(const QByteArray& json);
    /// Says a fault on stderr, once per direction and kind.
    void logOnce(const char* from, nativemessaging::Fault fault, const QString& why);

    int m_input;
    int m_output;
    QString m_socketPath;
    int m_program = -1;
    nativemessaging::FrameReader m_fromBrowser;
    nativemessaging::FrameReader m_fromProgram;
    QByteArray m_hello; ///< the extension's hello, said again to each program reached
    bool m_browserDone = false;
    std::set<std::pair<std::string, int>> m_logged;
};
