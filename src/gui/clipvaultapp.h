#pragma once

#include "vault.h"

class MovieServer;
struct MovieOrigin;

/// The program's vault with what the windows add to it: the player's movie server.
class ClipVaultApp final : public Vault
{
    Q_OBJECT
public:
    ClipVaultApp(const QString& dataFolder, const OptionsRecord& options, UserPrompt& prompt,
                 QObject* parent = nullptr);

    MovieServer& movieServer() const { return *m_movieServer; }

private:
    MovieOrigin originOf(const QString& file) const;
    void noteKeptFiles(const QString& address, int count);

    MovieServer* m_movieServer;
};
