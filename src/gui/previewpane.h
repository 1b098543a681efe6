#pragma once

#include <QObject>
#include <QString>

class FileDialogs;
class FlashPlayer;
class MovieServer;
class QCheckBox;
class QHBoxLayout;
class QJsonObject;
class QLabel;
class QToolButton;
class QWidget;
struct ItemRecord;
struct OptionsRecord;
class UserPrompt;
class Vault;

/// The preview pane of the main window: the Flash player with its head bar ("Preview", the
/// snapshot button, "Full screen" and the movie's facts).
class PreviewPane final : public QObject
{
    Q_OBJECT
public:
    /// The parts of the main form it lives in: the bar above the player (`headBar`, which holds
    /// the "Preview" check box, and into which the pane adds its own buttons and facts) and the
    /// place the player fills.
    struct Places
    {
        QHBoxLayout& headBar;
        QCheckBox& preview;
        QWidget& playerHost;
    };
    PreviewPane(Places places, MovieServer& server, Vault& vault, UserPrompt& prompt,
                FileDialogs& dialogs, QObject* parent = nullptr);

    FlashPlayer& player() const { return *m_player; }

    /// Starts the web engine; called once the main window is up.
    void start();

    /// Shows the selected item when preview is on: its file once downloaded, its address
    /// otherwise. The movie playing already is not restarted.
    void showItem(const ItemRecord& item);
    /// Nothing selected: the empty stage.
    void showNothing();

    /// Stops the player and opens the stand-alone player on its movie; plays again after.
    void but_maxize_flashClick();
    /// Saves the current frame as a JPEG picture the user names.
    void btnSaveFileClick();

private:
    void chk_previewClick(bool checked);
    void followOptions();
    void showFacts();

    FlashPlayer* m_player;
    MovieServer& m_server;
    Vault& m_vault;
    UserPrompt& m_prompt;
    FileDialogs& m_dialogs; ///< the snapshot's save dialog
    QCheckBox* m_preview;
    QToolButton* m_snapshot;
    QToolButton* m_fullScreen;
    QLabel* m_facts;
    bool m_showsItem = false; ///< an item's movie is on the stage, not the placeholder
    QString m_itemFile;       ///< the downloaded file on the stage, empty for an address
};

/// The head bar's line of a movie's facts, from the player's metadata.
QString MovieFactsText(const QJsonObject& facts);
