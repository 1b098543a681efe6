#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>

/// What fetching one page gave.
struct PageReply
{
    bool ok = false;
    QByteArray body;  ///< cut at kMaxPageBody
    QString finalUrl; ///< the address after redirects, which the page's references resolve on
    QString error;    ///< why it failed, as the user is told
};

/// The most of a page body the detection reads.
inline constexpr qsizetype kMaxPageBody = qsizetype(16) << 20;

/// Fetches a web page as the detection does, on the calling thread (run it on a worker): an
/// HTTP/1.0 GET with Host, Accept and User-Agent, redirects followed, through the desktop's
/// proxy. A status of 400 or above fails with the reply's reason phrase; a name that does not
/// resolve fails with "can't resolve hostname to IP address", a connection that fails with
/// "can't connect: <system text> (Error #<number>)". Setting `cancelled` ends it at once.
PageReply FetchPage(const QString& url, const std::atomic<bool>& cancelled);

/// The detection's request headers.
inline constexpr char kDetectAgent[] = "Mozilla/3.0 (compatible)";
inline constexpr char kDetectAccept[] = "image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*";
