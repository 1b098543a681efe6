#include "pagefetch.h"

#include "filetransfer.h"

#include <cstring>

namespace {

/// Why a page did not come, as the detection tells it.
QString pageFailure(const transfer::Outcome& outcome, int deadlineMs)
{
    switch (outcome.failure) {
    case transfer::Failure::Cancelled:
        return QStringLiteral("the detection was cancelled");
    case transfer::Failure::TimedOut:
        return QStringLiteral("the page did not arrive within %1 seconds")
            .arg((deadlineMs + 999) / 1000);
    case transfer::Failure::NoHost:
        return QStringLiteral("can't resolve hostname to IP address");
    case transfer::Failure::Refused:
        return QStringLiteral("can't connect: %1 (Error #%2)")
            .arg(QString::fromLocal8Bit(std::strerror(outcome.systemError)))
            .arg(outcome.systemError);
    default:
        return QString::fromStdString(outcome.error);
    }
}

} // namespace

PageReply FetchPage(const QString& url, const std::atomic<bool>& cancelled, int deadlineMs,
                    transfer::Connections* kept)
{
    transfer::Request request = WebRequest(url);
    request.agent = kDetectAgent;
    request.acceptTypes = kDetectAccept;
    request.useCache = true;
    request.anyStatus = true; // judged below, with the reply's own words
    request.maxSize = kMaxPageBody;
    request.cutAtMaxSize = true;
    request.timeLimitMs = std::max(deadlineMs, 1);
    transfer::FlagWatcher watcher(cancelled);
    transfer::Outcome outcome = transfer::Fetch(request, watcher, kept);

    PageReply reply;
    reply.finalUrl = QString::fromStdString(outcome.finalUrl);
    if (!outcome.succeeded) {
        reply.error = pageFailure(outcome, deadlineMs);
        reply.gone = outcome.addressGone;
    } else if (outcome.status >= 400) {
        reply.error = outcome.reason.empty() ? QStringLiteral("status %1").arg(outcome.status)
                                             : QString::fromStdString(outcome.reason);
        reply.gone = outcome.status == 404 || outcome.status == 410;
    } else {
        reply.ok = true;
        reply.body = QByteArray::fromStdString(outcome.body);
        reply.contentType = QByteArray::fromStdString(outcome.contentType);
    }
    return reply;
}
