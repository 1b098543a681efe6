#include "movieimport.h"

#include "atomicwrite.h"
#include "catalogue.h"
#include "collectiondescription.h"
#include "filetransfer.h"
#include "importcopies.h"
#include "importsource.h"
#include "keptfiles.h"
#include "replacingfile.h"
#include "sha256.h"
#include "swfcheck.h"
#include "urlresolve.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>
#include <QUrl>

#include <optional>

namespace {

/// More items than this are filed with the views told once, not item by item.
constexpr int kFiledOneByOne = 50;

const QString kFilesSuffix = QStringLiteral(".files/");

QString fileAddress(const QString& path)
{
    return QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded);
}

/// What one read of an entry found.
struct Probe
{
    bool movie = false;
    bool whole = false;
    QByteArray sha256;
    qint64 size = 0;
    QString error;
};

/// Reads an entry once: its first bytes say whether it is meant as a movie; a movie's bytes all
/// go through the check that it is a sound one, the hash and, with a sink, into its copy.
Probe probeEntry(const ImportSource& source, const SourceEntry& entry,
                 transfer::ReplacingWriter* sink)
{
    Probe probe;
    Sha256 hash;
    MovieCheck check;
    QByteArray head;
    bool decided = false;
    std::string writeError;
    const auto take = [&](std::string_view bytes) {
        hash.addData(bytes);
        probe.size += qint64(bytes.size());
        if (!check.add(bytes))
            return false; // damaged: the rest is not worth reading
        if (sink && !sink->write(bytes, &writeError)) {
            probe.error = QString::fromStdString(writeError);
            return false;
        }
        return true;
    };
    probe.whole = source.read(
        entry, kMaxMovieBytes,
        [&](std::string_view bytes) {
            if (decided)
                return take(bytes);
            head.append(bytes.data(), qsizetype(bytes.size()));
            if (head.size() < 3)
                return true;
            decided = true;
            probe.movie = BeginsAsFlashMovie(head);
            return probe.movie &&
                   take(std::string_view(head.constData(), std::size_t(head.size())));
        },
        &probe.error);
    if (probe.movie && probe.error.isEmpty())
        probe.error = check.finish();
    probe.whole = probe.whole && probe.error.isEmpty();
    if (probe.movie && probe.whole)
        probe.sha256 = QByteArray::fromStdString(hash.hexResult());
    return probe;
}

/// `name` in `folder`, or "name (2).swf" and on when a file or a kept-files folder holds it.
QString freeNameIn(const QString& folder, const QString& name)
{
    const QFileInfo info(name);
    const QString base = info.completeBaseName();
    const QString suffix = info.suffix().isEmpty() ? QString() : u'.' + info.suffix();
    QString candidate = name;
    for (int number = 2;; ++number) {
        const QString path = QDir(folder).filePath(candidate);
        if (!QFileInfo::exists(path) && !QFileInfo::exists(KeptFolderOf(path)))
            return path;
        candidate = QStringLiteral("%1 (%2)%3").arg(base).arg(number).arg(suffix);
    }
}

/// Reads one source and places its movies.
class Importer
{
public:
    Importer(const ImportPlan& plan, const std::atomic<bool>& stop, const ImportProgress& progress)
        : m_plan(plan)
        , m_stop(stop)
        , m_progress(progress)
        , m_known(plan.knownSha256)
    {
        m_out.summary.source = plan.request.source;
    }

    ImportFindings run()
    {
        m_source = ImportSource::open(m_plan.request.source, &m_out.summary.error);
        if (!m_source) {
            m_out.summary.error = QDir::toNativeSeparators(m_plan.request.source) +
                                  QStringLiteral(": ") + m_out.summary.error;
            return std::move(m_out);
        }
        if (!fitsOnDisk())
            return std::move(m_out);
        if (m_source->find(kBundleInformation))
            importBundle();
        else if ((m_source->find(QStringLiteral("meta.yaml")) ||
                  m_source->find(QStringLiteral("meta.yml"))) &&
                 hasContentFolder())
            importCuration();
        else
            importEach();
        m_out.summary.stopped = m_stop.load();
        return std::move(m_out);
    }

private:
    bool hasContentFolder() const
    {
        const QList<SourceEntry>& all = m_source->entries();
        return std::any_of(all.cbegin(), all.cend(), [](const SourceEntry& entry) {
            return entry.path.startsWith(kContent);
        });
    }

