#pragma once

#include <QDialog>

#include <memory>

class FileDialogs;
class FlashPlayer;
class MovieServer;
class PlayerReserve;

namespace Ui {
class TFlashPreview;
}

/// The stand-alone player "Flash Preview": a movie filling the window, and a bar to play another
/// by name or through a file dialog.
class TFlashPreview final : public QDialog
{
    Q_OBJECT
public:
    TFlashPreview(MovieServer& server, FileDialogs& dialogs, QWidget* parent = nullptr);
    ~TFlashPreview() override;
    Q_DISABLE_COPY_MOVE(TFlashPreview)

    /// Stops the player, loads the movie and shows its name; the name is not examined.
    void PlayMovie(const QString& path);
    /// Puts the keyboard in the path, its text selected, ready for the next path.
    void focusPath();
    FlashPlayer& player() const { return *m_player; }

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void but_goClick();
    void btn_browseClick();

    std::unique_ptr<Ui::TFlashPreview> m_ui;
    FlashPlayer* m_player;
    FileDialogs& m_dialogs; ///< the file dialog behind "Browse"
};

/// Opens the stand-alone player on a movie, modally, maximized.
void ShowFlashPreview(const QString& path, MovieServer& server, FileDialogs& dialogs,
                      QWidget* parent = nullptr);
/// Opens the stand-alone player on a movie as a window of its own, maximized and in front; it
/// goes when closed. For movies opened from the desktop (a file manager, `clipvault --play`).
/// With a reserve, the window is the one it keeps, its player started already.
TFlashPreview* OpenFlashPreview(const QString& path, MovieServer& server, FileDialogs& dialogs,
                                PlayerReserve* reserve = nullptr);
