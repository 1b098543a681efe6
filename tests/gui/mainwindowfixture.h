#pragma once

#include "categorytreemodel.h"
#include "vault.h"
#include "vaultmovieserver.h"
#include "clipvaultmain.h"
#include "itemlistmodel.h"
#include "moviefactskeeper.h"
#include "fake/fakeautostart.h"
#include "fake/fakedesktopopen.h"
#include "fake/fakehotkey.h"
#include "options.h"

#include <functional>
#include "scripteddialogs.h"
#include "scriptedprompt.h"
#include "testfiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>
#include <QTreeView>

/// A main window on a temporary data folder, with scripted answers and fake desktop services.
class MainWindowTest : public ::testing::Test
{
protected:
    QString path(const char* name) const
    {
        return QDir(folder.path()).filePath(QLatin1String(name));
    }

    TClipVaultMain& start()
    {
        app = std::make_unique<Vault>(folder.path(), options, prompt);
        app->open();
        movies = std::make_unique<VaultMovieServer>(*app);
        facts = std::make_unique<MovieFactsKeeper>(app->catalogue(), folder.path());
        window = std::make_unique<TClipVaultMain>(MainWindowServices{
            *app, movies->server(), hotKey, autostart, desktop, dialogs, browser, facts.get()});
        return *window;
    }
    /// Changes the running program's options, as the Options dialog does.
    void changeOptions(const std::function<void(OptionsRecord&)>& change)
    {
        OptionsRecord changed = app->options();
        change(changed);
        app->setOptions(changed);
    }
    QTreeView* tree() const { return window->findChild<QTreeView*>(QStringLiteral("tvwclass")); }
    QTreeView* list() const
    {
        return window->findChild<QTreeView*>(QStringLiteral("lvFlashItemsList"));
    }
    QStringList nodeTexts() const
    {
        QStringList texts;
        for (int i = 0; i < window->treeModel().nodeCount(); ++i)
            texts << window->treeModel().nodeAt(i).data().toString();
        return texts;
    }
    /// The URLs listed after selecting the node at a tree position.
    QStringList listedUrls(int node)
    {
        tree()->setCurrentIndex(window->treeModel().nodeAt(node));
        QStringList urls;
        for (int row = 0; row < window->itemModel().rowCount(); ++row)
            urls << window->itemModel().urlAt(row);
        return urls;
    }

    QTemporaryDir folder;
    ScriptedPrompt prompt;
    OptionsRecord options = DefaultOptions();
    FakeHotKey hotKey;
    FakeAutostart autostart;
    FakeDesktopOpen desktop;
    ScriptedDialogs dialogs;
    BrowserSources browser; ///< none by default: the windows ask no browser
    std::unique_ptr<Vault> app;
    std::unique_ptr<VaultMovieServer> movies;
    std::unique_ptr<MovieFactsKeeper> facts;
    std::unique_ptr<TClipVaultMain> window;
};
