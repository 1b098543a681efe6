#pragma once

// How the tool asks for a movie, for the request of the full command and of the plain download
// alike: the whole file with its size announced, a Flash movie unless any file is asked for, and
// a copy from a cache between is as good.
namespace cli {

template <typename Request>
void AskForMovie(Request& request, bool anyFile)
{
    request.binaryData = true;
    request.flashMovieOnly = !anyFile;
    request.useCache = true;
}

} // namespace cli
