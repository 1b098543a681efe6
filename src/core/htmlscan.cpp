#include "htmlscan.h"

#include "texthelpers.h"
#include "urlresolve.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <numeric>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

char lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c;
}

bool isQuote(char c)
{
    return c == '\'' || c == '"';
}

/// Where the value closed by `quote` before `marker` begins: behind the last such quote at or
/// after `from`; -1 when there is none. As the scanners always did, a stretch shorter than two
/// characters holds no opening quote.
qsizetype openingQuote(QByteArrayView text, qsizetype from, qsizetype marker, char quote)
{
    if (marker - from < 2)
        return -1;
    const auto* start = reinterpret_cast<const unsigned char*>(text.data() + from);
    const void* found = memrchr(start, quote, static_cast<std::size_t>(marker - from));
    return found ? static_cast<const unsigned char*>(found) - start + from + 1 : -1;
}

/// Whether [from, to) of the text holds none of `<`, `>` and the quotes: a value of one
/// attribute or string, not a stretch of the page's markup or text.
bool holdsNoMarkup(QByteArrayView text, qsizetype from, qsizetype to)
{
    for (qsizetype i = from; i < to; ++i) {
        const char c = text[i];
        if (c == '<' || c == '>' || isQuote(c))
            return false;
    }
    return true;
}

/// Whether the text at `at` reads `marker` (lower-case ASCII), ignoring case.
bool readsAt(const char* at, QByteArrayView marker)
{
    for (qsizetype k = 0; k < marker.size(); ++k) {
        if (lower(at[k]) != marker[k])
            return false;
    }
    return true;
}

#if defined(__SSE2__)
/// The bits that fold a byte for comparing with `c`: a letter matches in either case.
__m128i caseFoldFor(char c)
{
    return _mm_set1_epi8(c >= 'a' && c <= 'z' ? 0x20 : 0);
}
#endif

/// Next position of `marker` (lower-case ASCII) at or after `from`, ignoring case; -1 when none.
qsizetype findIgnoringCase(QByteArrayView text, QByteArrayView marker, qsizetype from)
{
    const qsizetype length = marker.size();
    const qsizetype last = text.size() - length;
    const char* data = text.data();
    qsizetype i = from;
#if defined(__SSE2__)
    // Sixteen places at a time: a place is a candidate when its first and last bytes are the
    // marker's, and only candidates are compared whole. A page is scanned at memory speed.
    const __m128i firstFold = caseFoldFor(marker[0]);
    const __m128i lastFold = caseFoldFor(marker[length - 1]);
    const __m128i first = _mm_set1_epi8(marker[0]);
    const __m128i final = _mm_set1_epi8(marker[length - 1]);
    for (; i + 16 <= last + 1; i += 16) {
        const __m128i heads =
            _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i)), firstFold);
        const __m128i tails = _mm_or_si128(
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i + length - 1)), lastFold);
        auto candidates = static_cast<unsigned>(_mm_movemask_epi8(
            _mm_and_si128(_mm_cmpeq_epi8(heads, first), _mm_cmpeq_epi8(tails, final))));
        for (; candidates != 0; candidates &= candidates - 1) {
            const qsizetype at = i + std::countr_zero(candidates);
            if (readsAt(data + at, marker))
                return at;
        }
    }
#endif
    for (; i <= last; ++i) {
        if (readsAt(data + i, marker))
            return i;
    }
    return -1;
}

QString referenceText(QByteArrayView text, qsizetype begin, qsizetype end,
                      const PageDecoder& decoder)
{
    return decoder.decode(text.sliced(begin, end - begin));
}

/// The first quote at or after `from`; -1 when none.
qsizetype findQuote(QByteArrayView text, qsizetype from)
{
    const char* data = text.data();
    for (qsizetype i = from; i < text.size(); ++i) {
        if (isQuote(data[i]))
            return i;
    }
    return -1;
}

} // namespace

namespace {

/// The address folded for comparison; plain ASCII (nearly every address) without Unicode tables.
QString foldedKey(const QString& address)
{
    QString key(address.size(), Qt::Uninitialized);
    QChar* out = key.data();
    for (const QChar c : address) {
        const char16_t unit = c.unicode();
        if (unit >= 0x80)
            return address.toCaseFolded();
        *out++ = QChar(unit >= u'A' && unit <= u'Z' ? unit + (u'a' - u'A') : unit);
    }
    return key;
}

} // namespace

