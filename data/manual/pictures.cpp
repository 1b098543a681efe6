// clipvault-pictures: takes the manual's pictures and the icon sizes from the real program's
// windows, on a sample catalogue, and the shortcut bar over a movie in a real Chromium. Run on
// an X display with a window manager (scripts/update-pictures starts Xvfb and openbox for it):
//   clipvault-pictures OUTPUT_FOLDER
// writes PNG pictures into OUTPUT_FOLDER and the icon sizes below OUTPUT_FOLDER/icons.

#include "aboutbox.h"
#include "addtaskfromurl.h"
#include "catalogue.h"
#include "categorytreemodel.h"
#include "vault.h"
#include "vaultmovieserver.h"
#include "clipvaultmain.h"
#include "detectflashfromurl.h"
#include "detectionrowmodel.h"
#include "devtools/devtoolssession.h"
#include "fake/fakeautostart.h"
#include "fake/fakedesktopopen.h"
#include "fake/fakehotkey.h"
#include "filedialogs.h"
#include "flashpreview.h"
#include "frmsearch.h"
#include "icons.h"
#include "itemfilter.h"
#include "messageboxprompt.h"
#include "miniform.h"
#include "datafolder.h"
#include "optionform.h"
#include "options.h"
#include "records.h"
#include "swfwriter.h"
#include "testserver.h"
#include "traycontroller.h"
#include "platformfactory.h"
#include "vaultbar.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

#include <cstdio>

namespace {

QDir output;
int failures = 0;

/// Serves events until the condition holds or `ms` have passed.
template <typename Condition>
bool settle(Condition condition, int ms = 20000)
{
    return QTest::qWaitFor(condition, ms);
}

/// A rectangle of the screen as it shows now (web content included), saved under `name`.
void pictureOf(QRect area, const char* name)
{
    const QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(
        0, area.x(), area.y(), area.width(), area.height());
    const QString path = output.filePath(QLatin1String(name));
    if (!shot.save(path)) {
        std::fprintf(stderr, "clipvault-pictures: cannot write %s\n", qPrintable(path));
        ++failures;
    }
}

/// A window with its frame, once it is on screen and painted.
void picture(QWidget* window, const char* name)
{
    if (!QTest::qWaitForWindowExposed(window))
        std::fprintf(stderr, "clipvault-pictures: %s never came on screen\n", name);
    QTest::qWait(500); // the window manager's frame and the web view paint last
    pictureOf(window->frameGeometry(), name);
}

void writeIcons()
{
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QString folder = QStringLiteral("icons/hicolor/%1x%1/apps").arg(size);
        output.mkpath(folder);
        Icons::application().pixmap(size, size).save(
            output.filePath(folder + QStringLiteral("/" CLIPVAULT_APP_ID ".png")));
    }
}

ItemRecord sampleItem(char state, const char* url, const char* category, const QString& folder,
                      const char* file, const char* comment = "")
{
    ItemRecord record;
    record.State = state;
    SetFieldText(record.Url, QLatin1String(url));
    SetFieldText(record.Category, QLatin1String(category));
    SetFieldText(record.Folder, folder);
    SetFieldText(record.FileName, QLatin1String(file));
    SetFieldText(record.Comment, QLatin1String(comment));
    return record;
}

/// A home for the pictures that reads as a user's, so that no picture shows a temporary folder:
/// "/home/collector" while it can be made (and it is taken away again), else a temporary one.
class PictureHome
{
public:
    PictureHome()
    {
        const QString natural = QStringLiteral("/home/collector");
        if (!QFileInfo::exists(natural) && QDir().mkpath(natural))
            m_path = natural;
        else
            m_path = m_fallback.path();
    }
    ~PictureHome()
    {
        if (m_path != m_fallback.path())
            QDir(m_path).removeRecursively();
    }
    PictureHome(const PictureHome&) = delete;
    PictureHome& operator=(const PictureHome&) = delete;
    QString path() const { return m_path; }

private:
    QTemporaryDir m_fallback;
    QString m_path;
};

