#pragma once

#include "background.h"

#include <QByteArray>
#include <QCache>
#include <QImage>
#include <QObject>
#include <QSet>
#include <QString>

#include <deque>

/// The movies' pictures as the gallery shows them: read from the picture cache off the window
/// thread as tiles come into view, scaled to the tile once, and kept in a memory cache of bounded
/// size. A picture asked for and not read yet is read soon, the latest asked first (what scrolled
/// into view last is what the user looks at).
class PictureShelf final : public QObject
{
    Q_OBJECT
public:
    /// Pictures are kept scaled to fit `box`, ready to be drawn as they are, `budgetBytes` of
    /// them.
    PictureShelf(QSize box, qint64 budgetBytes, QObject* parent = nullptr);
    ~PictureShelf() override;
    Q_DISABLE_COPY_MOVE(PictureShelf)

    /// What the cache holds for a content.
    struct Shelved
    {
        QImage picture;  ///< null: none (yet)
        QString failure; ///< why the movie could not be drawn, when it could not
    };
    /// The content's picture when it was read; null otherwise, and it is read.
    const Shelved* find(const QByteArray& sha256);
    /// The cache drew the content anew: it is read again when next asked for.
    void forget(const QByteArray& sha256);

signals:
    /// The content's picture was read and can be found.
    void shelved(const QByteArray& sha256);

private:
    void readNext();

    const QSize m_box;
    QCache<QByteArray, Shelved> m_shelf;
    std::deque<QByteArray> m_wanted;
    QSet<QByteArray> m_asked;
    Background::Handle m_reading;
};
