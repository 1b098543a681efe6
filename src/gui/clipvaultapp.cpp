#include "clipvaultapp.h"

#include "movieserver.h"
#include "playerfiles.h"

ClipVaultApp::ClipVaultApp(const QString& dataFolder, OptionsRecord& options, UserPrompt& prompt,
                           QObject* parent)
    : Vault(dataFolder, options, prompt, parent)
    , m_movieServer(new MovieServer(PlayerFiles::ruffleFolder(), this))
{
}
