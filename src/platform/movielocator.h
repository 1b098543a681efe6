#pragma once

#include "browseraccess.h"

#include <QObject>
#include <QPoint>
#include <QString>

#include <optional>

/// Finds the Flash movie under a screen point in the browser's visible page without ever holding
/// the caller: the question is asked, the answer comes by signal. One question is answered at a
/// time; a point asked while another is answered waits, and a later point replaces it.
class MovieLocator : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    /// Asks for the movie under `screen` in the browser whose debugging port is `port`.
    virtual void locate(quint16 port, QPoint screen) = 0;
    /// Pauses the movie under `screen` in the page it was last found in, when the page plays it
    /// with Ruffle. Nothing answers.
    virtual void pause(QPoint screen) = 0;
    /// The address of the page the last movie was looked for in; empty when none.
    virtual QString pageUrl() const = 0;

signals:
    /// The answer for a point: the movie there, or none (also when the browser did not answer).
    void located(QPoint screen, const std::optional<MovieAtPoint>& movie);
};
