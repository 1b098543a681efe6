#include "connectbrowser.h"

#include "ui_connectbrowser.h"

#include "hostmanifests.h"

#include <QClipboard>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QStandardPaths>

namespace {

/// A browser Clip Vault's companion works with: its programs' names, its Flatpak id, how the
/// extension is loaded into it, and, for Debian's browsers, where Clip Vault's package put it and
/// what the user does then.
struct KnownBrowser
{
    const char* name;
    QStringList programs;
    const char* flatpak;
    const char* howToLoad;
    const char* packagedManifest = nullptr;
    const char* whenPackaged = nullptr;
};

QList<KnownBrowser> knownBrowsers()
{
    const char* unpacked = "open chrome://extensions, switch on Developer mode, choose \"Load "
                           "unpacked\" and the folder below.";
    return {
        {"Chromium",
         {QStringLiteral("chromium"), QStringLiteral("chromium-browser")},
         "org.chromium.Chromium",
         unpacked,
         "/usr/share/chromium/extensions/clipvault/manifest.json",
         "Clip Vault's package installed the companion; Chromium turns it on when it next "
         "starts."},
        {"Google Chrome",
         {QStringLiteral("google-chrome"), QStringLiteral("google-chrome-stable")},
         "com.google.Chrome",
         unpacked},
        {"Firefox",
         {QStringLiteral("firefox-esr"), QStringLiteral("firefox")},
         "org.mozilla.firefox",
         "open about:debugging, then This Firefox → \"Load Temporary Add-on…\", and choose "
         "manifest.json in the folder below (it stays until Firefox closes).",
         "/usr/share/mozilla/extensions/{ec8030f7-c20a-464f-9b0e-13a3a9e97384}/"
         "companion@clipvault.github.io/manifest.json",
         "Clip Vault's package installed the companion, and Debian's Firefox ESR turns it on "
         "without asking: in a new profile at once, in yours after Firefox's next update. To "
         "have it now, set extensions.startupScanScopes to 8 in about:config and restart "
         "Firefox; it is then listed in Add-ons and themes (about:addons)."},
    };
}

/// Whether a Flatpak of this id is installed, for the system or the user.
bool hasFlatpak(const char* id)
{
    for (const QString& root :
         QStringList{QStringLiteral("/var/lib/flatpak/app/"),
                     QDir::homePath() + QStringLiteral("/.local/share/flatpak/app/")}) {
        if (QFileInfo::exists(root + QLatin1String(id)))
            return true;
    }
    return false;
}

} // namespace

TConnectBrowser::TConnectBrowser(const QStringList& connected, const QString& dataFolder,
                                 QWidget* parent)
    : QDialog(parent)
    , m_ui(std::make_unique<Ui::TConnectBrowser>())
    , m_dataFolder(dataFolder)
{
    m_ui->setupUi(this);
    m_ui->lblConnected->setText(
        connected.isEmpty()
            ? QStringLiteral("No browser's companion is connected to Clip Vault.")
            : QStringLiteral("Connected: ") + connected.join(QStringLiteral(", ")) + u'.');
    m_ui->lblBrowsers->setText(BrowserAdvice().join(u'\n'));
    const QString folder = InstalledExtensionFolder();
    m_ui->edtFolder->setText(folder.isEmpty() ? QStringLiteral("(not installed with Clip Vault)")
                                              : QDir::toNativeSeparators(folder));
    m_ui->btnCopyFolder->setEnabled(!folder.isEmpty());
    connect(m_ui->btnCopyFolder, &QPushButton::clicked, this, &TConnectBrowser::btnCopyFolderClick);
    connect(m_ui->btnConnect, &QPushButton::clicked, this, &TConnectBrowser::btnConnectClick);
}

TConnectBrowser::~TConnectBrowser() = default;

QStringList TConnectBrowser::BrowserAdvice()
{
    QStringList lines;
    for (const KnownBrowser& browser : knownBrowsers()) {
        QString program;
        for (const QString& name : browser.programs) {
            if (program.isEmpty())
                program = QStandardPaths::findExecutable(name);
        }
        const QString real = QFileInfo(program).canonicalFilePath();
        if (real.startsWith(QStringLiteral("/snap/")) || hasFlatpak(browser.flatpak)) {
            lines << QStringLiteral("%1 as a Snap or Flatpak: not supported yet (its sandbox "
                                    "cannot start Clip Vault's host).")
                         .arg(QLatin1String(browser.name));
            continue;
        }
        if (program.isEmpty())
            continue;
        const bool packaged =
            browser.packagedManifest && QFileInfo::exists(QLatin1String(browser.packagedManifest));
        lines << QLatin1String(browser.name) + QStringLiteral(": ") +
                     QString::fromUtf8(packaged ? browser.whenPackaged : browser.howToLoad);
    }
    if (lines.isEmpty())
        lines << QStringLiteral("No browser the companion works with (Chromium, Google Chrome or "
                                "Firefox) is installed.");
    return lines;
}

void TConnectBrowser::btnConnectClick()
{
    const QString host = InstalledHostPath();
    if (!QFileInfo(host).isExecutable()) {
        m_ui->lblManifests->setText(
            QStringLiteral("Clip Vault's host is not installed beside the program (%1).")
                .arg(QDir::toNativeSeparators(host)));
        return;
    }
    QString error;
    const auto written =
        WriteHostManifests({}, {}, host, QDir(m_dataFolder).absolutePath(), &error);
    if (!written) {
        m_ui->lblManifests->setText(error);
        return;
    }
    QStringList places;
    for (const HostManifestPlace& place : *written)
        places << QDir::toNativeSeparators(place.path);
    m_ui->lblManifests->setText(QStringLiteral("The browsers can start Clip Vault's host now; "
                                               "its manifests are in:\n") +
                                places.join(u'\n'));
}

void TConnectBrowser::btnCopyFolderClick()
{
    QGuiApplication::clipboard()->setText(m_ui->edtFolder->text());
}