ScanResultList::Room ScanResultList::room() const
{
    return {m_maxEntries < 0 ? -1 : m_maxEntries - size(),
            m_maxChars < 0 ? -1 : m_maxChars - m_chars, m_full};
}

void ScanResultList::grow()
{
    m_slots.assign(std::max<std::size_t>(64, m_slots.size() * 2), 0);
    const std::size_t mask = m_slots.size() - 1;
    for (std::size_t i = 0; i < m_entries.size(); ++i) {
        std::size_t slot = m_entries[i].hash & mask;
        while (m_slots[slot] != 0)
            slot = (slot + 1) & mask;
        m_slots[slot] = static_cast<quint32>(i + 1);
    }
}

bool ScanResultList::offer(const QString& address)
{
    if ((m_maxEntries >= 0 && size() >= m_maxEntries) ||
        (m_maxChars >= 0 && m_chars + address.size() > m_maxChars)) {
        m_full = true;
        return false;
    }
    QString key = foldedKey(address);
    const std::size_t hash = qHash(key);
    if (m_slots.size() < 2 * (m_entries.size() + 1))
        grow();
    const std::size_t mask = m_slots.size() - 1;
    std::size_t slot = hash & mask;
    for (; m_slots[slot] != 0; slot = (slot + 1) & mask) {
        const Entry& held = m_entries[m_slots[slot] - 1];
        if (held.hash == hash && held.key == key) {
            m_lastSorted = true; // the look-up sorted the whole list
            return false;
        }
    }
    m_slots[slot] = static_cast<quint32>(m_entries.size() + 1);
    m_narrowKeys = m_narrowKeys && std::all_of(key.cbegin(), key.cend(),
                                               [](QChar c) { return c.unicode() < 0x100; });
    m_entries.push_back({std::move(key), address, hash});
    m_chars += address.size();
    m_lastSorted = false;
    return true;
}

bool ScanResultList::keyLess(quint32 a, quint32 b) const
{
    const QString& left = m_entries[a].key;
    const QString& right = m_entries[b].key;
    if (!m_narrowKeys || std::endian::native != std::endian::little)
        return left < right;
    // Characters below U+0100 are stored with a zero high byte, so the first byte two keys differ
    // in is the low byte of the first character they differ in.
    const qsizetype common = std::min(left.size(), right.size());
    const int order = std::memcmp(left.constData(), right.constData(),
                                  static_cast<std::size_t>(common) * sizeof(QChar));
    return order != 0 ? order < 0 : left.size() < right.size();
}

std::vector<quint32> ScanResultList::sortedOrder() const
{
    std::vector<quint32> order = m_sorted;
    const auto settled = static_cast<std::ptrdiff_t>(order.size());
    order.resize(m_entries.size());
    std::iota(order.begin() + settled, order.end(), static_cast<quint32>(settled));
    const auto less = [this](quint32 a, quint32 b) {
        return keyLess(a, b);
    };
    std::sort(order.begin() + settled, order.end(), less);
    std::inplace_merge(order.begin(), order.begin() + settled, order.end(), less);
    return order;
}

void ScanResultList::sortSoFar()
{
    m_sorted = sortedOrder();
}

QStringList ScanResultList::toList() const
{
    std::vector<quint32> order = sortedOrder();
    if (!m_lastSorted && !order.empty()) {
        const auto last = static_cast<quint32>(m_entries.size() - 1);
        order.erase(std::find(order.begin(), order.end(), last));
        order.push_back(last);
    }
    QStringList list;
    list.reserve(static_cast<qsizetype>(order.size()));
    for (const quint32 index : order)
        list << m_entries[index].address;
    return list;
}

