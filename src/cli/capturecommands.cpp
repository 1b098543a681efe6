#include "commandline.h"
#include "commands.h"
#include "loadedcatalogue.h"
#include "terminalprogress.h"

#include "catalogue.h"
#include "datafolder.h"
#include "filekeeper.h"
#include "filetransfer.h"
#include "keptfiles.h"
#include "movieexport.h"
#include "partialfiles.h"
#include "picturecache.h"
#include "regularfile.h"
#include "webarchive.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSet>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTextStream>

#include <fcntl.h>
#include <functional>
#include <memory>
#include <optional>
#include <unistd.h>

namespace cli {

namespace {

constexpr int kDefaultSeconds = 10;

/// Where a capture puts the movie and its files, and the catalogue item it fills, if any.
struct CaptureTarget
{
    QString movieFile;
    QString root; ///< the kept layout's top
    std::optional<DataFolderLock> lock;
    std::optional<LoadedCatalogue> loaded;
};

/// Files the item for the capture in the catalogue, or finds its place under --into.
bool prepareTarget(CaptureTarget& target, const CommandLine& line, const QUrl& address,
                   QTextStream& err)
{
    if (!line.into.isEmpty()) {
        target.root = QDir(line.into).absolutePath();
        target.movieFile = QDir(target.root).filePath(*KeptPathFor(address));
        return true;
    }
    const QString dataFolder = DataFolderOf(line);
    target.lock.emplace(dataFolder);
    if (!TakeForChange(*target.lock, dataFolder, err))
        return false;
    target.loaded.emplace(dataFolder, err);
    Catalogue& catalogue = target.loaded->catalogue();
    const QString url = address.toString();
    if (catalogue.FindItemByUrl(url) >= 0 && !line.replace) {
        err << "clipvault-cli: " << url << " is in the catalogue already (--replace replaces it)"
            << Qt::endl;
        return false;
    }
    target.loaded->prompt().setAnswer(true);
    const int index = catalogue.AddItemFromUrl(url, line.category);
    if (index < 0) {
        err << "clipvault-cli: " << url << " was not added (is there a category \"" << line.category
            << "\"?)" << Qt::endl;
        return false;
    }
    target.movieFile = ItemFilePath(catalogue.item(index));
    target.root = KeptFolderOf(target.movieFile);
    return true;
}

/// Downloads the movie as the program does into `file` below `root`, never through a link
/// planted below it; an error message, empty on success.
QString downloadMovie(const QUrl& address, const QString& root, const QString& file,
                      QTextStream& err)
{
    transfer::Request request = WebRequest(address.toString(QUrl::FullyEncoded), file);
    if (file.startsWith(root + u'/'))
        request.folder = QFile::encodeName(root).toStdString();
    request.flashMovieOnly = true;
    request.useCache = true;
    return QString::fromStdString(TransferShowingProgress(request, err).error);
}

/// Keeps the files the movie's code names, and theirs, as a download of the program does.
/// While it lives, a terminating signal first runs `beforeEnd` on this thread, then ends the
/// tool by that signal with its partial files removed (a second signal ends it at once).
class GracefulEnd final
{
public:
    explicit GracefulEnd(std::function<void()> beforeEnd)
        : m_beforeEnd(std::move(beforeEnd))
    {
        if (::pipe2(m_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
            return;
        m_notifier = std::make_unique<QSocketNotifier>(m_pipe[0], QSocketNotifier::Read);
        QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] { endIfAsked(); });
        transfer::DeferTerminationTo(m_pipe[1]);
    }
    ~GracefulEnd()
    {
        transfer::DeferTerminationTo(-1);
        endIfAsked(); // a signal that came while no event loop ran
        m_notifier.reset();
        for (const int fd : m_pipe) {
            if (fd >= 0)
                ::close(fd);
        }
    }
    GracefulEnd(const GracefulEnd&) = delete;
    GracefulEnd& operator=(const GracefulEnd&) = delete;

private:
    void endIfAsked()
    {
        unsigned char signal = 0;
        if (m_pipe[0] < 0 || ::read(m_pipe[0], &signal, 1) != 1)
            return;
        m_beforeEnd();
        transfer::EndByTerminationSignal(signal);
    }

