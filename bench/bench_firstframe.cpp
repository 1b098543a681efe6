// The first frame of a movie, as the user sees it: on the screen of a display of its own.
// `clipvault --play` from a cold start against a fresh Chromium showing the same movie with the
// same Ruffle build in a page, and a movie handed to a Clip Vault that runs already.

#include "benchfixtures.h"

#include "catalogue.h"
#include "cataloguestore.h"
#include "scriptedprompt.h"
#include "swfwriter.h"
#include "testserver.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QTemporaryDir>

// Xlib's macros (Bool, Status) would break Qt's headers: it comes after them.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace {

using Clock = std::chrono::steady_clock;

/// An Xvfb of its own, and a connection to it that reads its screen.
class VirtualScreen
{
public:
    VirtualScreen()
    {
        int pipe[2];
        if (::pipe(pipe) != 0)
            return;
        const std::string fd = std::to_string(pipe[1]);
        m_server = spawn(
            {"Xvfb", "-displayfd", fd, "-screen", "0", "1280x800x24", "-nolisten", "tcp"}, {});
        ::close(pipe[1]);
        char number[16] = {};
        const ssize_t got = m_server > 0 ? ::read(pipe[0], number, sizeof number - 1) : -1;
        ::close(pipe[0]);
        if (got <= 0)
            return;
        char name[24];
        std::snprintf(name, sizeof name, ":%d", std::atoi(number));
        m_name = name;
        m_display = XOpenDisplay(m_name.c_str());
        if (m_display)
            startWindowManager();
    }
    ~VirtualScreen()
    {
        if (m_display)
            XCloseDisplay(m_display);
        if (m_windowManager > 0) {
            ::kill(m_windowManager, SIGTERM);
            ::waitpid(m_windowManager, nullptr, 0);
        }
        if (m_server > 0) {
            ::kill(m_server, SIGTERM);
            ::waitpid(m_server, nullptr, 0);
        }
    }
    VirtualScreen(const VirtualScreen&) = delete;
    VirtualScreen& operator=(const VirtualScreen&) = delete;

    bool ok() const { return m_display != nullptr; }
    const std::string& name() const { return m_name; }

    /// Whether the screen shows `rgb` anywhere on a grid of 8 pixels: the movies' stages are
    /// their colour throughout, and nothing else on the screen is.
    bool shows(unsigned long rgb) const
    {
        const int screen = DefaultScreen(m_display);
        XImage* image =
            XGetImage(m_display, RootWindow(m_display, screen), 0, 0,
                      static_cast<unsigned>(DisplayWidth(m_display, screen)),
                      static_cast<unsigned>(DisplayHeight(m_display, screen)), AllPlanes, ZPixmap);
        if (!image)
            return false;
        bool seen = false;
        for (int y = 4; y < image->height && !seen; y += 8) {
            for (int x = 4; x < image->width && !seen; x += 8)
                seen = (XGetPixel(image, x, y) & 0xFFFFFF) == rgb;
        }
        XDestroyImage(image);
        return seen;
    }

    /// Presses and releases a key, as the user at the keyboard would.
    void press(KeySym key) const
    {
        const KeyCode code = XKeysymToKeycode(m_display, key);
        XTestFakeKeyEvent(m_display, code, True, CurrentTime);
        XTestFakeKeyEvent(m_display, code, False, CurrentTime);
        XFlush(m_display);
    }

    /// Seconds from `start` until the screen shows `rgb`; nothing when it never does.
    std::optional<double> secondsUntilShown(Clock::time_point start, unsigned long rgb,
                                            double deadlineSeconds = 60) const
    {
        while (std::chrono::duration<double>(Clock::now() - start).count() < deadlineSeconds) {
            if (shows(rgb))
                return std::chrono::duration<double>(Clock::now() - start).count();
            std::this_thread::sleep_for(std::chrono::milliseconds(4));
        }
        return std::nullopt;
    }

