#pragma once

#include <QObject>

class MovieServer;
class Vault;
struct MovieOrigin;

/// The player's movie server, tied to a vault: a catalogued movie plays as on its site (the
/// server learns its address and whether the files it loads are kept, and follows the web
/// archive the options name), and the item learns how many of its files are kept.
class VaultMovieServer final : public QObject
{
    Q_OBJECT
public:
    explicit VaultMovieServer(Vault& vault, QObject* parent = nullptr);

    MovieServer& server() const { return *m_server; }

private:
    MovieOrigin originOf(const QString& file) const;
    void noteKeptFiles(const QString& address, int count);

    Vault& m_vault;
    MovieServer* m_server;
};
