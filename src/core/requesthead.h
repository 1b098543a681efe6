#pragma once

#include <QByteArray>
#include <QByteArrayView>

/// The head of an HTTP request as it arrived so far.
struct RequestHead
{
    enum Status
    {
        Incomplete, ///< no empty line yet
        Complete,
        TooLarge, ///< no empty line within the limit
        Bad,      ///< a request line that is no "METHOD /target HTTP/x"
    };
    Status status = Incomplete;
    QByteArray method;
    QByteArray target;
    QByteArray host;    ///< the Host header's value, trimmed; empty when there is none
    qsizetype size = 0; ///< bytes of the head, its empty line included
};

/// Reads the head of a request from its first bytes: the request line, and where the empty line
/// ends it. Lines may end with CR LF or a bare LF.
RequestHead ParseRequestHead(QByteArrayView bytes, qsizetype limit);
