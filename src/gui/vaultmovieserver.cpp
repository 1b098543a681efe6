#include "vaultmovieserver.h"

#include "movieserver.h"
#include "playerfiles.h"
#include "urlresolve.h"
#include "vault.h"

#include <QFileInfo>

VaultMovieServer::VaultMovieServer(Vault& vault, QObject* parent)
    : QObject(parent)
    , m_vault(vault)
    , m_server(new MovieServer(PlayerFiles::ruffleFolder(), this))
{
    m_server->setOriginLookup([this](const QString& file) { return originOf(file); });
    connect(m_server, &MovieServer::filesKept, this, &VaultMovieServer::noteKeptFiles);
    connect(&m_vault, &Vault::optionsChanged, this,
            [this] { m_server->setArchive(m_vault.archiveAccess()); });
}

MovieOrigin VaultMovieServer::originOf(const QString& file) const
{
    const QString wanted = QFileInfo(file).absoluteFilePath();
    // The file name first, in bytes: a large catalogue is looked through on every play.
    const QByteArray name = QFileInfo(file).fileName().toUtf8();
    MovieOrigin origin;
    m_vault.catalogue().items().forEach([&](int, const ItemRecord& item) {
        const QByteArrayView stored = FieldBytes(item.FileName);
        if (!stored.endsWith(name) && !item.FileName.isCut())
            return true;
        if (QFileInfo(ItemFilePath(item)).absoluteFilePath() != wanted)
            return true;
        // A movie imported from this machine has no site: it reaches the files of its folder.
        const QString address = FieldText(item.Url);
        if (!IsLocalAddress(address))
            origin = {address, item.extras.keepFiles.value_or(m_vault.settings().keepFiles)};
        return false;
    });
    return origin;
}

void VaultMovieServer::noteKeptFiles(const QString& address, int count)
{
    Catalogue& catalogue = m_vault.catalogue();
    const int index = catalogue.FindItemByUrl(address);
    if (index < 0 || catalogue.item(index).extras.keptFiles == count)
        return;
    ItemRecord item = catalogue.item(index);
    item.extras.keptFiles = count;
    catalogue.updateItem(index, item);
}