void ExtractFlashLinks(QByteArrayView text, const QString& pageAddress, ScanResultList& list,
                       const PageDecoder& decoder)
{
    if (IsMovieAddress(pageAddress)) {
        list.offer(pageAddress);
        return;
    }
    const ReferenceResolver resolver(pageAddress);
    const qsizetype size = text.size();
    qsizetype remaining = 0; // the scan never reaches back before this
    qsizetype from = 0;
    for (qsizetype marker; (marker = findIgnoringCase(text, ".swf", from)) >= 0;) {
        // Blanks right after the marker do not separate it from its closing quote.
        qsizetype after = marker + 4;
        while (after < size && text[after] == ' ')
            ++after;
        if (after >= size)
            break; // a marker at the very end has no closing quote
        // A query or a fragment after the marker runs to the closing quote; the address is cut
        // at the marker, as the shortcut bar files a movie, so that both agree on one item.
        qsizetype close = after;
        if (text[after] == '?' || text[after] == '#') {
            close = findQuote(text, after);
            if (close < 0)
                break; // no quote in the rest of the text: nothing more is quoted
        }
        const char quote = text[close];
        if (isQuote(quote)) {
            // The reference is the quoted value the marker stands in: it opens behind the last
            // such quote since the previous marker, and neither it nor its query holds markup
            // or another quote. A marker in the page's text, or in a value whose quotes do not
            // match, names nothing.
            const qsizetype begin = openingQuote(text, remaining, marker, quote);
            if (begin >= 0 && holdsNoMarkup(text, begin, marker) &&
                holdsNoMarkup(text, marker + 4, close)) {
                list.offer(decoder.encodeQuery(
                    resolver.resolve(referenceText(text, begin, marker + 4, decoder))));
                if (list.full())
                    return;
            }
        }
        remaining = close;
        from = close;
    }
}

ScanResultList ExtractFrameLinks(QByteArrayView text, const QString& pageAddress)
{
    ScanResultList list;
    ExtractFrameLinks(text, pageAddress, list);
    return list;
}

namespace {

/// The "src" values of every `<tag …>` of the page, resolved, into `list`.
void extractSources(QByteArrayView text, const QString& pageAddress, ScanResultList& list,
                    const PageDecoder& decoder, const char* openTag)
{
    const ReferenceResolver resolver(pageAddress);
    const auto offer = [&](qsizetype begin, qsizetype end) {
        list.offer(decoder.encodeQuery(resolver.resolve(referenceText(text, begin, end, decoder))));
        return !list.full();
    };
    const qsizetype size = text.size();
    qsizetype from = 0;
    const qsizetype tagLength = static_cast<qsizetype>(std::strlen(openTag));
    for (qsizetype frame; (frame = findIgnoringCase(text, openTag, from)) >= 0;) {
        // The whole name: "<frame" is not the start of "<frameset".
        const qsizetype after = frame + tagLength;
        if (after < size && !QChar::isSpace(static_cast<uchar>(text[after])) &&
            text[after] != '>' && text[after] != '/') {
            from = after;
            continue;
        }
        const qsizetype src = findIgnoringCase(text, "src", after);
        if (src < 0)
            break; // no "src" anywhere behind it: nothing more to find
        qsizetype at = src + 3;
        while (at < size && text[at] == ' ')
            ++at;
        if (at < size && text[at] == '=')
            ++at;
        while (at < size && (text[at] == ' ' || text[at] == '\r' || text[at] == '\n'))
            ++at;
        if (at >= size)
            break;

        if (!isQuote(text[at])) {
            // An unquoted value runs to the next blank or the end of the tag.
            qsizetype end = at;
            while (end < size && !QChar::isSpace(static_cast<uchar>(text[end])) && text[end] != '>')
                ++end;
            if (end > at && !offer(at, end))
                return;
            from = end;
            continue;
        }
        const char quote = text[at++];
        while (at < size && text[at] == ' ')
            ++at;
        const void* close =
            std::memchr(text.data() + at, quote, static_cast<std::size_t>(size - at));
        if (!close)
            break; // no closing quote in the rest of the text
        qsizetype end = static_cast<const char*>(close) - text.data();
        while (end > at && (text[end - 1] == ' ' || text[end - 1] == '\r' || text[end - 1] == '\n'))
            --end;
        if (end > at && !offer(at, end)) // an empty value names no page
            return;
        from = end;
    }
}

} // namespace

void ExtractFrameLinks(QByteArrayView text, const QString& pageAddress, ScanResultList& list,
                       const PageDecoder& decoder)
{
    extractSources(text, pageAddress, list, decoder, "<iframe");
}

void ExtractFramesetLinks(QByteArrayView text, const QString& pageAddress, ScanResultList& list,
                          const PageDecoder& decoder)
{
    extractSources(text, pageAddress, list, decoder, "<frame");
}
