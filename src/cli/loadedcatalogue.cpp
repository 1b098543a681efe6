#include "loadedcatalogue.h"

#include "commandline.h"
#include "datafolder.h"

#include <QDir>
#include <QTemporaryFile>

namespace cli {

namespace {

/// How long a change waits for another change of the same folder to end.
constexpr int kBusyWaitMs = 3000;

OptionsRecord quietOptions()
{
    OptionsRecord options = DefaultOptions();
    options.NotifyTaskAdded = 0;
    return options;
}

/// Why nothing can be written in `folder` (it cannot be made, or a file cannot be created in
/// it); empty when a file can be.
QString unwritableFolderProblem(const QString& folder)
{
    if (!QDir().mkpath(folder))
        return QStringLiteral("it cannot be created");
    QTemporaryFile probe(QDir(folder).filePath(QStringLiteral(".clipvault-probe-XXXXXX")));
    return probe.open() ? QString() : probe.errorString();
}

} // namespace

LoadedCatalogue::LoadedCatalogue(const QString& dataFolder, QTextStream& err)
    : m_prompt(err)
    , m_vault(dataFolder, quietOptions(), m_prompt)
{
    m_vault.LoadCatalogue();
    if (const QString notice = m_vault.startupNotice(); !notice.isEmpty())
        err << "clipvault-cli: " << notice << Qt::endl;
}

bool TakeForChange(DataFolderLock& lock, const QString& dataFolder, QTextStream& err)
{
    if (QDir().mkpath(dataFolder) && lock.acquire(kBusyWaitMs))
        return true;
    if (const QString problem = unwritableFolderProblem(dataFolder); !problem.isEmpty())
        err << "clipvault-cli: the data folder " << dataFolder << " cannot be written: " << problem
            << Qt::endl;
    else if (lock.holder() == DataFolderLock::Holder::Program)
        err << "clipvault-cli: Clip Vault is running on " << dataFolder
            << "; close it first, or it will overwrite the change" << Qt::endl;
    else
        err << "clipvault-cli: the data folder " << dataFolder
            << " is busy: another change is being made; try again" << Qt::endl;
    return false;
}

namespace {

/// A save that went beside a log another program changed kept the change, but not where the
/// catalogue is read from: the command did not do what it was asked.
int reportSave(bool saved, const QString& error, const QString& keptNotice, QTextStream& err)
{
    if (saved && keptNotice.isEmpty())
        return kOk;
    err << "clipvault-cli: " << (saved ? keptNotice : error) << Qt::endl;
    return kFailed;
}

} // namespace

int SaveItems(LoadedCatalogue& loaded, QTextStream& err)
{
    QString error;
    const bool saved = loaded.store().SaveItems(loaded.catalogue(), &error);
    return reportSave(saved, error, loaded.store().takeKeptNotice(), err);
}

int SaveCategories(LoadedCatalogue& loaded, QTextStream& err)
{
    QString error;
    const bool saved = loaded.store().SaveCategories(loaded.catalogue(), &error);
    return reportSave(saved, error, loaded.store().takeKeptNotice(), err);
}

} // namespace cli
