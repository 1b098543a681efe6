#include "swfcheck.h"

#include <lzma.h>
#include <zlib.h>

#include <QByteArray>
#include <QFile>

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>

namespace {

constexpr std::size_t kPrefix = 8;     // signature, version, length
constexpr std::size_t kLzmaPrefix = 9; // the compressed length, then the 5 property bytes
constexpr std::size_t kOutPiece = 64 * 1024;
constexpr quint64 kLzmaMemory = quint64(256) << 20;

quint32 littleEndian32(const unsigned char* bytes)
{
    return quint32(bytes[0]) | quint32(bytes[1]) << 8 | quint32(bytes[2]) << 16 |
           quint32(bytes[3]) << 24;
}

/// Follows the uncompressed movie after its 8-byte prefix: the rest of the header, then tag
/// after tag, up to the End tag or the end of the length the header announced.
class TagWalk
{
public:
    explicit TagWalk(quint64 bodyLength)
        : m_left(bodyLength)
    {
    }

    /// False once the walk shows the movie unsound (`reason()`).
    bool take(const unsigned char* bytes, std::size_t size)
    {
        while (size > 0 && m_reason.isEmpty() && !m_ended && m_left > 0) {
            if (m_skip > 0) {
                const std::size_t step = std::size_t(std::min<quint64>(m_skip, size));
                m_skip -= step;
                m_left -= step;
                bytes += step;
                size -= step;
                continue;
            }
            m_held[m_heldSize++] = *bytes++;
            --size;
            --m_left;
            understand();
        }
        return m_reason.isEmpty();
    }

    /// After the last body byte: empty when the walk reached its end.
    QString finish() const
    {
        if (!m_reason.isEmpty())
            return m_reason;
        if (m_ended || (m_left == 0 && m_heldSize == 0))
            return {};
        return QStringLiteral("a tag runs past the end the header announces");
    }
    bool headerRead() const { return m_headerRead; }

private:
    /// Acts on the bytes held, once they are enough for what comes next.
    void understand()
    {
        if (!m_headerRead) {
            // The frame rectangle's size is in its first five bits; then rate and count.
            const std::size_t bits = 5 + 4 * std::size_t(m_held[0] >> 3);
            const std::size_t needed = (bits + 7) / 8 + 4;
            if (m_heldSize < needed)
                return;
            m_headerRead = true;
            m_heldSize = 0;
            return;
        }
        if (m_heldSize < 2)
            return;
        const quint32 codeAndLength = quint32(m_held[0]) | quint32(m_held[1]) << 8;
        quint64 length = codeAndLength & 0x3F;
        if (length == 0x3F) {
            if (m_heldSize < 6)
                return;
            length = littleEndian32(m_held.data() + 2);
        }
        m_heldSize = 0;
        if ((codeAndLength >> 6) == 0) {
            m_ended = true; // the End tag: what follows it is no part of the movie
            return;
        }
        if (length > m_left) {
            m_reason = QStringLiteral("a tag runs past the end the header announces");
            return;
        }
        m_skip = length;
    }

    quint64 m_left;
    quint64 m_skip = 0;
    std::array<unsigned char, 32> m_held{};
    std::size_t m_heldSize = 0;
    bool m_headerRead = false;
    bool m_ended = false;
    QString m_reason;
};

} // namespace

class MovieCheck::State
{
public:
    ~State()
    {
        if (m_zlibStarted)
            inflateEnd(&m_zlib);
        if (m_lzmaStarted)
            lzma_end(&m_lzma);
    }

