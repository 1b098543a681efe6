// The Debian package as a user gets it: built by cpack from this build, unpacked into a root of
// its own (dpkg -x), its files checked by the desktop's validators, and the programs started
// from there: the player's files, the hook library and the manual must come from the package.

#include "browserprobe.h"

#include "swfwriter.h"
#include "testfiles.h"
#include "waituntil.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>

namespace {

struct ProcessRun
{
    int code = -1;
    QString output;
};

ProcessRun run(const QString& program, const QStringList& arguments,
               const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment(),
               int timeoutMs = 180000)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    ProcessRun result;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        result.output = QStringLiteral("(timed out)");
        return result;
    }
    result.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.output = QString::fromLocal8Bit(process.readAll());
    return result;
}

class PackageTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const ProcessRun cpack =
            run(QStringLiteral("cpack"),
                {QStringLiteral("--config"), QStringLiteral(CLIPVAULT_CPACK_CONFIG),
                 QStringLiteral("-B"), packages.path()});
        ASSERT_EQ(cpack.code, 0) << qPrintable(cpack.output);
        const QStringList debs = QDir(packages.path()).entryList({QStringLiteral("*.deb")});
        ASSERT_EQ(debs.size(), 1) << qPrintable(cpack.output);
        deb = QDir(packages.path()).filePath(debs.first());
        const ProcessRun unpack =
            run(QStringLiteral("dpkg"), {QStringLiteral("-x"), deb, root.path()});
        ASSERT_EQ(unpack.code, 0) << qPrintable(unpack.output);
        // The package installs below /usr, wherever this build was meant to go.
        prefix = QDir(root.path()).filePath(QStringLiteral("usr"));
        ASSERT_TRUE(QFileInfo::exists(prefix + QStringLiteral("/bin/clipvault")));
    }

    /// The programs' environment: nothing pointing at the build tree, a home of their own.
    QProcessEnvironment packagedEnvironment() const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("CLIPVAULT_SHARE_DIR"));
        environment.remove(QStringLiteral("LD_LIBRARY_PATH"));
        environment.insert(QStringLiteral("HOME"), home.path());
        environment.insert(QStringLiteral("CLIPVAULT_HOME"), QDir(home.path()).filePath("data"));
        // In a sanitized build the programs carry the sanitizers too, without the test
        // programs' defaults: the web engine's own mismatched deletes are no finding of ours.
        if (!environment.contains(QStringLiteral("ASAN_OPTIONS")))
            environment.insert(QStringLiteral("ASAN_OPTIONS"),
                               QStringLiteral("new_delete_type_mismatch=0:detect_leaks=0"));
        return environment;
    }
    QString installed(const char* path) const { return QDir(prefix).filePath(QLatin1String(path)); }

    QTemporaryDir packages;
    QTemporaryDir root;
    QTemporaryDir home;
    QString deb;
    QString prefix;
};

} // namespace

TEST_F(PackageTest, HoldsEveryFileTheProgramLooksForAndValidates)
{
    for (const char* path : {"bin/clipvault", "bin/clipvault-cli", "share/clipvault/none.swf",
                             "share/clipvault/ruffle/ruffle.js", "share/doc/clipvault/manual.html",
                             "share/doc/clipvault/copyright", "share/doc/clipvault/changelog.gz",
                             "share/applications/io.github.clipvault.ClipVault.desktop",
                             "share/metainfo/io.github.clipvault.ClipVault.metainfo.xml",
                             "share/icons/hicolor/scalable/apps/io.github.clipvault.ClipVault.svg",
                             "share/icons/hicolor/48x48/apps/io.github.clipvault.ClipVault.png",
                             "share/man/man1/clipvault.1.gz", "bin/clipvault-browser-host",
                             "share/clipvault/browser-extension/manifest.json",
                             // Where Debian's browsers find the companion, for every user.
                             "share/chromium/extensions/clipvault/manifest.json",
                             "share/mozilla/extensions/{ec8030f7-c20a-464f-9b0e-13a3a9e97384}/"
                             "companion@clipvault.github.io/manifest.json"})
        EXPECT_TRUE(QFileInfo::exists(installed(path))) << path;
    // And their host manifests, naming the host where the package puts it.
    for (const QString& manifest :
         {QDir(root.path()).filePath("etc/chromium/native-messaging-hosts"),
          installed("lib/mozilla/native-messaging-hosts")}) {
        const QJsonObject host =
            QJsonDocument::fromJson(
                readFile(manifest + QStringLiteral("/io.github.clipvault.companion.json")))
                .object();
        EXPECT_EQ(host.value(QStringLiteral("path")).toString(),
                  QStringLiteral("/usr/bin/clipvault-browser-host"))
            << qPrintable(manifest);
    }
    EXPECT_FALSE(QDir(installed("share/clipvault/ruffle")).entryList({"*.wasm"}).isEmpty());

    // Every picture the manual shows is in the package.
    const QString manual =
        QString::fromUtf8(readFile(installed("share/doc/clipvault/manual.html")));
    int pictures = 0;
    for (qsizetype at = manual.indexOf(u"src=\""); at >= 0;
         at = manual.indexOf(u"src=\"", at + 1)) {
        const QString name = manual.mid(at + 5, manual.indexOf(u'"', at + 5) - at - 5);
        EXPECT_TRUE(QFileInfo::exists(installed("share/doc/clipvault/") + name))
            << qPrintable(name);
        ++pictures;
    }
    EXPECT_GE(pictures, 8);

    // The hook library comes from the package's own folder, through the run path.
    const ProcessRun libraries =
        run(QStringLiteral("ldd"), {installed("bin/clipvault")}, packagedEnvironment());
    const qsizetype mhx = libraries.output.indexOf(u"libmhx.so => ");
    ASSERT_GE(mhx, 0) << qPrintable(libraries.output);
    EXPECT_TRUE(libraries.output.mid(mhx).startsWith(QStringLiteral("libmhx.so => ") + root.path()))
        << qPrintable(libraries.output);

    const ProcessRun version =
        run(installed("bin/clipvault-cli"), {QStringLiteral("--version")}, packagedEnvironment());
    EXPECT_EQ(version.code, 0) << qPrintable(version.output);
    EXPECT_TRUE(version.output.startsWith(QStringLiteral("clipvault-cli 0.")))
        << qPrintable(version.output);
    // The browser commands come from the tool's module in the package's own folder.
    const ProcessRun browser =
        run(installed("bin/clipvault-cli"), {QStringLiteral("browser"), QStringLiteral("status")},
            packagedEnvironment());
    EXPECT_TRUE(browser.output.startsWith(QStringLiteral("browser window: ")))
        << qPrintable(browser.output);

    const ProcessRun desktop =
        run(QStringLiteral("desktop-file-validate"),
            {installed("share/applications/io.github.clipvault.ClipVault.desktop")});
    EXPECT_EQ(desktop.code, 0) << qPrintable(desktop.output);
    const ProcessRun metainfo =
        run(QStringLiteral("appstreamcli"),
            {QStringLiteral("validate"), QStringLiteral("--no-net"),
             installed("share/metainfo/io.github.clipvault.ClipVault.metainfo.xml")});
    EXPECT_EQ(metainfo.code, 0) << qPrintable(metainfo.output);
    const ProcessRun lintian =
        run(QStringLiteral("lintian"), {QStringLiteral("--fail-on"), QStringLiteral("error"), deb});
    EXPECT_EQ(lintian.code, 0) << qPrintable(lintian.output);
}

