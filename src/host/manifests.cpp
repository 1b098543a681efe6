// Writes the host manifests the package installs system-wide, from the same text
// `clipvault-cli browser connect` writes for one user: clipvault-host-manifests HOST-PATH FOLDER
// makes FOLDER/<browser>/io.github.clipvault.companion.json for each kind of browser.

#include "atomicwrite.h"
#include "hostmanifests.h"
#include "nativemessaging.h"

#include <QDir>
#include <QFile>

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fputs("usage: clipvault-host-manifests HOST-PATH FOLDER\n", stderr);
        return 2;
    }
    const QString host = QFile::decodeName(argv[1]);
    const QString folder = QFile::decodeName(argv[2]);
    for (const QString& browser : HostManifestBrowsers()) {
        const QString path = QDir(folder).filePath(
            browser + u'/' + QLatin1String(nativemessaging::kHostName) + QStringLiteral(".json"));
        QString error;
        if (!WriteFileAtomically(path, {HostManifestText(browser, host)}, &error)) {
            std::fprintf(stderr, "clipvault-host-manifests: %s\n", qPrintable(error));
            return 1;
        }
    }
    return 0;
}