    /// A program in a process group of its own, with `environment` added to the bench's.
    static pid_t spawn(const std::vector<std::string>& arguments,
                       const std::vector<std::string>& environment)
    {
        std::vector<char*> argv;
        for (const std::string& argument : arguments)
            argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        std::vector<std::string> variables = environment;
        for (char** variable = environ; *variable; ++variable)
            variables.emplace_back(*variable);
        std::vector<char*> envp;
        for (std::string& variable : variables)
            envp.push_back(variable.data());
        envp.push_back(nullptr);
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
        posix_spawnattr_setpgroup(&attributes, 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        pid_t pid = 0;
        const int spawned =
            ::posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
        return spawned == 0 ? pid : -1;
    }

    /// Ends a spawned program with every process of its group, and waits until its colour is
    /// gone from the screen.
    void end(pid_t pid, unsigned long rgb) const
    {
        ::kill(-pid, SIGTERM);
        const auto start = Clock::now();
        while (::waitpid(pid, nullptr, WNOHANG) == 0 &&
               Clock::now() - start < std::chrono::seconds(10))
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ::kill(-pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        while (shows(rgb) && Clock::now() - start < std::chrono::seconds(20))
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }

private:
    /// openbox, as a desktop session has a window manager (a window asked to start minimized
    /// is then minimized, and a new window comes to the front); ready once it took the display.
    void startWindowManager()
    {
        m_windowManager = spawn({"openbox", "--sm-disable"}, {"DISPLAY=" + m_name});
        const Atom check = XInternAtom(m_display, "_NET_SUPPORTING_WM_CHECK", False);
        const auto start = Clock::now();
        while (Clock::now() - start < std::chrono::seconds(30)) {
            Atom type = None;
            int format = 0;
            unsigned long items = 0, after = 0;
            unsigned char* value = nullptr;
            XGetWindowProperty(m_display, DefaultRootWindow(m_display), check, 0, 1, False,
                               AnyPropertyType, &type, &format, &items, &after, &value);
            if (value)
                XFree(value);
            if (items > 0)
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }

    pid_t m_server = -1;
    pid_t m_windowManager = -1;
    std::string m_name;
    ::Display* m_display = nullptr;
};

/// The processor time used so far by every process of the group `group`, in clock ticks.
long long groupTicks(pid_t group)
{
    long long ticks = 0;
    const QStringList processes = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString& process : processes) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(process));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        // The fields after the command's closing parenthesis: state, ppid, pgrp, ..., utime (12th),
        // stime (13th).
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 12 && fields[2].toInt() == group)
            ticks += fields[11].toLongLong() + fields[12].toLongLong();
    }
    return ticks;
}

/// Waits until the program has run for ten seconds and its processes have then been all but idle
/// for a second: a program that runs already, not one still starting. False when it never
/// settles.
bool waitUntilSettled(pid_t group)
{
    const auto start = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(10));
    long long before = groupTicks(group);
    while (Clock::now() - start < std::chrono::seconds(90)) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        const long long now = groupTicks(group);
        if (now - before <= 10) // at most 100 ms of processor time in the second
            return true;
        before = now;
    }
    return false;
}

struct Colour
{
    const char* name;
    unsigned long rgb;
};
constexpr Colour kColours[] = {
    {"red", 0xFF0000}, {"green", 0x00FF00}, {"yellow", 0xFFFF00}, {"magenta", 0xFF00FF}};

/// A one-frame movie whose stage is `colour` throughout.
void writeMovie(const QString& file, unsigned long rgb)
{
    SwfMovie movie;
    movie.background = {static_cast<std::uint8_t>(rgb >> 16), static_cast<std::uint8_t>(rgb >> 8),
                        static_cast<std::uint8_t>(rgb)};
    QFile out(file);
    out.open(QIODevice::WriteOnly);
    out.write(WriteSwf(movie));
}

/// A movie of each colour, in a folder of their own.
struct ColourMovies
{
    ColourMovies()
    {
        for (const Colour& colour : kColours)
            writeMovie(of(colour), colour.rgb);
    }
    QString of(const Colour& colour) const
    {
        return QDir(folder.path()).filePath(QString::fromLatin1(colour.name) + u".swf");
    }
    QTemporaryDir folder;
};

/// Home, configuration, data and cache folders of their own: a Clip Vault or a browser never
/// run, or, kept across runs, a returning user's.
struct FreshUser
{
    QTemporaryDir home;
    std::vector<std::string> environment(const std::string& display) const
    {
        const std::string root = home.path().toStdString();
        return {"HOME=" + root,
                "XDG_CONFIG_HOME=" + root + "/.config",
                "XDG_DATA_HOME=" + root + "/.local/share",
                "XDG_CACHE_HOME=" + root + "/.cache",
                "DISPLAY=" + display,
                "QT_QPA_PLATFORM=xcb"}; // the bench itself is offscreen
    }
    /// Where Clip Vault keeps its data for this user (under XDG_DATA_HOME above).
    QString dataFolder() const { return home.path() + QStringLiteral("/.local/share/clipvault"); }
};

