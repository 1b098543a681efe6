#pragma once

#include "records.h"
#include "swfcontents.h"

#include <QFrame>
#include <QString>

#include <memory>

class FileDialogs;
class FlashPlayer;
class MovieFactsKeeper;
class MovieServer;
class QJsonObject;
struct ItemRecord;

namespace Ui {
class PreviewPane;
}
struct OptionsRecord;
class UserPrompt;
class Vault;

/// The preview pane of the main window, a widget of its own: the Flash player under its head
/// bar ("Preview", the movie's facts, the snapshot button and "Full screen").
class PreviewPane final : public QFrame
{
    Q_OBJECT
public:
    /// `facts`: what is known of the movies' insides, when the program keeps it.
    PreviewPane(MovieServer& server, Vault& vault, UserPrompt& prompt, FileDialogs& dialogs,
                QWidget* parent = nullptr, const MovieFactsKeeper* facts = nullptr);
    ~PreviewPane() override;
    Q_DISABLE_COPY_MOVE(PreviewPane)

    FlashPlayer& player() const { return *m_player; }

    /// Starts the web engine; called once the main window is up.
    void start();
    /// Makes the player's web view only: the window is made anew for it, best while it is new.
    void createView();

    /// Shows the selected item when preview is on: its file once downloaded, its address
    /// otherwise. The movie playing already is not restarted.
    void showItem(const ItemRecord& item);
    /// Nothing selected: the empty stage.
    void showNothing();
    /// The player's frame when it plays `file`; a null image otherwise.
    QImage frameOf(const QString& file) const;

    /// Stops the player and opens the stand-alone player on its movie; plays again after.
    void but_maxize_flashClick();
    /// Saves the current frame as a JPEG picture the user names.
    void btnSaveFileClick();

private:
    void chk_previewClick(bool checked);
    void followOptions();
    void showFacts();
    /// What is inside the downloaded movie on the stage, once the keeper has read it; the pane
    /// never reads it itself.
    const SwfContents* insideFacts() const;

    std::unique_ptr<Ui::PreviewPane> m_ui;
    FlashPlayer* m_player;
    MovieServer& m_server;
    Vault& m_vault;
    UserPrompt& m_prompt;
    FileDialogs& m_dialogs; ///< the snapshot's save dialog
    const MovieFactsKeeper* m_facts;
    ItemRecord m_item;             ///< the item on the stage
    bool m_waitsForInside = false; ///< its line is shown without what is inside, not read yet
    bool m_showsItem = false;      ///< an item's movie is on the stage, not the placeholder
    QString m_failure;             ///< the failed download the placeholder stands for
    QString m_itemFile;            ///< the downloaded file on the stage, empty for an address
};

/// The head bar's line of a movie's facts, from the player's metadata.
QString MovieFactsText(const QJsonObject& facts);
/// What the head bar's line adds from inside the movie: its ActionScript and its title.
QString InsideFactsText(const SwfContents& inside);
/// The rest of what is inside, a fact a line, for the line's tooltip.
QString InsideFactsDetails(const SwfContents& inside);
/// Everything read from inside the movie, a caption and its value each, for the info pane.
QList<std::pair<QString, QString>> InsideFactsRows(const SwfContents& inside);
