#include "requesthead.h"

#include <QList>

RequestHead ParseRequestHead(QByteArrayView bytes, qsizetype limit)
{
    RequestHead head;
    // The head ends at an empty line; a line may end with CR LF or a bare LF.
    qsizetype end = -1;
    for (qsizetype at = bytes.indexOf('\n'); at >= 0; at = bytes.indexOf('\n', at + 1)) {
        const qsizetype next = at + 1;
        if (next < bytes.size() && bytes[next] == '\n') {
            end = next + 1;
            break;
        }
        if (next + 1 < bytes.size() && bytes[next] == '\r' && bytes[next + 1] == '\n') {
            end = next + 2;
            break;
        }
    }
    if (end < 0 || end > limit) {
        head.status =
            bytes.size() > limit || end > limit ? RequestHead::TooLarge : RequestHead::Incomplete;
        return head;
    }
    head.size = end;
    QByteArrayView line = bytes.first(bytes.indexOf('\n'));
    if (line.endsWith('\r'))
        line.chop(1);
    const QList<QByteArray> words = line.toByteArray().split(' ');
    if (words.size() != 3 || !words[2].startsWith("HTTP/") || !words[1].startsWith('/')) {
        head.status = RequestHead::Bad;
        return head;
    }
    head.status = RequestHead::Complete;
    head.method = words[0];
    head.target = words[1];
    // The header lines between the request line and the empty line.
    const QList<QByteArray> lines = bytes.first(end).toByteArray().split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray& header = lines[i];
        const qsizetype colon = header.indexOf(':');
        if (colon > 0 && header.first(colon).trimmed().toLower() == "host") {
            head.host = header.mid(colon + 1).trimmed();
            break;
        }
    }
    return head;
}