    /// An archive whose entries, as large as it says within its bound, need more room than the
    /// category's folder has is refused before anything is written.
    bool fitsOnDisk()
    {
        const qint64 bound = m_source->unpackBound();
        if (bound < 0)
            return true;
        qint64 announced = 0;
        for (const SourceEntry& entry : m_source->entries()) {
            if (entry.skipReason.isEmpty())
                announced = std::min(bound, announced + std::max<qint64>(0, entry.size));
        }
        // The folder may not be made yet: the room is that of the nearest one above it.
        QString existing = m_plan.targetFolder;
        while (!QFileInfo(existing).isDir() && QFileInfo(existing).path() != existing)
            existing = QFileInfo(existing).path();
        const QStorageInfo storage(existing);
        if (!storage.isValid() || announced <= storage.bytesAvailable())
            return true;
        m_out.summary.error =
            QStringLiteral("%1 unpacks to %2 MiB, more than the %3 MiB free in %4")
                .arg(QDir::toNativeSeparators(m_source->location()))
                .arg(announced >> 20)
                .arg(storage.bytesAvailable() >> 20)
                .arg(QDir::toNativeSeparators(m_plan.targetFolder));
        return false;
    }

    void problem(int ImportSummary::*count, const QString& path, const QString& reason)
    {
        ++(m_out.summary.*count);
        if (count == &ImportSummary::skipped)
            ++m_out.summary.skippedBy[reason];
        m_out.summary.problems.append({where(path), reason});
    }
    QString where(const QString& path) const
    {
        const QString local = m_source->localPath({path, 0, {}});
        return local.isEmpty() ? m_source->location() + u'/' + path : local;
    }
    void report(int done)
    {
        if (m_progress)
            m_progress(done, int(m_source->entries().size()));
    }

    /// A folder or a plain archive: every movie in it, a movie's kept files along with it.
    void importEach()
    {
        const bool copy = m_plan.request.copy || m_source->localPath({}).isEmpty();
        const QSet<QString> keptFolders = keptFoldersOfMovies();
        int done = 0;
        for (const SourceEntry& entry : m_source->entries()) {
            if (m_stop.load())
                return;
            report(done++);
            if (inKeptFolder(entry.path, keptFolders))
                continue; // a file a movie loads, which comes with its movie
            if (!entry.skipReason.isEmpty()) {
                problem(&ImportSummary::skipped, entry.path, entry.skipReason);
                continue;
            }
            if (const QString over = m_source->whyOverBound(entry); !over.isEmpty()) {
                problem(&ImportSummary::skipped, entry.path, over);
                continue;
            }
            // A folder's copy keeps the address of where it came from; an archive's entry has
            // none but its copy's.
            const QString local = m_source->localPath(entry);
            const bool keeps = keptFolders.contains(entry.path + kFilesSuffix);
            if (copy)
                copyMovie(entry, local.isEmpty() ? QString() : fileAddress(local),
                          keeps ? keptOfFolderEntry(entry)
                                : QList<std::pair<const SourceEntry*, QUrl>>());
            else
                takeInPlace(entry, keeps);
        }
        report(done);
    }

    /// "<movie>.files/" folders whose manifest and movie the source holds.
    QSet<QString> keptFoldersOfMovies() const
    {
        QSet<QString> folders;
        const QString manifest = QStringLiteral("manifest.json");
        for (const SourceEntry& entry : m_source->entries()) {
            if (!entry.path.endsWith(kFilesSuffix + manifest))
                continue;
            const QString folder = entry.path.left(entry.path.size() - manifest.size());
            if (m_source->find(folder.left(folder.size() - kFilesSuffix.size())))
                folders.insert(folder);
        }
        return folders;
    }

    /// Whether a path lies in one of the folders, at any depth.
    static bool inKeptFolder(const QString& path, const QSet<QString>& folders)
    {
        for (qsizetype slash = path.indexOf(u'/'); slash >= 0;
             slash = path.indexOf(u'/', slash + 1)) {
            if (folders.contains(path.left(slash + 1)))
                return true;
        }
        return false;
    }