    bool add(std::string_view bytes)
    {
        if (!m_reason.isEmpty())
            return false;
        if (m_walk && m_produced >= m_bodyLength)
            return true; // all the movie is read; the rest lies after its end
        while (!bytes.empty() && !m_walk) {
            if (!takePrefix(bytes))
                return false;
        }
        if (bytes.empty())
            return true;
        if (m_signature == 'F')
            return body(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
        return m_signature == 'C' ? inflatePiece(bytes) : unlzmaPiece(bytes);
    }

    QString finish()
    {
        if (!m_reason.isEmpty())
            return m_reason;
        if (!m_walk)
            return m_prefix.size() < 3 || m_prefixChecked
                       ? QStringLiteral("too short for a Flash movie")
                       : QStringLiteral("the movie's header is cut short");
        if (m_produced < m_bodyLength) {
            if (m_damaged)
                return QStringLiteral("the compressed movie is damaged");
            return QStringLiteral("the movie is cut short: %1 of the %2 bytes its header announces")
                .arg(m_produced + kPrefix)
                .arg(m_bodyLength + kPrefix);
        }
        if (!m_walk->headerRead())
            return QStringLiteral("the movie's header is cut short");
        return m_walk->finish();
    }

private:
    bool fail(const QString& reason)
    {
        m_reason = reason;
        return false;
    }

    /// Gathers the prefix (and an LZMA movie's property bytes); once whole, starts the body.
    bool takePrefix(std::string_view& bytes)
    {
        const std::size_t wanted =
            (m_prefix.size() >= 3 && m_prefix[0] == 'Z') ? kPrefix + kLzmaPrefix : kPrefix;
        const std::size_t step = std::min(wanted - std::size_t(m_prefix.size()), bytes.size());
        m_prefix.append(bytes.data(), qsizetype(step));
        bytes.remove_prefix(step);
        if (m_prefix.size() >= 3 && !m_prefixChecked) {
            m_prefixChecked = true;
            if (m_prefix[1] != 'W' || m_prefix[2] != 'S' ||
                (m_prefix[0] != 'F' && m_prefix[0] != 'C' && m_prefix[0] != 'Z'))
                return fail(QStringLiteral("not a Flash movie (no FWS, CWS or ZWS signature)"));
            return true;
        }
        if (std::size_t(m_prefix.size()) < wanted)
            return true;
        return start();
    }

    bool start()
    {
        const auto* prefix = reinterpret_cast<const unsigned char*>(m_prefix.constData());
        const quint64 length = littleEndian32(prefix + 4);
        if (length < kPrefix + 2)
            return fail(
                QStringLiteral("the header announces a movie of %1 bytes, too short for one")
                    .arg(length));
        if (length > quint64(MovieCheck::kMostLength))
            return fail(QStringLiteral("the header announces %1 MiB, more than any movie")
                            .arg(length >> 20));
        m_signature = m_prefix[0];
        m_bodyLength = length - kPrefix;
        m_walk.emplace(m_bodyLength);
        if (m_signature == 'C') {
            m_zlibStarted = inflateInit(&m_zlib) == Z_OK;
            if (!m_zlibStarted)
                return fail(QStringLiteral("the compressed movie cannot be read"));
        } else if (m_signature == 'Z') {
            m_lzmaStarted = lzma_alone_decoder(&m_lzma, kLzmaMemory) == LZMA_OK;
            // The ".lzma" header: the 5 property bytes, then the uncompressed size.
            unsigned char header[13];
            std::memcpy(header, prefix + kPrefix + 4, 5);
            quint64 size = m_bodyLength;
            for (int i = 0; i < 8; ++i, size >>= 8)
                header[5 + i] = static_cast<unsigned char>(size & 0xFF);
            if (!m_lzmaStarted || !unlzma(header, sizeof header))
                return fail(QStringLiteral("the compressed movie cannot be read"));
        }
        return true;
    }

    /// Uncompressed body bytes; what lies past the announced length is not the movie's.
    bool body(const unsigned char* bytes, std::size_t size)
    {
        const std::size_t used = std::size_t(std::min<quint64>(size, m_bodyLength - m_produced));
        m_produced += used;
        if (!m_walk->take(bytes, used))
            return fail(m_walk->finish());
        return true;
    }

    /// Runs a decoder over the input it was given until that is used or the body is whole:
    /// `step` decodes once into the output piece and says how it went (1: the stream ended,
    /// 0: it goes on, -1: it is damaged).
    template <typename Stream, typename Step>
    bool unpack(Stream& stream, const Step& step)
    {
        while (stream.avail_in > 0 && m_produced < m_bodyLength) {
            stream.next_out = m_out.data();
            stream.avail_out = static_cast<decltype(stream.avail_out)>(m_out.size());
            const auto before = stream.avail_in;
            const int state = step();
            const std::size_t produced = m_out.size() - stream.avail_out;
            if (!body(m_out.data(), produced))
                return false;
            if (state > 0 || (produced == 0 && stream.avail_in == before))
                break;
            if (state < 0) {
                m_damaged = true;
                return m_produced >= m_bodyLength ||
                       fail(QStringLiteral("the compressed movie is damaged"));
            }
        }
        return true;
    }

    bool inflatePiece(std::string_view bytes)
    {
        m_zlib.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
        m_zlib.avail_in = static_cast<uInt>(bytes.size());
        return unpack(m_zlib, [this] {
            const int result = inflate(&m_zlib, Z_NO_FLUSH);
            return result == Z_STREAM_END ? 1 : result == Z_OK || result == Z_BUF_ERROR ? 0 : -1;
        });
    }

    bool unlzmaPiece(std::string_view bytes)
    {
        return unlzma(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    }

    bool unlzma(const unsigned char* bytes, std::size_t size)
    {
        m_lzma.next_in = bytes;
        m_lzma.avail_in = size;
        return unpack(m_lzma, [this] {
            const lzma_ret result = lzma_code(&m_lzma, LZMA_RUN);
            return result == LZMA_STREAM_END                       ? 1
                   : result == LZMA_OK || result == LZMA_BUF_ERROR ? 0
                                                                   : -1;
        });
    }

    QByteArray m_prefix;
    bool m_prefixChecked = false;
    char m_signature = 0;
    quint64 m_bodyLength = 0;
    quint64 m_produced = 0;
    std::optional<TagWalk> m_walk;
    z_stream m_zlib{};
    bool m_zlibStarted = false;
    lzma_stream m_lzma = LZMA_STREAM_INIT;
    bool m_lzmaStarted = false;
    bool m_damaged = false;
    std::array<unsigned char, kOutPiece> m_out{};
    QString m_reason;
};

MovieCheck::MovieCheck()
    : m_state(std::make_unique<State>())
{
}

MovieCheck::~MovieCheck() = default;

bool MovieCheck::add(std::string_view bytes)
{
    return m_state->add(bytes);
}

QString MovieCheck::finish()
{
    return m_state->finish();
}

QString WhyNotASoundMovie(std::string_view bytes)
{
    MovieCheck check;
    check.add(bytes);
    return check.finish();
}

QString WhyNotASoundMovieFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("cannot open %1: %2").arg(path, file.errorString());
    MovieCheck check;
    QByteArray piece(256 * 1024, Qt::Uninitialized);
    for (qint64 read; (read = file.read(piece.data(), piece.size())) > 0;) {
        if (!check.add(std::string_view(piece.constData(), std::size_t(read))))
            break;
    }
    return check.finish();
}