TEST_F(PackageTest, PlaysAMovieFromTheInstallTreeAndHandsASecondOneToTheRunningProgram)
{
    const QString first = QDir(home.path()).filePath(QStringLiteral("first.swf"));
    const QString second = QDir(home.path()).filePath(QStringLiteral("second.swf"));
    // Small and slow movies: the three web pages of the program then leave the machine alone.
    SwfMovie movie;
    movie.version = 9;
    movie.frameRate = 1;
    movie.widthPixels = 32;
    movie.heightPixels = 32;
    ASSERT_TRUE(writeFile(first, WriteSwf(movie)));
    ASSERT_TRUE(writeFile(second, WriteSwf(movie)));

    // The web engine's pages answer on a debugging port of their own: that is how this test
    // sees what the player plays.
    QTcpServer probe;
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost));
    const quint16 port = probe.serverPort();
    probe.close();
    QProcessEnvironment environment = packagedEnvironment();
    environment.insert(QStringLiteral("QTWEBENGINE_REMOTE_DEBUGGING"),
                       QStringLiteral("127.0.0.1:%1").arg(port));
    QProcess program;
    program.setProcessEnvironment(environment);
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    program.start(installed("bin/clipvault"), {QStringLiteral("--play"), first});
    ASSERT_TRUE(program.waitForStarted());

    // The movies whose facts a player page of the program has read, by file name.
    QStringList pagesSeen; // what each page said, for the failure message
    BrowserProbe pages;
    const auto playedMovies = [&] {
        pagesSeen.clear();
        QStringList played;
        for (const QJsonValue& page : pages.evaluateEverywhere(
                 port, QStringLiteral("(() => { try { const m = clipvault.player.ruffle().metadata;"
                                      " return (m && m.swfVersion === 9 ? '' : 'waiting:') +"
                                      " clipvault.movie.split('/').pop(); } catch (e) { return "
                                      "'error:' + e; }"
                                      " })()"))) {
            const QString name = page.toString();
            pagesSeen << name;
            if (!name.isEmpty() && !name.contains(u':'))
                played << name;
        }
        return played;
    };
    EXPECT_TRUE(
        waitUntil([&] { return playedMovies().contains(QStringLiteral("first.swf")); }, 150000))
        << "the installed program did not play the movie; its pages: "
        << qPrintable(pagesSeen.join(u' '));

    const ProcessRun handedOver =
        run(installed("bin/clipvault"), {second}, packagedEnvironment(), 60000);
    EXPECT_EQ(handedOver.code, 0) << qPrintable(handedOver.output);
    EXPECT_TRUE(
        waitUntil([&] { return playedMovies().contains(QStringLiteral("second.swf")); }, 100000))
        << "the running program did not play the second movie; its pages: "
        << qPrintable(pagesSeen.join(u' ')) << "; it is "
        << (program.state() == QProcess::Running ? "running" : "gone")
        << "; the second start said: " << qPrintable(handedOver.output) << "; its page list: "
        << qPrintable(run(QStringLiteral("curl"),
                          {QStringLiteral("-s"), QStringLiteral("-m"), QStringLiteral("20"),
                           QStringLiteral("http://127.0.0.1:%1/json/list").arg(port)})
                          .output);

    program.terminate();
    if (!program.waitForFinished(30000))
        program.kill();
}
