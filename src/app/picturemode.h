#pragma once

/// `clipvault --make-pictures`: the helper that draws the movies' pictures, for the program and
/// for `clipvault-cli picture`. It reads one request a line on stdin, {"file": movie, "out":
/// png}, draws the movie off-screen as it shows after playing about a second (its first frame
/// when it has one), writes the picture, and answers a line on stdout, {"file", "ok", "reason"}.
/// One page, muted and reaching no network beyond its own movie server, draws movie after
/// movie at low priority; it ends when stdin does. Returns the exit code.
int RunPictureMaker();