/// A catalogue as a user's looks after a while: games, cartoons, a download waiting, its movies
/// where the program puts them below `home`. Returns the path of a movie in it.
QString writeSampleCatalogue(const QString& folder, const QString& home, OptionsRecord& options,
                             UserPrompt& prompt)
{
    const QString games = QDir(home).filePath(QStringLiteral("clipvault/Game")) + u'/';
    const QString fun = QDir(home).filePath(QStringLiteral("clipvault/Fun")) + u'/';
    QDir().mkpath(games);
    QDir().mkpath(fun);
    SwfMovie movie;
    movie.background = {0x1e, 0x4f, 0x8c};
    const QString orbit = games + QStringLiteral("orbit.swf");
    QFile file(orbit);
    if (file.open(QIODevice::WriteOnly))
        file.write(WriteSwf(movie));
    file.close();

    Vault seed(folder, options, prompt);
    seed.LoadCatalogue();
    Catalogue& catalogue = seed.catalogue();
    catalogue.AppendItem(sampleItem('D', "http://arcade.example/games/orbit.swf", "Game", games,
                                    "orbit.swf", "Three levels; save the station"));
    catalogue.AppendItem(sampleItem('D', "http://arcade.example/games/tetra.swf", "Game", games,
                                    "tetra.swf"));
    catalogue.AppendItem(sampleItem('D', "http://toons.example/2004/walk-cycle.swf", "Game",
                                    games, "walk-cycle.swf", "From the 2004 contest"));
    catalogue.AppendItem(sampleItem('D', "http://toons.example/2004/bounce.swf", "Fun", fun,
                                    "bounce.swf"));
    catalogue.AppendItem(sampleItem('N', "http://arcade.example/games/racer.swf", "Game", games,
                                    "racer.swf"));
    seed.saveCatalogue();
    return orbit;
}

const char kPage[] = R"(<!DOCTYPE html><html><body style="margin:0;font-family:sans-serif">
<h2 style="margin:16px">Classic games</h2>
<embed src="games/orbit.swf" type="application/x-shockwave-flash"
       style="display:block;width:480px;height:320px;margin:16px">
<embed src="games/tetra.swf?level=2" type="application/x-shockwave-flash" width="200" height="100">
<iframe src="more.html" width="300" height="120"></iframe>
</body></html>)";

const char kFramePage[] = R"(<html><body><object data="/toons/bounce.swf"
type="application/x-shockwave-flash" width="200" height="100"></object></body></html>)";

