#pragma once

#include "background.h"
#include "picturemaker.h"

#include <QFileSystemWatcher>
#include <QHash>
#include <QObject>

class Catalogue;

/// A picture of every downloaded movie, for the program: gather() finds the movies whose
/// content the picture cache does not know (off the window thread, their SHA-256 taken there
/// when the item lacks one) and has the helper draw them one after the other, a movie that
/// fails getting a placeholder with its reason. Gathering again while it runs picks up what
/// came meanwhile; the helper ends at once with the keeper.
class PictureKeeper final : public QObject
{
    Q_OBJECT
public:
    /// `program`: the clipvault executable, whose helper mode draws.
    PictureKeeper(Catalogue& catalogue, const QString& program, QObject* parent = nullptr);
    ~PictureKeeper() override;
    Q_DISABLE_COPY_MOVE(PictureKeeper)

    void gather();
    bool isGathering() const { return m_looking.isRunning() || !m_maker.isIdle(); }

signals:
    /// `done` of the `total` movies of this gathering are drawn (or have their placeholder).
    void progress(int done, int total);
    /// The cache holds a picture or a placeholder of the content from now on.
    void pictureMade(const QByteArray& sha256);

private:
    struct Wanted
    {
        QString file;
        QByteArray sha256;
        QString address;
    };
    void take(const QList<Wanted>& wanted);
    void made(const QString& file, bool ok, const QString& reason);
    /// Gives the items the SHA-256 the look took of their files, when they still name them.
    void noteSha256(const QHash<QString, QByteArray>& found);
    /// Watches the pictures folder, once it is there: removed while the program runs, its
    /// pictures are drawn again.
    void watchFolder();
    void folderChanged();

    Catalogue& m_catalogue;
    PictureMaker m_maker;
    Background::Handle m_looking;
    QHash<QString, QByteArray> m_drawing; ///< file → its content, for the movies handed over
    int m_done = 0;
    int m_total = 0;
    bool m_again = false;
    QFileSystemWatcher m_folder;
};
