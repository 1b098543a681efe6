#include "pagescan.h"

#include "exitcodes.h"
#include "htmlscan.h"
#include "pagecharset.h"

#include <QFile>

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>

namespace cli {

namespace {

/// The largest page the scan commands read.
constexpr qsizetype kMaxPageBytes = qsizetype(64) << 20;

/// Memory of its own for a page, in whole huge pages, for as long as this lives.
struct Mapping
{
    void* start = MAP_FAILED;
    std::size_t size = 0;

    Mapping() = default;
    Mapping(const Mapping&) = delete;
    Mapping& operator=(const Mapping&) = delete;
    ~Mapping()
    {
        if (start != MAP_FAILED)
            ::munmap(start, size);
    }
};

/// The bytes of a scan command's page.
struct Page
{
    std::unique_ptr<QFile> file;
    std::unique_ptr<Mapping> mapping = std::make_unique<Mapping>();
    QByteArray bytes;
};

/// The page of a scan command: a file, or standard input for "-" or none.
std::optional<Page> readPage(const QString& name, QTextStream& err)
{
    Page page;
    page.file = std::make_unique<QFile>();
    QFile& file = *page.file;
    const bool opened = name == u"-" ? file.open(stdin, QIODevice::ReadOnly)
                                     : (file.setFileName(name), file.open(QIODevice::ReadOnly));
    const auto cannotRead = [&] {
        err << "clipvault-cli: cannot read " << name << ": " << file.errorString() << Qt::endl;
        return std::nullopt;
    };
    const auto tooLarge = [&] {
        err << "clipvault-cli: " << name << " is larger than " << (kMaxPageBytes >> 20)
            << " MiB; a page that large is not scanned" << Qt::endl;
        return std::nullopt;
    };
    if (!opened)
        return cannotRead();
    if (!file.isSequential()) {
        if (file.size() > kMaxPageBytes)
            return tooLarge();
        // A file that tells no size (as those of /proc) is read as a stream is. A file is read
        // whole into huge pages: walking a mapped page cache takes a fault and a miss of the
        // address cache every 4 KiB, which cost more than the scan itself.
        Mapping& mapping = *page.mapping;
        const std::size_t size = static_cast<std::size_t>(file.size());
        constexpr std::size_t kHuge = std::size_t(2) << 20;
        mapping.size = (size + kHuge - 1) / kHuge * kHuge;
        if (size > 0)
            mapping.start = ::mmap(nullptr, mapping.size, PROT_READ | PROT_WRITE,
                                   MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (mapping.start != MAP_FAILED) {
            ::madvise(mapping.start, mapping.size, MADV_HUGEPAGE);
            auto* bytes = static_cast<char*>(mapping.start);
            std::size_t got = 0;
            while (got < size) {
                const ssize_t piece = ::read(file.handle(), bytes + got, size - got);
                if (piece < 0 && errno == EINTR)
                    continue;
                if (piece < 0) {
                    err << "clipvault-cli: cannot read " << name << ": " << std::strerror(errno)
                        << Qt::endl;
                    return std::nullopt;
                }
                if (piece == 0)
                    break; // cut short meanwhile: what is there is the page
                got += static_cast<std::size_t>(piece);
            }
            page.bytes = QByteArray::fromRawData(bytes, static_cast<qsizetype>(got));
            return page;
        }
    }
    // Read in pieces up to the limit, so that endless input ends with a message, not with the
    // memory exhausted.
    for (;;) {
        const QByteArray piece = file.read(1 << 20);
        if (piece.isEmpty())
            break;
        page.bytes += piece;
        if (page.bytes.size() > kMaxPageBytes)
            return tooLarge();
    }
    if (file.error() != QFileDevice::NoError)
        return cannotRead();
    return page;
}

} // namespace

int ScanPage(bool frames, const QString& base, const QString& file, QTextStream& out,
             QTextStream& err)
{
    std::optional<Page> page = readPage(file, err);
    if (!page)
        return kFailed;
    QByteArray& text = page->bytes;
    // A file has no header: its encoding is its byte-order mark's, its <meta>'s, or windows-1252.
    PageDecoder decoder(PageCharset(text, {}));
    if (decoder.isUtf16()) {
        text = decoder.toUtf8(text);
        decoder = PageDecoder("utf-8");
    }
    ScanResultList found;
    if (frames)
        ExtractFrameLinks(text, base, found, decoder);
    else
        ExtractFlashLinks(text, base, found, decoder);
    // One text handed over at once: the stream converts it in one go.
    QString lines;
    for (const QString& address : found.toList())
        lines += address + u'\n';
    out << lines;
    return kOk;
}

} // namespace cli