    std::function<void()> m_beforeEnd;
    int m_pipe[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> m_notifier;
};

void keepNamedFiles(FileKeeper& keeper, const QString& movieFile, const QUrl& address,
                    QTextStream& err)
{
    TerminalProgress progress(err);
    QObject::connect(&keeper, &FileKeeper::fileKept, [&](const KeptFile& file) {
        progress.show(QStringLiteral("kept: ") + file.url);
    });
    QEventLoop loop;
    QObject::connect(&keeper, &FileKeeper::idle, &loop, &QEventLoop::quit);
    keeper.keepNamedFiles(movieFile, address);
    if (!keeper.isIdle())
        loop.exec();
}

/// Plays the movie in the program, without a window, which keeps what it loads. The
/// command-line tool itself has no web engine.
void playToKeep(const QString& movieFile, const QUrl& address, int seconds, QTextStream& err)
{
    const QString program = QDir(ProgramFolder()).filePath(QLatin1String(kProgramExecutableName));
    if (!QFileInfo(program).isExecutable()) {
        err << "clipvault-cli: " << program
            << " is not there to play the movie: only the files named in its code are kept"
            << Qt::endl;
        return;
    }
    QProcess player;
    player.start(program,
                 {QStringLiteral("--capture"), movieFile, QStringLiteral("--origin"),
                  address.toString(), QStringLiteral("--seconds"), QString::number(seconds)});
    TerminalProgress progress(err);
    progress.show(QStringLiteral("playing for up to %1 s").arg(seconds), true);
    // The program ends itself; a minute more is for its web engine to start and stop.
    const bool ended = player.waitForFinished((seconds + 60) * 1000);
    progress.clear();
    // The program's own messages are passed on; its web engine's notices are not the user's.
    for (const QByteArray& message : player.readAllStandardError().split('\n')) {
        if (message.startsWith("clipvault:"))
            err << message << Qt::endl;
    }
    if (!ended) {
        player.kill();
        player.waitForFinished();
        err << "clipvault-cli: the player did not end in time; what it kept stays" << Qt::endl;
    } else if (player.exitStatus() != QProcess::NormalExit || player.exitCode() != 0) {
        err << "clipvault-cli: the movie did not play; the files named in its code are kept"
            << Qt::endl;
    }
}

QJsonObject keptFileObject(const QString& url, const QString& path, qint64 size,
                           const QByteArray& sha256)
{
    return QJsonObject{{QStringLiteral("url"), url},
                       {QStringLiteral("path"), path},
                       {QStringLiteral("size"), size},
                       {QStringLiteral("sha256"), QString::fromLatin1(sha256)}};
}

/// Each kept file of this capture, as a line, or as one JSON array with the movie first.
void printKept(const KeptManifest& manifest, const QSet<QString>& urls, const CaptureTarget& target,
               const QUrl& address, const CommandLine& line, QTextStream& out)
{
    const QString movieUrl = address.toString(QUrl::FullyEncoded);
    QJsonArray files;
    if (line.json)
        files << keptFileObject(movieUrl, target.movieFile, QFileInfo(target.movieFile).size(),
                                FileSha256(target.movieFile));
    for (const KeptFile& file : manifest.files) {
        if (!urls.contains(file.url))
            continue;
        const QString path = QDir(target.root).filePath(file.path);
        if (!line.json)
            out << file.url << '\t' << path << '\t' << file.size << '\n';
        else if (file.url != movieUrl)
            files << keptFileObject(file.url, path, file.size, file.sha256);
    }
    if (line.json)
        out << QJsonDocument(files).toJson(QJsonDocument::Compact) << '\n';
    out.flush();
}

} // namespace

int RunCapture(const CommandLine& line, QTextStream& out, QTextStream& err)
{
    bool secondsOk = true;
    const int seconds = line.seconds.isEmpty() ? kDefaultSeconds : line.seconds.toInt(&secondsOk);
    if (line.words.size() != 2 || !secondsOk || seconds < 0 || seconds > 3600)
        return UsageError(line, err);
    const QUrl address = QUrl::fromUserInput(line.words[1]);
    if (!address.isValid() || !KeptPathFor(address)) {
        err << "clipvault-cli: " << line.words[1] << " is no web address of a movie file"
            << Qt::endl;
        return kFailed;
    }
    CaptureTarget target;
    if (!prepareTarget(target, line, address, err))
        return kFailed;

    const QString failure = downloadMovie(
        address, line.into.isEmpty() ? QFileInfo(target.movieFile).path() : target.root,
        target.movieFile, err);
    std::optional<int> index;
    if (target.loaded)
        index = target.loaded->catalogue().FindItemByUrl(address.toString());
    if (!failure.isEmpty()) {
        err << "clipvault-cli: " << address.toString() << ": " << failure << Qt::endl;
        if (index) {
            target.loaded->catalogue().SetItemState(*index, ItemState::Failed);
            SaveItems(*target.loaded, err);
        }
        return kFailed;
    }
    // What this capture kept: the files its movie names, those found kept already included,
    // and those the playing added (a layout may hold other movies' files too).
    QSet<QString> mine;
    {
        FileKeeper keeper(target.root, address);
        keeper.setFollowNamedFiles(true);
        if (!line.noArchive)
            keeper.setArchive(ArchiveAccessOf(DataFolderOf(line)));
        if (!target.loaded)
            keeper.noteKept(address); // the movie is part of the layout under --into
        // Ctrl-C while files come in keeps those that finished, listed in the manifest.
        const GracefulEnd listed([&] { keeper.writeManifest(); });
        keepNamedFiles(keeper, target.movieFile, address, err);
        mine = keeper.keptUrls();
        keeper.writeManifest();
        if (!keeper.manifestError().isEmpty()) {
            err << "clipvault-cli: " << keeper.manifestError() << Qt::endl;
            return kFailed;
        }
    }
    if (seconds > 0) {
        const KeptManifest before = ReadManifest(target.root);
        playToKeep(target.movieFile, address, seconds, err);
        for (const KeptFile& file : ReadManifest(target.root).files) {
            const KeptFile* earlier = before.byUrl(file.url);
            if (!earlier || earlier->keptAt != file.keptAt)
                mine.insert(file.url);
        }
    }
    const KeptManifest manifest = ReadManifest(target.root);
    printKept(manifest, mine, target, address, line, out);
    if (!index)
        return kOk;
    Catalogue& catalogue = target.loaded->catalogue();
    ItemRecord item = catalogue.item(*index);
    item.State = static_cast<char>(ItemState::Downloaded);
    item.extras.sha256 = FileSha256(target.movieFile);
    item.extras.keptFiles = static_cast<int>(manifest.files.size());
    catalogue.updateItem(*index, item);
    return SaveItems(*target.loaded, err);
}

namespace {

/// The movie's picture: the program's, when it drew one; else drawn now by its helper (and
/// kept for the program when the item knows its content).
QByteArray pictureOf(const QString& movieFile, const QByteArray& sha256, QTextStream& err)
{
    if (const QByteArray kept = CachedPicture(sha256); !kept.isEmpty())
        return kept;
    QTemporaryDir scratch;
    const QString out = IsSha256Hex(sha256) && QDir().mkpath(PicturesFolder())
                            ? PicturePath(sha256)
                            : QDir(scratch.path()).filePath(QStringLiteral("picture.png"));
    QString error;
    if (!DrawPicture(movieFile, out, &error)) {
        err << "clipvault-cli: " << movieFile << ": no picture: " << error << Qt::endl;
        return {};
    }
    return ReadRegularFile(out, qint64(4) << 20).value_or(QByteArray());
}

} // namespace

int RunExport(const CommandLine& line, QTextStream& out, QTextStream& err)
{
    const bool bundle = !line.ruffleBundle.isEmpty();
    if (line.words.size() != 2 || bundle == !line.curation.isEmpty())
        return UsageError(line, err);
    LoadedCatalogue loaded(DataFolderOf(line), err);
    const int index = loaded.catalogue().FindItemByUrl(line.words[1]);
    const std::optional<ItemRecord> found =
        index < 0 ? std::nullopt : std::optional(loaded.catalogue().item(index));
    const ItemRecord* item = found ? &*found : nullptr;
    if (!item || item->state() != ItemState::Downloaded ||
        !QFileInfo(ItemFilePath(*item)).isFile()) {
        err << "clipvault-cli: " << line.words[1] << " is no downloaded item of the catalogue"
            << Qt::endl;
        return kFailed;
    }
    ExportSource source;
    source.movieUrl = FieldText(item->Url);
    source.movieFile = ItemFilePath(*item);
    source.keptRoot = KeptRootFor(source.movieFile);
    source.title = QFileInfo(source.movieFile).completeBaseName();
    source.category = FieldText(item->Category);
    const ExportResult result =
        bundle ? ExportRuffleBundle(source, QFileInfo(line.ruffleBundle).absoluteFilePath())
               : ExportCuration(source, QDir(line.curation).absolutePath(),
                                pictureOf(source.movieFile, item->extras.sha256, err));
    if (!result.ok()) {
        err << "clipvault-cli: " << result.error << Qt::endl;
        return kFailed;
    }
    for (const QString& note : result.notes)
        err << "clipvault-cli: " << note << Qt::endl;
    out << (bundle ? QFileInfo(line.ruffleBundle).absoluteFilePath()
                   : QDir(line.curation).absolutePath())
        << Qt::endl;
    return kOk;
}

} // namespace cli
