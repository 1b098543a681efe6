#include "commandline.h"
#include "commands.h"
#include "plaindownload.h"
#include "terminalprogress.h"

#include "atomicwrite.h"
#include "datafolder.h"
#include "filetransfer.h"
#include "moviefacts.h"
#include "picturemaker.h"
#include "swfcontents.h"
#include "swfcheck.h"
#include "swfinfo.h"
#include "webarchive.h"

#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

namespace cli {

namespace {

/// The web archive as the data folder names it, its waits said on stderr.
struct ArchiveSession
{
    ArchiveSession(const CommandLine& line, QTextStream& err)
        : where(WebArchiveOf(LoadVaultSettings(DataFolderOf(line))))
        , pace(where.paceMs)
        , archive(where.address, pace, never, [&err](const QString& what) {
            err << "clipvault-cli: web archive: " << what << Qt::endl;
        })
    {
    }
    std::atomic<bool> never{false};
    ArchiveAccess where;
    ArchivePace pace;
    WebArchive archive;
};

/// A movie whose address is gone, from the web archive into `file`; says how on `err`.
qint64 saveArchivedCopy(const CommandLine& line, const QString& url, const QString& file,
                        const QString& reason, QTextStream& err)
{
    ArchiveSession session(line, err);
    QString error;
    const std::optional<ArchivedCopy> copy = session.archive.newestMovie(url, &error);
    QString written;
    if (copy && WriteFileAtomically(file, {copy->body}, &written)) {
        err << "clipvault-cli: " << url << ": " << reason
            << "; saved from the web archive's copy of " << CaptureDateText(copy->timestamp) << " ("
            << copy->captureUrl << ")" << Qt::endl;
        return copy->body.size();
    }
    err << "clipvault-cli: " << url << ": " << reason << ", and "
        << (!written.isEmpty() ? written
            : error.isEmpty()  ? QStringLiteral("the web archive has no copy")
                               : error)
        << Qt::endl;
    return -1;
}

/// The facts inside a movie as lines of text, a line for each entry of a list.
void printContents(const SwfContents& inside, QTextStream& out)
{
    out << "ActionScript " << inside.actionScript
        << (inside.actionScript == 3 ? " (AVM2)\n" : " (AVM1)\n") << "network access "
        << (inside.useNetwork ? "yes" : "no") << '\n';
    if (!inside.title.isEmpty())
        out << "title " << inside.title << '\n';
    if (!inside.description.isEmpty())
        out << "description " << inside.description << '\n';
    const auto list = [&out](const char* name, const QStringList& entries) {
        for (const QString& entry : entries)
            out << name << ' ' << QString(entry).replace(u'\n', u' ') << '\n';
    };
    list("frame label", inside.frameLabels);
    list("symbol", inside.symbols);
    list("text", inside.texts);
    list("names file", inside.addresses);
}

} // namespace

int RunDownload(const CommandLine& line, QTextStream& out, QTextStream& err)
{
    if (line.words.size() != 3) {
        return UsageError(line, err);
    }
    const QString& url = line.words[1];
    const QString file = QFileInfo(line.words[2]).absoluteFilePath();
    if (QFileInfo(file).isDir()) {
        err << "clipvault-cli: " << file << " is a folder, not a file to save into" << Qt::endl;
        return kFailed;
    }
    const transfer::Request request = MovieRequest(TransferUrl(url).toStdString(),
                                                   QFile::encodeName(file).toStdString(), line.any);
    // The launcher found the address gone already: it is not asked again.
    transfer::Outcome outcome;
    outcome.error = line.goneAlready.toStdString();
    outcome.addressGone = true;
    if (line.goneAlready.isEmpty())
        outcome = TransferShowingProgress(request, err);
    const QString error = QString::fromStdString(outcome.error);
    qint64 size = outcome.succeeded ? outcome.size : -1;
    if (size < 0 && outcome.addressGone && !line.noArchive &&
        LoadVaultSettings(DataFolderOf(line)).lookInArchive)
        size = saveArchivedCopy(line, url, file, error, err);
    else if (size < 0)
        err << "clipvault-cli: " << url << ": " << error << Qt::endl;
    if (size < 0)
        return kFailed;
    out << size << Qt::endl;
    return kOk;
}

int RunSwfInfo(const CommandLine& line, QTextStream& out, QTextStream& err)
{
    if (line.words.size() != 2) {
        return UsageError(line, err);
    }
    QString error;
    std::optional<SwfInfo> info = ReadSwfInfoFromFile(line.words[1], &error);
    // A sound header over a body whose tags do not hold together is no movie a player reads.
    if (info && !(error = WhyNotASoundMovieFile(line.words[1])).isEmpty())
        info.reset();
    if (!info) {
        err << "clipvault-cli: " << line.words[1] << ": " << error << Qt::endl;
        return kFailed;
    }
    if (const QString warning = SwfLengthWarning(*info); !warning.isEmpty())
        err << "clipvault-cli: warning: " << line.words[1] << ": " << warning << Qt::endl;
    // What is inside comes after the header's facts; a movie too damaged to unpack has none.
    QString unread;
    const SwfContents inside =
        ReadSwfContentsOfFile(line.words[1], &unread).value_or(SwfContents());
    if (!unread.isEmpty())
        err << "clipvault-cli: warning: " << line.words[1]
            << ": its contents cannot be read: " << unread << Qt::endl;
    if (line.json) {
        QJsonObject object{
            {QStringLiteral("signature"), info->signature},
            {QStringLiteral("version"), info->version},
            {QStringLiteral("width"), info->width},
            {QStringLiteral("height"), info->height},
            {QStringLiteral("frameRate"), info->frameRate},
            {QStringLiteral("frameCount"), info->frameCount},
            {QStringLiteral("fileSize"), info->fileSize},
            {QStringLiteral("declaredLength"), static_cast<qint64>(info->declaredLength)}};
        const QJsonObject facts = SwfContentsJson(inside);
        // The header's own reading of the file stands; a movie too damaged to unpack has none
        // of the rest.
        for (auto it = facts.begin(); it != facts.end(); ++it) {
            if (!object.contains(it.key()))
                object.insert(it.key(), it.value());
        }
        out << QJsonDocument(object).toJson(QJsonDocument::Compact) << Qt::endl;
        return kOk;
    }
    const QString compression = info->signature == u"CWS"   ? QStringLiteral("zlib")
                                : info->signature == u"ZWS" ? QStringLiteral("LZMA")
                                                            : QStringLiteral("none");
    out << "signature " << info->signature << " (compression: " << compression << ")\n"
        << "version " << info->version << '\n'
        << "size " << info->width << " x " << info->height << " pixels\n"
        << "frame rate " << info->frameRate << " per second\n"
        << "frames " << info->frameCount << '\n'
        << "file size " << info->fileSize << " bytes\n"
        << "length " << info->declaredLength << " bytes, as its header announces\n";
    printContents(inside, out);
    return kOk;
}

int RunArchive(const CommandLine& line, QTextStream& out, QTextStream& err)
{
    if (line.words.size() != 3 || line.words[1] != u"list")
        return UsageError(line, err);
    ArchiveSession session(line, err);
    TerminalProgress progress(err);
    QString error;
    QString cutShort;
    const std::optional<QList<ArchiveCapture>> movies = session.archive.moviesUnder(
        line.words[2],
        [&](int found) { progress.show(QStringLiteral("movies found: %1").arg(found), true); },
        &error, &cutShort);
    progress.clear();
    if (!movies) {
        err << "clipvault-cli: " << line.words[2] << ": " << error << Qt::endl;
        return kFailed;
    }
    if (!cutShort.isEmpty())
        err << "clipvault-cli: " << line.words[2] << ": " << cutShort << Qt::endl;
    QJsonArray found;
    for (const ArchiveCapture& movie : *movies) {
        if (line.json)
            found << QJsonObject{{QStringLiteral("url"), movie.original},
                                 {QStringLiteral("timestamp"), movie.timestamp},
                                 {QStringLiteral("length"), movie.length}};
        else
            out << movie.original << '\t' << movie.timestamp << '\t' << movie.length << '\n';
    }
    if (line.json)
        out << QJsonDocument(found).toJson(QJsonDocument::Compact) << '\n';
    return kOk;
}

} // namespace cli

namespace cli {

bool DrawPicture(const QString& movie, const QString& out, QString* error)
{
    // The program draws it, in its helper mode: the command-line tool itself has no web engine.
    PictureMaker maker(QDir(ProgramFolder()).filePath(QLatin1String(kProgramExecutableName)));
    QEventLoop loop;
    bool drawn = false;
    QObject::connect(&maker, &PictureMaker::made, &loop,
                     [&](const QString&, bool ok, const QString& reason) {
                         drawn = ok;
                         *error = reason;
                         loop.quit();
                     });
    maker.make(movie, out);
    loop.exec();
    return drawn;
}

int RunPicture(const CommandLine& line, QTextStream& out, QTextStream& err)
{
    if (line.words.size() != 3)
        return UsageError(line, err);
    const QString movie = QFileInfo(line.words[1]).absoluteFilePath();
    const QString picture = QFileInfo(line.words[2]).absoluteFilePath();
    QString error;
    if (!ReadSwfInfoFromFile(movie, &error) || !DrawPicture(movie, picture, &error)) {
        err << "clipvault-cli: " << line.words[1] << ": no picture: " << error << Qt::endl;
        return kFailed;
    }
    out << picture << '\n';
    return kOk;
}

} // namespace cli
