#include "previewpane.h"
#include "ui_previewpane.h"

#include "filedialogs.h"
#include "flashplayer.h"
#include "flashpreview.h"
#include "jpegwriter.h"
#include "moviefactskeeper.h"
#include "options.h"
#include "vault.h"
#include "playerfiles.h"
#include "records.h"
#include "swfinfo.h"
#include "userprompt.h"

#include <QApplication>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QJsonObject>
#include <QLabel>
#include <QLayout>
#include <QStyle>
#include <QToolButton>

PreviewPane::PreviewPane(MovieServer& server, Vault& vault, UserPrompt& prompt,
                         FileDialogs& dialogs, QWidget* parent, const MovieFactsKeeper* facts)
    : QFrame(parent)
    , m_ui(std::make_unique<Ui::PreviewPane>())
    , m_server(server)
    , m_vault(vault)
    , m_prompt(prompt)
    , m_dialogs(dialogs)
    , m_facts(facts)
    , m_item(EmptyItemRecord())
{
    m_ui->setupUi(this);
    m_player = new FlashPlayer(server, m_ui->flashplayerHost);
    m_ui->flashplayerHost->layout()->addWidget(m_player);
    m_ui->btnSaveFile->setIcon(QApplication::style()->standardIcon(QStyle::SP_DialogSaveButton));

    connect(m_ui->chk_preview, &QCheckBox::clicked, this, &PreviewPane::chk_previewClick);
    connect(m_ui->btnSaveFile, &QToolButton::clicked, this, &PreviewPane::btnSaveFileClick);
    connect(m_ui->but_maxize_flash, &QToolButton::clicked, this,
            &PreviewPane::but_maxize_flashClick);
    connect(m_player, &FlashPlayer::metadataChanged, this, &PreviewPane::showFacts);
    // The line grows by what is inside once the keeper has read the movie on the stage.
    if (m_facts)
        connect(m_facts, &MovieFactsKeeper::gathered, this, [this] {
            if (m_waitsForInside && insideFacts())
                showFacts();
        });
    // The check box shows the option as it stands, whoever changed it.
    connect(&m_vault, &Vault::optionsChanged, this, &PreviewPane::followOptions);
    followOptions();
}

PreviewPane::~PreviewPane() = default;

void PreviewPane::followOptions()
{
    m_ui->chk_preview->setChecked(m_vault.options().PreviewEnabled != 0);
}

void PreviewPane::start()
{
    m_player->start();
}

void PreviewPane::createView()
{
    m_player->createView();
}

void PreviewPane::showItem(const ItemRecord& item)
{
    if (!m_vault.options().PreviewEnabled)
        return;
    if (const QString failed = DownloadFailureText(item); !failed.isEmpty()) {
        // A movie whose download failed would only bring the player's own error: the reason is
        // what the user wants to read.
        showNothing();
        m_failure = failed;
        m_ui->lblMovieFacts->setText(failed);
        return;
    }
    const QString url = FieldText(item.Url);
    // The player's movie is compared with the row's address, as it always was: a downloaded
    // movie (played from its file) is therefore loaded again on each selection.
    if (m_player->movie() == url)
        return;
    const QString movie = item.state() == ItemState::Downloaded ? ItemFilePath(item) : url;
    m_player->Stop();
    m_itemFile = item.state() == ItemState::Downloaded ? movie : QString();
    m_item = item;
    m_showsItem = true;
    m_waitsForInside = false; // until the new movie's own line is shown
    m_player->setMovie(movie);
    m_player->Play();
    m_ui->lblMovieFacts->clear();
}

QImage PreviewPane::frameOf(const QString& file) const
{
    return m_showsItem && m_itemFile == file ? m_player->PaintTo() : QImage();
}

void PreviewPane::showNothing()
{
    m_showsItem = false;
    m_waitsForInside = false;
    m_failure.clear();
    m_player->setMovie(PlayerFiles::noneMovie());
    m_ui->lblMovieFacts->clear();
}

void PreviewPane::chk_previewClick(bool checked)
{
    // Reaches the options file with the next options write.
    OptionsRecord options = m_vault.options();
    options.PreviewEnabled = checked ? 1 : 0;
    m_vault.setOptions(options);
    if (!checked) {
        m_showsItem = false;
        m_waitsForInside = false;
        m_failure.clear();
        m_player->setMovie(QStringLiteral("no flash"));
        m_ui->lblMovieFacts->clear();
    }
}

