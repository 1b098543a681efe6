#include "commandline.h"
#include "commands.h"
#include "exitcodes.h"
#include "loadedcatalogue.h"
#include "terminalprogress.h"

#include "datafolder.h"
#include "movieimport.h"
#include "privatefolder.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QTextStream>

#include <atomic>

namespace cli {

namespace {

/// The running program answers a blank line at least this often while it reads the files.
constexpr int kProgramSilentMs = 60 * 1000;
/// A summary lists at most a thousand problems, each a path and its reason.
constexpr qsizetype kMostSummaryBytes = qsizetype(16) << 20;

int printSummary(const ImportSummary& summary, const CommandLine& line, QTextStream& out,
                 QTextStream& err)
{
    if (line.json)
        out << QJsonDocument(summary.toJson()).toJson(QJsonDocument::Compact) << '\n';
    if (!summary.ok()) {
        err << "clipvault-cli: " << summary.error << Qt::endl;
        return kFailed;
    }
    if (!line.json)
        out << summary.text() << '\n';
    return kOk;
}

/// Imports here, the data folder held from the load of the catalogue to its save.
int importHere(const ImportRequest& request, const CommandLine& line, QTextStream& out,
               QTextStream& err)
{
    const QString dataFolder = DataFolderOf(line);
    DataFolderLock lock(dataFolder);
    if (!TakeForChange(lock, dataFolder, err))
        return kFailed;
    LoadedCatalogue loaded(dataFolder, err);
    ImportPlan plan;
    QString error;
    if (!PlanImport(loaded.catalogue(), request, plan, &error)) {
        err << "clipvault-cli: " << error << Qt::endl;
        return kFailed;
    }
    TerminalProgress progress(err);
    const std::atomic<bool> never{false};
    ImportFindings findings = FindMoviesToImport(plan, never, [&](int done, int total) {
        if (progress.shows())
            progress.show(QStringLiteral("looked at %1 of %2 files").arg(done).arg(total));
    });
    progress.clear();
    const ImportSummary summary =
        FileFoundMovies(loaded.catalogue(), request.category, std::move(findings));
    if (summary.added > 0) {
        if (const int saved = SaveItems(loaded, err); saved != kOk)
            return saved;
    }
    return printSummary(summary, line, out, err);
}

} // namespace

int RunImport(const CommandLine& line, QTextStream& out, QTextStream& err)
{
    if (line.words.size() != 2)
        return UsageError(line, err);
    ImportRequest request;
    request.source = QFileInfo(line.words[1]).absoluteFilePath();
    request.category = line.category;
    request.copy = line.copy;
    if (!QFileInfo::exists(request.source)) {
        err << "clipvault-cli: " << line.words[1] << ": there is no such file or folder"
            << Qt::endl;
        return kFailed;
    }
    // While the program runs it imports, as it takes a movie to play: the catalogue is its.
    const std::optional<QByteArray> reply = AskRunningProgram(
        DataFolderOf(line), QByteArray(kImportRequest) + ImportRequestToJson(request) + '\n',
        kProgramSilentMs, true, kMostSummaryBytes);
    if (!reply)
        return importHere(request, line, out, err);
    const QJsonDocument answer = QJsonDocument::fromJson(reply->trimmed());
    if (!answer.isObject()) {
        err << "clipvault-cli: Clip Vault took the import but gave no summary" << Qt::endl;
        return kFailed;
    }
    const int printed = printSummary(ImportSummary::fromJson(answer.object()), line, out, err);
    if (const QString why = answer.object().value(QStringLiteral("notSaved")).toString();
        !why.isEmpty()) {
        err << "clipvault-cli: Clip Vault imported the movies but could not save its catalogue: "
            << why << Qt::endl;
        return kFailed;
    }
    return printed;
}

} // namespace cli
