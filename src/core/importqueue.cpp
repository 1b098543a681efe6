#include "importqueue.h"

#include "catalogue.h"

#include <QElapsedTimer>

namespace {

/// Progress reaches the window at most this often.
constexpr int kProgressEveryMs = 200;

} // namespace

ImportQueue::ImportQueue(Catalogue& catalogue, QObject* parent)
    : QObject(parent)
    , m_catalogue(catalogue)
{
}

void ImportQueue::start(const ImportRequest& request, Done done)
{
    m_waiting.emplace_back(request, std::move(done));
    if (!m_running)
        startNext();
}

void ImportQueue::startNext()
{
    while (!m_running && !m_waiting.empty()) {
        const ImportRequest request = m_waiting.front().first;
        const Done done = std::move(m_waiting.front().second);
        m_waiting.pop_front();
        ImportPlan plan;
        QString error;
        if (!PlanImport(m_catalogue, request, plan, &error)) {
            ImportSummary summary;
            summary.source = request.source;
            summary.error = error;
            end(summary, done);
            continue;
        }
        m_running = true;
        m_reading = Background::run(this, [this, plan, done](const BackgroundTask& task) {
            QElapsedTimer sinceShown;
            sinceShown.start();
            const QString source = plan.request.source;
            ImportFindings findings =
                FindMoviesToImport(plan, task.stopped(), [&](int looked, int total) {
                    if (sinceShown.elapsed() < kProgressEveryMs)
                        return;
                    sinceShown.restart();
                    task.post(
                        [this, source, looked, total] { emit progress(source, looked, total); });
                });
            task.post([this, findings = std::move(findings), category = plan.request.category,
                       done]() mutable {
                m_running = false;
                end(FileFoundMovies(m_catalogue, category, std::move(findings)), done);
                startNext();
            });
        });
    }
}

void ImportQueue::end(const ImportSummary& summary, const Done& done)
{
    if (done)
        done(summary);
    emit finished(summary);
}