/// A catalogue whose "Downloaded" category holds the colour movies, downloaded, in their order.
void writeDownloadedCatalogue(const QString& dataFolder, const ColourMovies& movies)
{
    QDir().mkpath(dataFolder);
    ScriptedPrompt prompt;
    const OptionsRecord options = DefaultOptions();
    Catalogue catalogue(prompt, options);
    CatalogueStore store(dataFolder);
    store.LoadCategories(catalogue);
    for (const Colour& colour : kColours) {
        ItemRecord item = EmptyItemRecord();
        item.State = 'D';
        const QFileInfo file(movies.of(colour));
        SetFieldText(item.Url, QStringLiteral("http://movies.example.com/") + file.fileName());
        SetFieldText(item.Category, QStringLiteral("Downloaded"));
        SetFieldText(item.Folder, file.path() + u'/');
        SetFieldText(item.FileName, file.fileName());
        catalogue.AppendItem(item);
    }
    store.SaveItems(catalogue);
    store.SaveCategories(catalogue);
}

/// Seconds from `clipvault --play MOVIE` on a cold start to the movie's first frame, in `user`'s
/// home.
std::optional<double> clipVaultColdStart(const VirtualScreen& screen, const QString& movie,
                                         const FreshUser& user)
{
    const auto start = Clock::now();
    const pid_t program = VirtualScreen::spawn({CLIPVAULT_PROGRAM, "--play", movie.toStdString()},
                                               user.environment(screen.name()));
    const std::optional<double> seconds = screen.secondsUntilShown(start, kColours[0].rgb);
    screen.end(program, kColours[0].rgb);
    return seconds;
}

/// Seconds from Chromium's start on the movie's page to the movie's first frame, in `user`'s
/// home with the profile folder `profile`, and the GPU switched off as the program's web engine
/// has it.
std::optional<double> chromiumColdStart(const VirtualScreen& screen, const std::string& page,
                                        const FreshUser& user, const std::string& profile)
{
    std::vector<std::string> arguments{"chromium",
                                       "--app=" + page,
                                       "--user-data-dir=" + user.home.path().toStdString() + "/" +
                                           profile,
                                       "--no-first-run",
                                       "--no-default-browser-check",
                                       "--disable-gpu"};
    if (::geteuid() == 0)
        arguments.emplace_back("--no-sandbox"); // Chromium refuses to start as root without it
    const auto start = Clock::now();
    const pid_t browser = VirtualScreen::spawn(arguments, user.environment(screen.name()));
    const std::optional<double> seconds = screen.secondsUntilShown(start, kColours[0].rgb);
    screen.end(browser, kColours[0].rgb);
    return seconds;
}

void printFigure(const char* what, const std::optional<double>& seconds, double targetMs)
{
    if (!seconds) {
        std::printf("  %-52s never shown\n", what);
        return;
    }
    std::printf("  %-52s %7.0f ms", what, *seconds * 1e3);
    if (targetMs > 0)
        std::printf(" (target <= %.0f ms)", targetMs);
    std::printf("\n");
}

/// Prints the measurement's title; false, saying so, when it has no screen to measure on.
bool announce(const char* title, const VirtualScreen& screen)
{
    std::printf("\n%s\n", title);
    if (!screen.ok())
        std::printf("  no virtual display could be started\n");
    return screen.ok();
}

std::optional<double> best(const std::optional<double>& kept, const std::optional<double>& run)
{
    if (!run || (kept && *kept <= *run))
        return kept;
    return run;
}

} // namespace

