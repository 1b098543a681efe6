#include "browserhost.h"

#include "privatefolder.h"

#include <cerrno>
#include <cstdio>

#include <poll.h>
#include <unistd.h>

using namespace nativemessaging;

namespace {

constexpr std::size_t kReadPiece = 64 * 1024;

/// Writes all of `bytes`; false when the other end is gone.
bool writeAll(int fd, QByteArrayView bytes)
{
    while (!bytes.isEmpty()) {
        const ssize_t written = ::write(fd, bytes.data(), static_cast<std::size_t>(bytes.size()));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        bytes = bytes.sliced(written);
    }
    return true;
}

/// Reads what is there; 0 at the end, -1 when nothing is there yet.
ssize_t readSome(int fd, QByteArray& into)
{
    into.resize(kReadPiece);
    ssize_t got = 0;
    do
        got = ::read(fd, into.data(), kReadPiece);
    while (got < 0 && errno == EINTR);
    into.resize(got > 0 ? got : 0);
    return got;
}

} // namespace

BrowserHost::BrowserHost(int input, int output, QString socketPath)
    : m_input(input)
    , m_output(output)
    , m_socketPath(std::move(socketPath))
{
}

BrowserHost::~BrowserHost()
{
    if (m_program >= 0)
        ::close(m_program);
}

int BrowserHost::run()
{
    tryToReachProgram();
    while (!m_browserDone) {
        pollfd watched[2] = {{m_input, POLLIN, 0}, {m_program, POLLIN, 0}};
        const int ready = ::poll(watched, m_program >= 0 ? 2 : 1, kLookAgainMs);
        if (ready < 0 && errno != EINTR)
            return 1;
        if (watched[0].revents != 0)
            readBrowser();
        if (m_program >= 0 && watched[1].revents != 0)
            readProgram();
        if (m_program < 0)
            tryToReachProgram();
    }
    return m_fromBrowser.problem() == FrameReader::Problem::None ? 0 : 1;
}

void BrowserHost::readBrowser()
{
    QByteArray bytes;
    const ssize_t got = readSome(m_input, bytes);
    if (got == 0)
        m_fromBrowser.end();
    m_fromBrowser.feed(bytes);
    while (const std::optional<QByteArray> message = m_fromBrowser.next())
        fromExtension(*message);
    switch (m_fromBrowser.problem()) {
    case FrameReader::Problem::TooLong:
        std::fprintf(stderr,
                     "clipvault-browser-host: the extension announced a message of %llu bytes, "
                     "over the %lld-byte limit; the connection is closed\n",
                     static_cast<unsigned long long>(m_fromBrowser.announced()),
                     static_cast<long long>(kMaxMessageBytes));
        m_browserDone = true;
        break;
    case FrameReader::Problem::Cut:
        std::fprintf(stderr, "clipvault-browser-host: the browser closed the pipe in the middle "
                             "of a message; it was dropped\n");
        m_browserDone = true;
        break;
    case FrameReader::Problem::None:
        m_browserDone = m_browserDone || got == 0;
        break;
    }
}

void BrowserHost::fromExtension(const QByteArray& json)
{
    Fault fault = Fault::None;
    QString why;
    const std::optional<Message> message = ReadMessage(json, Sender::Extension, &fault, &why);
    if (!message) {
        logOnce("extension", fault, why);
        toBrowser(ErrorReply(fault, why));
        return;
    }
    const bool hello = message->type == u"hello";
    if (!hello && m_hello.isEmpty()) {
        // Nothing is read before both ends know they speak the same protocol.
        const QString first = QStringLiteral("the extension must say hello first");
        logOnce("extension", Fault::Version, first);
        toBrowser(ErrorReply(Fault::Version, first));
        return;
    }
    if (hello)
        m_hello = json;
    if (m_program < 0) {
        sayNotRunning();
        return;
    }
    toProgram(json);
}

void BrowserHost::readProgram()
{
    QByteArray bytes;
    const ssize_t got = readSome(m_program, bytes);
    if (got == 0) {
        loseProgram();
        return;
    }
    m_fromProgram.feed(bytes);
    while (const std::optional<QByteArray> message = m_fromProgram.next())
        fromProgram(*message);
    if (m_fromProgram.problem() != FrameReader::Problem::None) {
        logOnce("program", Fault::Json, QStringLiteral("the program's stream broke"));
        loseProgram();
    }
}

void BrowserHost::fromProgram(const QByteArray& json)
{
    Fault fault = Fault::None;
    QString why;
    if (const std::optional<Message> message = ReadMessage(json, Sender::Program, &fault, &why))
        toBrowser(message->fields);
    else
        logOnce("program", fault, why);
}

void BrowserHost::tryToReachProgram()
{
    m_program = ConnectToOwnProgram(m_socketPath);
    if (m_program < 0)
        return;
    m_fromProgram = FrameReader();
    const QByteArray greeting(kSocketGreeting);
    if (!writeAll(m_program, greeting)) {
        loseProgram();
        return;
    }
    // A program started after the browser hears the extension's hello it missed.
    if (!m_hello.isEmpty())
        toProgram(m_hello);
}

void BrowserHost::loseProgram()
{
    if (m_program >= 0)
        ::close(m_program);
    m_program = -1;
    if (!m_hello.isEmpty())
        sayNotRunning();
}

void BrowserHost::sayNotRunning()
{
    toBrowser(
        {{QStringLiteral("type"), QStringLiteral("state")}, {QStringLiteral("running"), false}});
}

void BrowserHost::toBrowser(const QJsonObject& message)
{
    if (!writeAll(m_output, Frame(message)))
        m_browserDone = true; // the browser is gone
}

void BrowserHost::toProgram(const QByteArray& json)
{
    if (!writeAll(m_program, Frame(json)))
        loseProgram();
}

void BrowserHost::logOnce(const char* from, Fault fault, const QString& why)
{
    if (!m_logged.insert({from, static_cast<int>(fault)}).second)
        return;
    std::fprintf(stderr, "clipvault-browser-host: refused a message from the %s (%s): %s\n", from,
                 qPrintable(FaultName(fault)), qPrintable(why));
}
