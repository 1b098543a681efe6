#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QJsonObject>
#include <QString>

#include <deque>
#include <optional>

// The browser companion's messages. The browser and the companion's host speak native messaging
// over the host's standard input and output: each message is a 32-bit length in the machine's
// byte order, then that many bytes of UTF-8 JSON, one object. The host and the program speak
// the very same frames over the data folder's private socket. Every message names its "type";
// the fields each type may have, and what each must hold, are checked here, on both ends, before
// anything acts on a message.

namespace nativemessaging {

/// The version of the messages below; both ends say theirs first and stop at a mismatch.
inline constexpr int kProtocol = 1;
/// The longest message either way, a piece of a movie included: what Chromium takes from a host.
inline constexpr qint64 kMaxMessageBytes = qint64(1) << 20;
/// What a host writes first on the program's socket, before its frames: the program's socket
/// also takes a later start's one-line requests.
inline constexpr char kSocketGreeting[] = "clipvault-companion 1\n";

/// Cuts a stream of frames into messages as its bytes arrive. A length over kMaxMessageBytes is
/// refused as soon as its four bytes are in, before anything is allocated for it: the stream can
/// then not be read any further and is to be closed.
class FrameReader final
{
public:
    enum class Problem
    {
        None,
        TooLong, ///< a message announced more than kMaxMessageBytes
        Cut,     ///< the stream ended inside a message
    };

    /// Takes the next bytes of the stream; nothing more once a problem was found.
    void feed(QByteArrayView bytes);
    /// The next whole message, in order.
    std::optional<QByteArray> next();
    /// Tells that the stream ended; a message begun and not finished is then Cut.
    void end();
    Problem problem() const { return m_problem; }
    /// The length the refused message announced.
    quint64 announced() const { return m_announced; }

private:
    QByteArray m_pending;
    std::deque<QByteArray> m_messages;
    Problem m_problem = Problem::None;
    quint64 m_announced = 0;
};

/// A message as a frame; empty when its JSON is longer than kMaxMessageBytes.
QByteArray Frame(const QJsonObject& message);
/// The same for a message's JSON text as it came (a relay passes it on unchanged).
QByteArray Frame(QByteArrayView json);

/// Who sends a message: the extension (through the host) or the program.
enum class Sender
{
    Extension,
    Program,
};

/// What is wrong with a message, for a log that names each kind once per connection.
enum class Fault
{
    None,
    Json,    ///< not JSON text of one object
    Type,    ///< no type, or one this sender never sends
    Field,   ///< a field this type does not have, or one it needs missing
    Value,   ///< a field of the wrong kind, an address other than http or https, a bad piece
    Version, ///< a protocol this end does not speak
};

/// A message read and checked: its type and its fields, each of the kind its type says.
struct Message
{
    QString type;
    QJsonObject fields; ///< the whole object, "type" included
};

/// Reads one message's JSON and checks it against the types `sender` sends: every field known to
/// its type, every required one there, each of its kind. Nothing, with the fault and a line for
/// the log, otherwise.
std::optional<Message> ReadMessage(QByteArrayView json, Sender sender, Fault* fault, QString* why);

/// The name of a fault, for the log and the error reply.
QString FaultName(Fault fault);

/// The error reply to a message that was refused.
QJsonObject ErrorReply(Fault fault, const QString& why);

/// The host's name, as the browsers' host manifests and the extension name it.
inline constexpr char kHostName[] = "io.github.clipvault.companion";
/// The extension's ids: Firefox's from its manifest, Chromium's from the public key there.
inline constexpr char kFirefoxExtensionId[] = "companion@clipvault.github.io";
inline constexpr char kChromiumExtensionId[] = "hkcplhokbcngnbfgaonicedkpbognldo";

/// The data folder the host serves: $CLIPVAULT_HOME, else the one `clipvault-cli browser
/// connect` recorded, else the user's default.
QString HostDataFolder();
/// Where `browser connect` records it.
QString HostRecordPath();

} // namespace nativemessaging