    /// The files a movie of a folder or archive keeps beside it, by the manifest there.
    QList<std::pair<const SourceEntry*, QUrl>> keptOfFolderEntry(const SourceEntry& movie) const
    {
        QList<std::pair<const SourceEntry*, QUrl>> kept;
        const QString folder = movie.path + kFilesSuffix;
        const KeptManifest manifest = ManifestFromJson(
            m_source->readSmall(folder + QStringLiteral("manifest.json"), kMaxManifestBytes));
        for (const KeptFile& file : manifest.files) {
            if (const SourceEntry* entry = m_source->find(folder + file.path))
                kept.append({entry, QUrl(file.url)});
        }
        return kept;
    }

    /// A folder's movie where it lies; `keeps`: with a kept-files folder beside it.
    void takeInPlace(const SourceEntry& entry, bool keeps)
    {
        const Probe probe = probeEntry(*m_source, entry, nullptr);
        if (!settled(entry, probe))
            return;
        const QString file = m_source->localPath(entry);
        m_out.movies.append({fileAddress(file), file, probe.sha256,
                             keeps ? int(ReadManifest(KeptFolderOf(file)).files.size()) : 0});
    }

    /// Counts what a read found that is no new movie; true for a new movie.
    bool settled(const SourceEntry& entry, const Probe& probe)
    {
        if (!probe.error.isEmpty() && !(probe.movie && probe.whole)) {
            problem(&ImportSummary::unreadable, entry.path, probe.error);
            return false;
        }
        if (!probe.movie) {
            problem(&ImportSummary::skipped, entry.path, QLatin1String(kNotAMovie));
            return false;
        }
        if (const auto held = m_known.constFind(probe.sha256); held != m_known.cend()) {
            problem(&ImportSummary::same, entry.path,
                    QStringLiteral("the same as \u00ab%1\u00bb").arg(held.value()));
            return false;
        }
        m_known.insert(probe.sha256, QFileInfo(entry.path).fileName());
        return true;
    }

    /// Copies a movie into the category's folder, and the files kept with it into its
    /// kept-files folder; `address` empty: the copy's own file:// address.
    void copyMovie(const SourceEntry& entry, const QString& address,
                   const QList<std::pair<const SourceEntry*, QUrl>>& kept)
    {
        QString unsafe;
        if (PathBelowFolder(m_plan.targetFolder, QFileInfo(entry.path).fileName(), &unsafe)
                .isEmpty()) {
            problem(&ImportSummary::skipped, entry.path,
                    QStringLiteral("an unsafe name (%1)").arg(unsafe));
            return;
        }
        const QString target = freeNameIn(m_plan.targetFolder, QFileInfo(entry.path).fileName());
        // Never over a file that came meanwhile, never through a link.
        transfer::ReplacingWriter writer(QFile::encodeName(m_plan.targetFolder).toStdString(),
                                         QFileInfo(target).fileName().toUtf8().toStdString(),
                                         transfer::Placing::NeverOver);
        const Probe probe = probeEntry(*m_source, entry, &writer);
        if (!settled(entry, probe))
            return; // the writer removes its partial file
        std::string error;
        if (!writer.commit(&error)) {
            m_known.remove(probe.sha256);
            problem(&ImportSummary::unreadable, entry.path, QString::fromStdString(error));
            return;
        }
        const QString movieAddress = address.isEmpty() ? fileAddress(target) : address;
        m_out.movies.append({movieAddress, target, probe.sha256, keep(target, movieAddress, kept)});
    }

    /// Writes the kept files of a copied movie and their manifest; how many were kept.
    int keep(const QString& movieFile, const QString& movieAddress,
             const QList<std::pair<const SourceEntry*, QUrl>>& files)
    {
        if (files.isEmpty())
            return 0;
        const QString folder = KeptFolderOf(movieFile);
        KeptManifest manifest;
        manifest.movieUrl = movieAddress;
        for (const auto& [entry, url] : files) {
            if (m_stop.load() || manifest.files.size() >= kMaxKeptFiles)
                break;
            const std::optional<QString> place = KeptPathFor(url);
            if (!place || manifest.byPath(*place))
                continue;
            // Below the movie's folder, inside its own new kept-files folder.
            const QString below = QFileInfo(folder).fileName() + u'/' + *place;
            Sha256 hash;
            qint64 size = 0;
            if (const QString error =
                    CopyEntry(*m_source, *entry, QFileInfo(folder).path(), below,
                              kMaxKeptBytes - manifest.totalBytes(), &hash, &size);
                !error.isEmpty()) {
                problem(&ImportSummary::unreadable, entry->path, error);
                continue;
            }
            manifest.put({url.toString(QUrl::FullyEncoded), *place, size,
                          QByteArray::fromStdString(hash.hexResult()),
                          QDateTime::currentDateTimeUtc()});
        }
        if (manifest.files.isEmpty() || !WriteManifest(folder, manifest))
            return 0;
        return int(manifest.files.size());
    }

