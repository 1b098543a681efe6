#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>

namespace transfer {
class Connections;
}

/// What fetching one page gave.
struct PageReply
{
    bool ok = false;
    QByteArray body;        ///< cut at kMaxPageBody
    QString finalUrl;       ///< the address after redirects, which the page's references resolve on
    QByteArray contentType; ///< the Content-Type header, whose charset the page is read in
    QString error;          ///< why it failed, as the user is told
    bool gone = false;      ///< the address no longer gives the page: no host, refused, 404, 410
};

/// The most of a page body the detection reads: the transfer ends there.
inline constexpr qsizetype kMaxPageBody = qsizetype(16) << 20;
/// The longest one page may take, stalls included.
inline constexpr int kPageDeadlineMs = 60 * 1000;

/// Fetches a web page as the detection does, on the calling thread (run it on a worker): an
/// HTTP/1.0 GET with Host, Accept and User-Agent, redirects followed, through the desktop's
/// proxy. A status of 400 or above fails with the reply's reason phrase; a name that does not
/// resolve fails with "can't resolve hostname to IP address", a connection that fails with
/// "can't connect: <system text> (Error #<number>)". A body past kMaxPageBody is cut there and
/// its transfer closed; a page that has not arrived within `deadlineMs` fails. Setting
/// `cancelled` ends it at once. With `kept`, it goes over the connections a detection keeps
/// from page to page.
PageReply FetchPage(const QString& url, const std::atomic<bool>& cancelled,
                    int deadlineMs = kPageDeadlineMs, transfer::Connections* kept = nullptr);

/// The detection's request headers.
inline constexpr char kDetectAgent[] = "Mozilla/3.0 (compatible)";
inline constexpr char kDetectAccept[] = "image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*";
