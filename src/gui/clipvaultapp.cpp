#include "clipvaultapp.h"

#include "movieserver.h"
#include "playerfiles.h"

#include <QFileInfo>

ClipVaultApp::ClipVaultApp(const QString& dataFolder, const OptionsRecord& options,
                           UserPrompt& prompt, QObject* parent)
    : Vault(dataFolder, options, prompt, parent)
    , m_movieServer(new MovieServer(PlayerFiles::ruffleFolder(), this))
{
    // A catalogued movie plays as on its site: the server learns its address and whether the
    // files it loads are to be kept, and the item learns how many are kept.
    m_movieServer->setOriginLookup([this](const QString& file) { return originOf(file); });
    connect(m_movieServer, &MovieServer::filesKept, this, &ClipVaultApp::noteKeptFiles);
    connect(this, &Vault::optionsChanged, this,
            [this] { m_movieServer->setArchive(archiveAccess()); });
}

MovieOrigin ClipVaultApp::originOf(const QString& file) const
{
    const QString wanted = QFileInfo(file).absoluteFilePath();
    // The file name first, in bytes: a large catalogue is looked through on every play.
    const QByteArray name = QFileInfo(file).fileName().toUtf8();
    MovieOrigin origin;
    catalogue().items().forEach([&](int, const ItemRecord& item) {
        const QByteArrayView stored = FieldBytes(item.FileName);
        if (!stored.endsWith(name) && !item.FileName.isCut())
            return true;
        if (QFileInfo(ItemFilePath(item)).absoluteFilePath() != wanted)
            return true;
        origin = {FieldText(item.Url), item.extras.keepFiles.value_or(settings().keepFiles)};
        return false;
    });
    return origin;
}

void ClipVaultApp::noteKeptFiles(const QString& address, int count)
{
    const int index = catalogue().FindItemByUrl(address);
    if (index < 0 || catalogue().item(index).extras.keptFiles == count)
        return;
    ItemRecord item = catalogue().item(index);
    item.extras.keptFiles = count;
    catalogue().updateItem(index, item);
}
