#pragma once

#include "options.h"
#include "userprompt.h"
#include "vault.h"

#include <QTextStream>

class DataFolderLock;

// What the commands that change the catalogue share: a vault loaded as the program loads it,
// answering on stderr, and the data folder's lock held from the load to the save.
namespace cli {

/// Never asks anyone: a duplicate URL is replaced only when the command line says so, and
/// notices go to the error stream.
class CliPrompt final : public UserPrompt
{
public:
    explicit CliPrompt(QTextStream& err)
        : m_err(err)
    {
    }
    void setAnswer(bool yes) { m_answer = yes; }
    bool ask(const QString&, const QString&) override { return m_answer; }
    void inform(const QString& text, const QString&) override
    {
        m_err << "clipvault-cli: " << text << Qt::endl;
    }

private:
    QTextStream& m_err;
    bool m_answer = false;
};

/// The vault of a data folder, its catalogue loaded as the program loads it, answering the user
/// on stderr.
class LoadedCatalogue
{
public:
    LoadedCatalogue(const QString& dataFolder, QTextStream& err);
    Catalogue& catalogue() { return m_vault.catalogue(); }
    CatalogueStore& store() { return m_vault.store(); }
    CliPrompt& prompt() { return m_prompt; }

private:
    CliPrompt m_prompt;
    Vault m_vault;
};

/// Takes the data folder for a change: the program must not load the logs meanwhile (it would
/// write its older lists over the change on close), nor may a second change load them. False,
/// having said why on `err`, when it cannot be had.
bool TakeForChange(DataFolderLock& lock, const QString& dataFolder, QTextStream& err);

/// Writes the items log; the exit code.
int SaveItems(LoadedCatalogue& loaded, QTextStream& err);
/// Writes the category log; the exit code.
int SaveCategories(LoadedCatalogue& loaded, QTextStream& err);

} // namespace cli