    /// The content entries, each with the address it had on the site: the first folder below
    /// "content/" is the host for a curation (`site` empty), else the path below it is a path
    /// on `site`.
    QList<std::pair<const SourceEntry*, QUrl>> contentAddresses(const QUrl& site,
                                                                const QUrl& movie) const
    {
        QList<std::pair<const SourceEntry*, QUrl>> files;
        for (const SourceEntry& entry : m_source->entries()) {
            if (!entry.path.startsWith(kContent) || !entry.skipReason.isEmpty())
                continue;
            const QString rest = entry.path.mid(kContent.size());
            QUrl address;
            if (site.isEmpty()) {
                // The archive serves every site over http; the movie's own site keeps the
                // scheme the movie was served with.
                address.setHost(rest.section(u'/', 0, 0));
                address.setScheme(address.host() == movie.host() ? movie.scheme()
                                                                 : QStringLiteral("http"));
                address.setPath(u'/' + rest.section(u'/', 1));
            } else {
                address.setScheme(site.scheme());
                address.setHost(site.host());
                address.setPort(site.port());
                address.setPath(u'/' + rest);
            }
            if (address.isValid() && !address.host().isEmpty())
                files.append({&entry, address});
        }
        return files;
    }

    /// A movie of a bundle or curation, copied with its site's files as kept files.
    void copyWithSite(const QString& moviePath, const QUrl& address, const QUrl& site)
    {
        const SourceEntry* movie = m_source->find(moviePath);
        if (!movie || !movie->skipReason.isEmpty()) {
            m_out.summary.error =
                where(moviePath) + QStringLiteral(": the movie it names is not in it");
            return;
        }
        QList<std::pair<const SourceEntry*, QUrl>> kept = contentAddresses(site, address);
        kept.removeIf([movie](const auto& file) { return file.first == movie; });
        copyMovie(*movie, address.toString(QUrl::FullyEncoded), kept);
    }

    /// A Ruffle bundle: "ruffle-bundle.toml" names the movie below "content/" by a file:///
    /// address; a bundle this program wrote also says the web address it came from.
    void importBundle()
    {
        const BundleDescription bundle = DescribeBundleOf(*m_source);
        if (bundle.moviePath.isEmpty()) {
            m_out.summary.error = where(kBundleInformation) + QStringLiteral(": ") + bundle.error;
            return;
        }
        if (bundle.source.isValid())
            copyWithSite(bundle.moviePath, bundle.source, bundle.source);
        else
            extractBundle(bundle.moviePath);
    }

    /// A bundle with no web address: its content goes to a folder of its own in the
    /// category's folder, where the movie finds its files by their relative paths.
    void extractBundle(const QString& moviePath)
    {
        const SourceEntry* movie = m_source->find(moviePath);
        if (!movie || !movie->skipReason.isEmpty()) {
            m_out.summary.error =
                where(moviePath) + QStringLiteral(": the movie it names is not in it");
            return;
        }
        // Known already: nothing is unpacked.
        const Probe probe = probeEntry(*m_source, *movie, nullptr);
        if (!settled(*movie, probe))
            return;
        QString why;
        const QString folder = MakeNewFolder(
            m_plan.targetFolder, QFileInfo(m_source->location()).completeBaseName(), &why);
        if (!folder.isEmpty())
            why = UnpackContent(
                *m_source, *movie, folder,
                [this](const SourceEntry& entry, const QString& reason, bool refused) {
                    problem(refused ? &ImportSummary::skipped : &ImportSummary::unreadable,
                            entry.path, reason);
                });
        if (!why.isEmpty()) {
            m_known.remove(probe.sha256);
            problem(&ImportSummary::unreadable, moviePath, why);
            return;
        }
        const QString target = QDir(folder).filePath(moviePath.mid(kContent.size()));
        m_out.movies.append({fileAddress(target), target, probe.sha256, 0});
    }

