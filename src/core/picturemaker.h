#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

#include <deque>
#include <optional>

class QProcess;

/// The program's side of the picture helper (`clipvault --make-pictures`): one process, started
/// when a picture is asked for and kept while more come, drawing one movie at a time at the
/// lowest priority; it ends once nothing was asked for a few seconds. A helper that ends while it
/// draws is started again for the next movie; the movie it was drawing is told as failed. The
/// helper ends with this object, and nobody waits for it to have ended.
class PictureMaker final : public QObject
{
    Q_OBJECT
public:
    /// `program`: the clipvault executable, whose helper mode draws.
    explicit PictureMaker(QString program, QObject* parent = nullptr);
    ~PictureMaker() override;
    Q_DISABLE_COPY_MOVE(PictureMaker)

    /// Draws the movie `file` into the PNG `out`, after the movies asked for before. `address`:
    /// the web address it was filed under, if any; such a movie reads its kept files, never
    /// the files beside it.
    void make(const QString& file, const QString& out, const QString& address = {});
    /// Forgets the movies waiting and ends the helper.
    void stop();
    bool isIdle() const { return !m_current && m_waiting.empty(); }

signals:
    /// The movie was drawn into its PNG, or could not be, for `reason`.
    void made(const QString& file, bool ok, const QString& reason);

private:
    struct Request
    {
        QString file;
        QString out;
        QString address;
    };
    void next();
    void readAnswers();
    void helperEnded();
    void answer(bool ok, const QString& reason);
    /// Ends an idle helper; the next picture starts one again.
    void rest();

    /// How long an idle helper waits for more before it ends.
    static constexpr int kRestAfterMs = 3000;

    QString m_program;
    QProcess* m_helper = nullptr;
    std::deque<Request> m_waiting;
    std::optional<Request> m_current;
    QByteArray m_answers;
    QTimer m_rest;
};