void PreviewPane::showFacts()
{
    // The placeholder's facts are nobody's, and a file that is cut or damaged has none to tell,
    // whatever the player made of its first bytes.
    if (!m_showsItem || (!m_itemFile.isEmpty() && !ReadSwfInfoFromFile(m_itemFile))) {
        m_ui->lblMovieFacts->setText(m_showsItem ? QString() : m_failure);
        m_ui->lblMovieFacts->setToolTip({});
        return;
    }
    const SwfContents* inside = insideFacts();
    m_waitsForInside = !m_itemFile.isEmpty() && !inside;
    m_ui->lblMovieFacts->setText(MovieFactsText(m_player->metadata()) +
                                 (inside ? InsideFactsText(*inside) : QString()));
    m_ui->lblMovieFacts->setToolTip(inside ? InsideFactsDetails(*inside) : QString());
}

const SwfContents* PreviewPane::insideFacts() const
{
    return !m_itemFile.isEmpty() && m_facts ? m_facts->factsOf(m_item) : nullptr;
}

QString InsideFactsText(const SwfContents& inside)
{
    QString text = QStringLiteral(" · ActionScript %1").arg(inside.actionScript);
    if (!inside.title.isEmpty())
        text += QStringLiteral(" · “%1”").arg(inside.title.left(80));
    return text;
}

namespace {

/// The lists inside a movie, the first dozen entries of each.
QList<std::pair<QString, QString>> insideLists(const SwfContents& inside)
{
    QList<std::pair<QString, QString>> rows;
    const auto list = [&rows](const QString& name, const QStringList& entries) {
        if (!entries.isEmpty())
            rows.append({name, entries.mid(0, 12).join(QStringLiteral(", ")) +
                                   (entries.size() > 12 ? QStringLiteral(", …") : QString())});
    };
    list(QStringLiteral("Frame labels"), inside.frameLabels);
    list(QStringLiteral("Symbols"), inside.symbols);
    list(QStringLiteral("Texts"), inside.texts);
    list(QStringLiteral("Files it names"), inside.addresses);
    return rows;
}

QString networkText(const SwfContents& inside)
{
    return inside.useNetwork ? QStringLiteral("May reach the network when played from disk")
                             : QStringLiteral("Reaches no network when played from disk");
}

} // namespace

QString InsideFactsDetails(const SwfContents& inside)
{
    QStringList lines;
    if (!inside.description.isEmpty())
        lines << inside.description.left(300);
    lines << networkText(inside);
    for (const auto& [name, value] : insideLists(inside))
        lines << name + QStringLiteral(": ") + value;
    return lines.join(u'\n');
}

QList<std::pair<QString, QString>> InsideFactsRows(const SwfContents& inside)
{
    QList<std::pair<QString, QString>> rows{
        {QStringLiteral("ActionScript"),
         inside.actionScript == 3 ? QStringLiteral("3 (AVM2)") : QStringLiteral("1 or 2 (AVM1)")}};
    if (!inside.title.isEmpty())
        rows.append({QStringLiteral("Title"), inside.title});
    if (!inside.description.isEmpty())
        rows.append({QStringLiteral("Description"), inside.description.left(300)});
    rows.append({QStringLiteral("Network"), networkText(inside)});
    rows += insideLists(inside);
    if (inside.fileSize >= 0)
        rows.append({QStringLiteral("Length"),
                     QStringLiteral("%1 bytes in the file; its header announces %2 unpacked")
                         .arg(inside.fileSize)
                         .arg(inside.declaredLength)});
    if (!inside.lengthWarning.isEmpty())
        rows.append({QStringLiteral("Warning"), inside.lengthWarning});
    return rows;
}

QString MovieFactsText(const QJsonObject& facts)
{
    const int frames = facts.value(QStringLiteral("frames")).toInt();
    return QStringLiteral("Flash %1 · %2 × %3 · %4 fps · %5 %6")
        .arg(facts.value(QStringLiteral("version")).toInt())
        .arg(facts.value(QStringLiteral("width")).toDouble())
        .arg(facts.value(QStringLiteral("height")).toDouble())
        .arg(facts.value(QStringLiteral("frameRate")).toDouble())
        .arg(frames)
        .arg(frames == 1 ? QStringLiteral("frame") : QStringLiteral("frames"));
}

void PreviewPane::but_maxize_flashClick()
{
    m_player->Stop();
    ShowFlashPreview(m_player->movie(), m_server, m_dialogs, m_player->window());
    // Back from full screen, the pane goes on where the user left it: playing.
    m_player->Play();
}

void PreviewPane::btnSaveFileClick()
{
    m_player->StopPlay();
    if (m_player->movie().isEmpty())
        return;
    const QImage frame = m_player->PaintTo();
    m_player->Play();
    const QString file = m_dialogs.chooseSnapshotFile(m_player->window());
    if (file.isEmpty())
        return;
    QString error;
    if (!SaveJpeg(frame, file, 90, &error))
        m_prompt.inform(error, QStringLiteral("Clip Vault"));
}
