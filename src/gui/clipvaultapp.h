#pragma once

#include "vault.h"

class MovieServer;

/// The program's vault with what the windows add to it: the player's movie server.
class ClipVaultApp final : public Vault
{
    Q_OBJECT
public:
    ClipVaultApp(const QString& dataFolder, OptionsRecord& options, UserPrompt& prompt,
                 QObject* parent = nullptr);

    MovieServer& movieServer() const { return *m_movieServer; }

private:
    MovieServer* m_movieServer;
};