/// The shortcut bar over a movie in a real Chromium: the bar is told of pointer points down the
/// page until one is over the movie.
void shortcutBarPicture(Vault& vault, FileDialogs& dialogs, const std::string& page)
{
    const QString chromium = QStandardPaths::findExecutable(QStringLiteral("chromium"));
    if (chromium.isEmpty()) {
        std::fputs("clipvault-pictures: no chromium; the shortcut bar's picture is left out\n",
                   stderr);
        return;
    }
    QTemporaryDir profile;
    QProcess browser;
    browser.start(chromium, {QStringLiteral("--no-sandbox"), QStringLiteral("--disable-gpu"),
                             QStringLiteral("--no-first-run"), QStringLiteral("--test-type"),
                             QStringLiteral("--disable-infobars"),
                             QStringLiteral("--remote-debugging-port=0"),
                             QStringLiteral("--user-data-dir=") + profile.path(),
                             QStringLiteral("--window-position=0,0"),
                             QStringLiteral("--window-size=900,560"),
                             QString::fromStdString(page)});
    const std::unique_ptr<BrowserAccess> access = platform::createBrowserAccess();
    DevToolsSession session;
    Tvaultbar bar(vault, *access, session, dialogs);
    QPoint point(120, 260);
    const bool shown = settle(
        [&] {
            bar.HandlePointerNotify(point);
            point.ry() = 140 + (point.y() + 20 - 140) % 300;
            return bar.isVisible();
        },
        60000);
    if (shown && QTest::qWaitForWindowExposed(&bar)) {
        QTest::qWait(800);
        pictureOf(QRect(0, 0, 900, 420), "shortcut-bar.png");
        bar.btnSaveCatClick();
        if (!settle([&] { return bar.categoryMenu()->isVisible(); }))
            ++failures;
        QTest::qWait(400);
        pictureOf(QRect(0, 0, 900, 420), "shortcut-bar-menu.png");
        bar.categoryMenu()->hide();
    } else {
        std::fputs("clipvault-pictures: the shortcut bar never came up\n", stderr);
        ++failures;
    }
    browser.kill();
    browser.waitForFinished();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    if (qEnvironmentVariableIsEmpty("QTWEBENGINE_CHROMIUM_FLAGS"))
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu");
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    const PictureHome home;
    qputenv("HOME", QFile::encodeName(home.path()));
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("clipvault"));
    QApplication::setApplicationVersion(QStringLiteral(CLIPVAULT_VERSION));
    QApplication::setWindowIcon(Icons::application());
    QApplication::setQuitOnLastWindowClosed(false);
    if (argc != 2) {
        std::fputs("usage: clipvault-pictures OUTPUT_FOLDER\n", stderr);
        return 2;
    }
    output = QDir(QString::fromLocal8Bit(argv[1]));
    output.mkpath(QStringLiteral("."));
    writeIcons();

    const QString data = QDir(home.path()).filePath(QStringLiteral(".local/share/clipvault"));
    QDir().mkpath(data);
    OptionsRecord options = DefaultOptions();
    MessageBoxPrompt prompt;
    const QString movie = writeSampleCatalogue(data, home.path(), options, prompt);
    TestServer server;
    server.server().Get("/classics.html", [](const httplib::Request&, httplib::Response& reply) {
        reply.set_content(kPage, "text/html");
    });
    server.server().Get("/more.html", [](const httplib::Request&, httplib::Response& reply) {
        reply.set_content(kFramePage, "text/html");
    });
    server.start();

    options = DefaultOptions();
    Vault vault(data, options, prompt);
    VaultMovieServer movies(vault);
    vault.open();
    FakeHotKey hotKey;
    FakeAutostart autostart;
    FakeDesktopOpen desktop;
    QtFileDialogs dialogs;
    TClipVaultMain window({vault, movies.server(), hotKey, autostart, desktop, dialogs});
    prompt.setOwner(&window);

    // The main window on the "Game" category with its first movie previewed.
    window.setGeometry(60, 50, 1120, 700);
    window.showNormal();
    window.startPlayer();
    auto* tree = window.findChild<QTreeView*>(QStringLiteral("tvwclass"));
    for (int node = 0; node < window.treeModel().nodeCount(); ++node) {
        if (window.treeModel().nodeAt(node).data().toString() == u"Game")
            tree->setCurrentIndex(window.treeModel().nodeAt(node));
    }
    QTest::qWait(3000); // the web engine starts and plays the selected movie
    picture(&window, "main-window.png");

    TMiniForm hanging(window.tray().menu(), [] {});
    hanging.FormCreate(true);
    hanging.applyOption(true);
    window.tray().menu()->popup(hanging.pos() + QPoint(20, 20));
    if (!settle([&] { return window.tray().menu()->isVisible(); }))
        ++failures;
    QTest::qWait(400);
    pictureOf(QRect(hanging.pos() - QPoint(10, 10), QSize(300, 260)), "tray-menu.png");
    window.tray().menu()->hide();
    hanging.hide();

    TOptionForm optionForm(&window);
    optionForm.loadFrom(options, VaultSettings{});
    optionForm.show();
    picture(&optionForm, "options.png");
    optionForm.close();

    TFrmSearch search(&window);
    SearchRequest request;
    request.text = QStringLiteral("level");
    request.inFileName = request.inUrl = request.inComment = true;
    search.loadFrom(request);
    search.show();
    picture(&search, "search.png");
    search.close();

    TAddTaskfromUrl addTask(vault.catalogue(), &window);
    ItemRecord fresh;
    SetFieldText(fresh.Category, QStringLiteral("Game"));
    addTask.loadFrom(fresh);
    addTask.show();
    picture(&addTask, "add-task.png");
    addTask.close();

    TDetectFlashFromUrl detect({vault.catalogue(), prompt, {},
                                [] { return QList<CacheLocation>(); }, &movies.server()},
                               &window);
    detect.show();
    detect.findChild<QLineEdit*>(QStringLiteral("edtUrl"))
        ->setText(QString::fromStdString(server.url("/classics.html")));
    detect.btnDetectClick();
    if (!settle([&] { return !detect.isDetecting() && detect.rows().rowCount() > 0; }))
        ++failures;
    picture(&detect, "detect.png");
    detect.close();

    TAboutBox about(&window);
    about.show();
    picture(&about, "about.png");
    about.close();

    TFlashPreview* player = OpenFlashPreview(movie, movies.server(), dialogs);
    player->setWindowState(Qt::WindowNoState);
    player->setGeometry(100, 80, 800, 560);
    QTest::qWait(3000);
    picture(player, "player.png");
    player->close();

    window.hide();
    shortcutBarPicture(vault, dialogs, server.url("/classics.html"));
    return failures == 0 ? 0 : 1;
}
