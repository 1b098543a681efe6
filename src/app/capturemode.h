#pragma once

#include <QString>

/// What `clipvault --capture` is asked: play a movie file without a window and keep what it
/// loads.
struct CaptureRequest
{
    QString file;    ///< the movie, in its kept layout
    QString address; ///< where it came from
    int seconds = 10;
};

/// Plays the movie until it has asked for nothing new for two seconds, or `seconds` have passed,
/// keeping each file it loads as the movie server does for a catalogued movie. Returns the exit
/// code: 0 when the movie played, 1 when it could not.
int RunCapture(const CaptureRequest& request);