void RunFirstFrameComparison()
{
    const VirtualScreen screen;
    const ColourMovies movies;
    if (!announce("The first frame of a movie on the screen (best of 3):", screen))
        return;
    const QString red = movies.of(kColours[0]);

    TestServer server;
    const std::string ruffle = std::string(CLIPVAULT_BUILD_SHARE_DIR) + "/ruffle";
    server.server().set_mount_point("/ruffle", ruffle);
    server.server().set_mount_point("/movies", movies.folder.path().toStdString());
    server.server().Get("/page.html", [](const httplib::Request&, httplib::Response& response) {
        // The player as a web page would have it: the same Ruffle, told to play at once, drawing
        // on a canvas as the program's player does without a GPU.
        response.set_content(
            R"(<!DOCTYPE html><html><head><meta charset="utf-8"><style>
html, body { margin: 0; width: 100%; height: 100%; background: #202020 }
#stage, #stage > * { width: 100%; height: 100% }</style>
<script>window.RufflePlayer = {config: {autoplay: "on", unmuteOverlay: "hidden",
  splashScreen: false, letterbox: "on", publicPath: "ruffle/", preferredRenderer: "canvas"}};
</script>
<script src="ruffle/ruffle.js"></script></head><body><div id="stage"></div><script>
const player = window.RufflePlayer.newest().createPlayer();
document.getElementById("stage").appendChild(player);
player.ruffle().load({url: "movies/red.swf"});
</script></body></html>)",
            "text/html");
    });
    server.start();

    // A returning user's home for both: each has run in it once before (untimed), as a user's
    // desktop has. The browser starts on the same profile every time, which that first run
    // made (a new profile's first-run work is paid once, never by a returning user); the
    // program finds its data folder as it left it.
    const FreshUser user;
    const std::string page = server.url("/page.html");
    const std::string profile = "profile";
    clipVaultColdStart(screen, red, user);
    chromiumColdStart(screen, page, user, profile);
    // Program and peer in turn, so that a busy moment of the machine falls on both alike.
    std::optional<double> program, peer;
    for (int round = 0; round < 3; ++round) {
        program = best(program, clipVaultColdStart(screen, red, user));
        peer = best(peer, chromiumColdStart(screen, page, user, profile));
    }
    printFigure("clipvault --play red.swf, cold, returning user", program, 0);
    printFigure("chromium --app=page.html, its profile warmed, same home", peer, 0);
    if (program && peer)
        std::printf("  first frame, cold: %.2f x chromium (target <= 1.0)\n", *program / *peer);
}

void RunHandOffComparison()
{
    const VirtualScreen screen;
    const ColourMovies movies;
    if (!announce("A movie handed to the running program (best of 3):", screen))
        return;
    // As a file manager would hand it, to a program that has been running a while; a program of
    // its own each round, so that the movies of the rounds before play nowhere.
    std::optional<double> handed;
    for (const Colour& colour : {kColours[0], kColours[1], kColours[2]}) {
        const FreshUser user;
        const std::vector<std::string> environment = user.environment(screen.name());
        const pid_t running = VirtualScreen::spawn({CLIPVAULT_PROGRAM}, environment);
        if (waitUntilSettled(running)) {
            const auto start = Clock::now();
            const pid_t sender = VirtualScreen::spawn(
                {CLIPVAULT_PROGRAM, "--play", movies.of(colour).toStdString()}, environment);
            handed = best(handed, screen.secondsUntilShown(start, colour.rgb, 30));
            ::waitpid(sender, nullptr, 0);
        }
        screen.end(running, colour.rgb);
    }
    printFigure("clipvault --play FILE handed to the running program", handed, 300);
}

void RunSelectItemComparison()
{
    const VirtualScreen screen;
    const ColourMovies movies;
    if (!announce("Another downloaded item selected in the main window (best of 3):", screen))
        return;
    const FreshUser user;
    writeDownloadedCatalogue(user.dataFolder(), movies);
    const pid_t running =
        VirtualScreen::spawn({CLIPVAULT_PROGRAM}, user.environment(screen.name()));
    std::optional<double> selected;
    // Once the program has settled, the keyboard opens "Downloaded", whose first item shows,
    // then walks the item list.
    if (waitUntilSettled(running)) {
        screen.press(XK_Down); // from "Downloading" to "Downloaded" in the category tree
        if (screen.secondsUntilShown(Clock::now(), kColours[0].rgb, 30)) {
            screen.press(XK_Tab); // from the category tree to the item list
            for (const Colour& colour : {kColours[1], kColours[2], kColours[3]}) {
                const auto start = Clock::now();
                screen.press(XK_Down);
                selected = best(selected, screen.secondsUntilShown(start, colour.rgb, 30));
            }
        }
    }
    screen.end(running, kColours[3].rgb);
    printFigure("the next item's first frame in the preview", selected, 150);
}
