#pragma once

#include "swfwriter.h"
#include "testserver.h"

#include <string>

/// Serves a page at `path` with a 300 × 200 embed of movies/m.swf below `above`, and the movie.
inline void ServeMoviePage(TestServer& server, const std::string& path, const std::string& above)
{
    server.server().Get(path, [above](const httplib::Request&, httplib::Response& reply) {
        reply.set_content("<body style='margin:0'>" + above +
                              "<embed src='movies/m.swf' type='application/x-shockwave-flash' "
                              "style='display:block;width:300px;height:200px'></body>",
                          "text/html");
    });
    server.server().Get("/movies/m.swf", [](const httplib::Request&, httplib::Response& reply) {
        const QByteArray movie = WriteSwf(SwfMovie());
        reply.set_content(movie.constData(), static_cast<size_t>(movie.size()),
                          "application/x-shockwave-flash");
    });
}
