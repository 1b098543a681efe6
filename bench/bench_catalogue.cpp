#include "benchfixtures.h"

#include "catalogue.h"
#include "cataloguestore.h"
#include "categorytreemodel.h"
#include "vault.h"
#include "vaultmovieserver.h"
#include "clipvaultmain.h"
#include "fake/fakeautostart.h"
#include "fake/fakedesktopopen.h"
#include "fake/fakehotkey.h"
#include "itemlistmodel.h"
#include "options.h"
#include "scripteddialogs.h"
#include "scriptedprompt.h"

#include <memory>
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QTreeView>

namespace {

QString logPath()
{
    return QDir(LargeCatalogueFolder()).filePath(QStringLiteral("downloading.log"));
}

// Every item is a downloaded movie of the one category "Game", so selecting "Game" lists all.
void makeLargeCatalogue(const QString& folder)
{
    ScriptedPrompt prompt;
    const OptionsRecord options = DefaultOptions();
    Catalogue catalogue(prompt, options);
    CatalogueStore store(folder);
    store.LoadCategories(catalogue);
    for (int i = 0; i < kLargeCatalogueItems; ++i) {
        ItemRecord item = EmptyItemRecord();
        item.State = 'D';
        SetFieldText(
            item.Url,
            QStringLiteral("http://movies.example.com/section%1/movie-%2.swf").arg(i % 97).arg(i));
        SetFieldText(item.Category, QStringLiteral("Game"));
        SetFieldText(item.Folder, QStringLiteral("/home/user/clipvault/Game/"));
        SetFieldText(item.FileName, QStringLiteral("movie-%1.swf").arg(i));
        SetFieldText(item.Comment,
                     QStringLiteral("a comment of moderate length for item %1").arg(i));
        catalogue.AppendItem(item);
    }
    store.SaveItems(catalogue);
    store.SaveCategories(catalogue);
}

void WriteLogBytes(benchmark::State& state)
{
    QFile source(logPath());
    source.open(QIODevice::ReadOnly);
    const QByteArray bytes = source.readAll();
    QTemporaryDir target;
    for (auto _ : state) {
        QFile file(QDir(target.path()).filePath(QStringLiteral("plain.log")));
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write(bytes);
        file.close();
    }
}

void SaveItems(benchmark::State& state)
{
    ScriptedPrompt prompt;
    const OptionsRecord options = DefaultOptions();
    Catalogue catalogue(prompt, options);
    CatalogueStore(LargeCatalogueFolder()).LoadItems(catalogue);
    QTemporaryDir target;
    CatalogueStore store(target.path());
    for (auto _ : state)
        store.SaveItems(catalogue);
}

class MainWindowFixture
{
public:
    MainWindowFixture()
        : app(openedVault(LargeCatalogueFolder(), options, prompt))
        , movies(*app)
        , window(MainWindowServices{*app, movies.server(), hotKey, autostart, desktop, dialogs})
    {
    }
    /// The vault as the program makes it: opened (options, then the catalogue) before the window.
    static std::unique_ptr<Vault> openedVault(const QString& folder, OptionsRecord& options,
                                              ScriptedPrompt& prompt)
    {
        auto vault = std::make_unique<Vault>(folder, options, prompt);
        vault->open();
        return vault;
    }
    OptionsRecord options = DefaultOptions();
    ScriptedPrompt prompt;
    FakeHotKey hotKey;
    FakeAutostart autostart;
    FakeDesktopOpen desktop;
    ScriptedDialogs dialogs;
    std::unique_ptr<Vault> app;
    VaultMovieServer movies;
    TClipVaultMain window;
};

// Selecting a node fills the item list (RefreshItemList) and selects and shows its first row.
void RefreshItemList(benchmark::State& state)
{
    MainWindowFixture fixture;
    fixture.window.resize(1280, 800);
    fixture.window.show();
    auto* tree = fixture.window.findChild<QTreeView*>(QStringLiteral("tvwclass"));
    const QModelIndex game = fixture.window.treeModel().nodeAt(4);
    const QModelIndex downloading = fixture.window.treeModel().nodeAt(1);
    for (auto _ : state) {
        state.PauseTiming();
        tree->setCurrentIndex(downloading);
        QCoreApplication::processEvents();
        state.ResumeTiming();
        tree->setCurrentIndex(game);
        fixture.window.repaint();
        if (fixture.window.itemModel().rowCount() != kLargeCatalogueItems)
            state.SkipWithError("the node did not list every item");
    }
}

void MainWindowStartUp(benchmark::State& state)
{
    for (auto _ : state) {
        MainWindowFixture fixture;
        fixture.window.show();
        QCoreApplication::processEvents();
    }
}

} // namespace

const QString& LargeCatalogueFolder()
{
    static QTemporaryDir folder;
    static const bool made = (makeLargeCatalogue(folder.path()), true);
    (void)made;
    static const QString path = folder.path();
    return path;
}

void RunCatalogueLoadComparison()
{
    // The tool's own start-up is taken away: what is left is reading the log, against cat.
    const std::string folder = LargeCatalogueFolder().toStdString();
    const QTemporaryDir empty;
    const ChildOutput output;
    // The three take turns, fifteen times: each is a few milliseconds long, so the best of many
    // runs is what steadies a difference of two of them.
    const std::vector<ChildRun> best =
        BestInTurn({{CLIPVAULT_CLI, "--data-dir", folder, "catalogue", "count"},
                    {CLIPVAULT_CLI, "--data-dir", empty.path().toStdString(), "catalogue", "count"},
                    {"cat", logPath().toStdString()}},
                   output, 15);
    const ChildRun& large = best[0];
    const ChildRun& none = best[1];
    const ChildRun& cat = best[2];
    if (!large.ok || !none.ok || !cat.ok) {
        std::printf("load the items log: a run failed\n");
        return;
    }
    const double load = large.seconds - none.seconds;
    std::printf(
        "\nload the items log (catalogue count, less an empty folder's) %6.1f ms  cat %6.1f "
        "ms: %.2f x cat (target <= 1.5)\n",
        load * 1e3, cat.seconds * 1e3, load / cat.seconds);
}

BENCHMARK(WriteLogBytes)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);
BENCHMARK(SaveItems)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);
BENCHMARK(RefreshItemList)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(MainWindowStartUp)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
