#include "vault.h"

#include "datafolder.h"
#include "options.h"

#include <QStringList>

Vault::Vault(const QString& dataFolder, const OptionsRecord& options, UserPrompt& prompt,
             QObject* parent)
    : QObject(parent)
    , m_dataFolder(dataFolder)
    , m_options(options)
    , m_prompt(prompt)
    , m_catalogue(prompt, m_options)
    , m_store(dataFolder)
    , m_saver(m_catalogue, m_store)
    , m_downloads(m_catalogue, m_options, prompt)
    , m_imports(m_catalogue)
{
    // The items another program's change took away are no longer the catalogue's own.
    connect(&m_saver, &CatalogueSaver::keptAside, &m_catalogue, &Catalogue::dropUnreadableItems);
}

Vault::~Vault() = default;

void Vault::setOptions(const OptionsRecord& options)
{
    m_options = options;
    emit optionsChanged();
}

void Vault::applySettings()
{
    m_downloads.setKeepFilesByDefault(m_settings.keepFiles);
    m_downloads.setArchive(archiveAccess());
}

ArchiveAccess Vault::archiveAccess() const
{
    // The archive's address as the file says now; the switch as the vault holds it.
    VaultSettings now = LoadVaultSettings(m_dataFolder);
    now.lookInArchive = m_settings.lookInArchive;
    return ArchiveAccessOf(now);
}

void Vault::open()
{
    LoadOptionsFile();
    LoadCatalogue();
    // From now on every change reaches the disk within a moment, not only at the end: a crash,
    // a kill or the display server going away loses at most that moment.
    m_saver.start();
}

void Vault::LoadOptionsFile()
{
    m_settings = LoadVaultSettings(m_dataFolder);
    applySettings();
    const QString path = OptionsFilePath(m_dataFolder);
    switch (LoadOptions(path, m_options)) {
    case OptionsLoad::Short:
        m_optionsNotice =
            QStringLiteral("\"%1\" was shorter than expected; the options it lacked are off.")
                .arg(path);
        break;
    case OptionsLoad::Failed:
        m_optionsNotice =
            QStringLiteral("\"%1\" could not be read; the default options are used.").arg(path);
        break;
    case OptionsLoad::Loaded:
    case OptionsLoad::Missing:
        m_optionsNotice.clear();
        break;
    }
    // Whatever was built before the options were read follows them, once they are all in.
    emit optionsChanged();
}

bool Vault::applyOptions(const OptionsRecord& options, const VaultSettings& settings,
                         QString* error)
{
    m_options = options;
    m_settings = settings;
    applySettings();
    emit optionsChanged();
    return SaveOptionsFile(error);
}

bool Vault::SaveOptionsFile(QString* error)
{
    return SaveOptions(OptionsFilePath(m_dataFolder), m_options, error) &&
           (LoadVaultSettings(m_dataFolder) == m_settings ||
            SaveVaultSettings(m_dataFolder, m_settings, error));
}

void Vault::LoadCatalogue()
{
    m_store.LoadItems(m_catalogue);
    m_store.LoadCategories(m_catalogue);
    m_loaded = true;
}

bool Vault::saveCatalogue(QString* error)
{
    if (!m_loaded)
        return true;
    // The store takes one save at a time: one under way in the background ends first.
    m_saver.finish();
    if (!m_store.SaveItems(m_catalogue, error) || !m_store.SaveCategories(m_catalogue, error))
        return false;
    m_saver.markSaved();
    m_saver.tellKeptAside();
    return true;
}

QString Vault::startupNotice() const
{
    QStringList notices;
    if (!m_optionsNotice.isEmpty())
        notices << m_optionsNotice;
    if (const QString logs = m_store.unreadableNotice(); !logs.isEmpty())
        notices << logs;
    return notices.join(u'\n');
}
