#pragma once

#include "background.h"
#include "movieimport.h"

#include <QObject>

#include <deque>
#include <functional>

class Catalogue;

/// The program's imports, one at a time and in the order they were asked for: the files are
/// read off the window thread, and the catalogue is changed on it once they are. An import
/// still reading when the program quits stops at once; what it copied stays, unfiled.
class ImportQueue final : public QObject
{
    Q_OBJECT
public:
    explicit ImportQueue(Catalogue& catalogue, QObject* parent = nullptr);
    Q_DISABLE_COPY_MOVE(ImportQueue)

    /// Imports after those asked for before; `done`, when given, hears how it went.
    using Done = std::function<void(const ImportSummary& summary)>;
    void start(const ImportRequest& request, Done done = {});
    bool isRunning() const { return m_running; }

signals:
    /// The running import has looked at `done` of `total` files.
    void progress(const QString& source, int done, int total);
    /// An import ended (also one that could not start); its movies are filed.
    void finished(const ImportSummary& summary);

private:
    void startNext();
    void end(const ImportSummary& summary, const Done& done);

    Catalogue& m_catalogue;
    std::deque<std::pair<ImportRequest, Done>> m_waiting;
    Background::Handle m_reading;
    bool m_running = false;
};
