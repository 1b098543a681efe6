// A bundle's ruffle-bundle.toml, a curation's meta.yaml and an archive's entry names, as a
// hostile collection gives them: whatever they say, the movie they name stays inside "content/"
// and the address it is filed under is a web one.
#include "collectiondescription.h"
#include "confinedpath.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace {

void mustHold(bool condition)
{
    if (!condition)
        __builtin_trap();
}

/// A movie path a description gives is "content/" and a confined name below it, the name the
/// movie is written under.
void checkMoviePath(const QString& moviePath)
{
    const QString content = QStringLiteral("content/");
    if (moviePath.isEmpty())
        return;
    mustHold(moviePath.startsWith(content));
    mustHold(transfer::WhyNotBelow(moviePath.mid(content.size()).toUtf8().toStdString()).empty());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const QByteArray text(reinterpret_cast<const char*>(data) + 1, qsizetype(size - 1));
    switch (data[0] % 3) {
    case 0: {
        const BundleDescription bundle = DescribeBundle(text);
        checkMoviePath(bundle.moviePath);
        mustHold(bundle.source.isEmpty() || IsWebAddress(bundle.source));
        break;
    }
    case 1: {
        const CurationDescription curation = DescribeCuration(text);
        checkMoviePath(curation.moviePath);
        mustHold(curation.moviePath.isEmpty() || IsWebAddress(curation.address));
        break;
    }
    default: {
        // A name taken is a plain relative path: no segment leads up or out.
        const std::string_view name(text.constData(), std::size_t(text.size()));
        if (transfer::WhyNotBelow(name).empty()) {
            mustHold(!name.empty() && name.front() != '/' && name.find('\0') == name.npos);
            for (std::size_t start = 0; start <= name.size();) {
                const std::size_t end = std::min(name.find('/', start), name.size());
                const std::string_view segment = name.substr(start, end - start);
                mustHold(!segment.empty() && segment != "." && segment != "..");
                start = end + 1;
            }
        }
        break;
    }
    }
    return 0;
}