    /// A curation folder: "meta.yaml" names the movie by its Launch Command, an http address
    /// whose file lies at "content/<host>/<path>".
    void importCuration()
    {
        QByteArray meta = m_source->readSmall(QStringLiteral("meta.yaml"), kMaxDescriptionBytes);
        if (meta.isEmpty())
            meta = m_source->readSmall(QStringLiteral("meta.yml"), kMaxDescriptionBytes);
        const CurationDescription curation = DescribeCuration(meta);
        if (curation.moviePath.isEmpty()) {
            m_out.summary.error =
                where(QStringLiteral("meta.yaml")) + QStringLiteral(": ") + curation.error;
            return;
        }
        copyWithSite(curation.moviePath, curation.address, QUrl());
    }

    const ImportPlan& m_plan;
    const std::atomic<bool>& m_stop;
    const ImportProgress& m_progress;
    QHash<QByteArray, QString> m_known; ///< content → the name it is held under
    std::unique_ptr<ImportSource> m_source;
    ImportFindings m_out;
};

QHash<QByteArray, QString> contentsHeld(const Catalogue& catalogue)
{
    QHash<QByteArray, QString> held;
    catalogue.items().forEachInMemory([&](int, const ItemRecord& item) {
        if (!item.extras.sha256.isEmpty())
            held.insert(item.extras.sha256, ItemShownFileName(item));
    });
    return held;
}

QString categoryName(const QString& category)
{
    return category.trimmed().isEmpty() ? QString::fromLatin1(builtin::Downloaded)
                                        : category.trimmed();
}

ItemRecord importedItem(const FoundMovie& movie, const CategoryRecord& category)
{
    ItemRecord record = EmptyItemRecord();
    record.State = static_cast<char>(ItemState::Downloaded);
    SetFieldText(record.Url, movie.address);
    SetFieldBytes(record.Category, FieldBytes(category.Name));
    SetFieldBytes(record.Folder, FieldBytes(category.Folder));
    const QString folder = QDir::cleanPath(FieldText(category.Folder));
    const QFileInfo file(movie.file);
    SetFieldText(record.FileName,
                 file.absolutePath() == folder ? file.fileName() : file.absoluteFilePath());
    record.extras.sha256 = movie.sha256;
    record.extras.keptFiles = movie.keptFiles;
    // A movie of this machine has no site to fetch its files from.
    if (IsLocalAddress(movie.address))
        record.extras.keepFiles = false;
    return record;
}

} // namespace

bool PlanImport(const Catalogue& catalogue, const ImportRequest& request, ImportPlan& plan,
                QString* error)
{
    const int category = catalogue.FindCategory(categoryName(request.category));
    if (category < 0) {
        *error = QStringLiteral("no category named \"%1\" (clipvault-cli catalogue category add "
                                "\"%1\" makes one)")
                     .arg(categoryName(request.category));
        return false;
    }
    plan.request = request;
    plan.request.source = QFileInfo(request.source).absoluteFilePath();
    plan.targetFolder = FieldText(catalogue.category(category).Folder);
    plan.knownSha256 = contentsHeld(catalogue);
    return true;
}

ImportFindings FindMoviesToImport(const ImportPlan& plan, const std::atomic<bool>& stop,
                                  const ImportProgress& progress)
{
    return Importer(plan, stop, progress).run();
}

ImportSummary FileFoundMovies(Catalogue& catalogue, const QString& category,
                              ImportFindings findings)
{
    ImportSummary summary = std::move(findings.summary);
    const int categoryIndex = catalogue.FindCategory(categoryName(category));
    if (categoryIndex < 0) {
        // Removed while the files were read: the copies stay where they were put.
        summary.error = QStringLiteral("no category named \"%1\"").arg(categoryName(category));
        return summary;
    }
    const CategoryRecord categoryRecord = catalogue.category(categoryIndex);
    QHash<QByteArray, QString> held = contentsHeld(catalogue);
    const auto file = [&] {
        for (const FoundMovie& movie : findings.movies) {
            if (catalogue.FindItemByUrl(movie.address) >= 0 || held.contains(movie.sha256)) {
                ++summary.same;
                continue;
            }
            if (catalogue.AppendItem(importedItem(movie, categoryRecord)) >= 0) {
                held.insert(movie.sha256, QFileInfo(movie.file).fileName());
                ++summary.added;
            }
        }
    };
    if (findings.movies.size() > kFiledOneByOne)
        catalogue.changeInBulk(Catalogue::List::Items, file);
    else
        file();
    return summary;
}
