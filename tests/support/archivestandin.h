#pragma once

#include "testserver.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>
#include <QUrl>
#include <QUrlQuery>

#include <algorithm>
#include <cmath>
#include <mutex>
#include <string>
#include <vector>

/// A local stand-in for the web archive: its CDX index in JSON (the first row names the
/// columns; pages of at most `pageRows` rows, each but the last followed by an empty row and a
/// resume key) and its raw captures under "/web/<timestamp>id_/<original>". It can answer 429
/// with Retry-After to the first index queries, and it logs each request with its time.
class ArchiveStandIn
{
public:
    struct Capture
    {
        std::string timestamp;
        std::string original;
        std::string mimetype = "application/x-shockwave-flash";
        int status = 200;
        std::string digest;
        std::string body;
        bool cutShort = false; ///< the connection ends halfway through the body it announced
    };

    ArchiveStandIn()
    {
        m_server.server().Get("/cdx/search/cdx", [this](const httplib::Request& request,
                                                        httplib::Response& response) {
            log("cdx");
            if (busyAnswers > 0) {
                --busyAnswers;
                response.status = 429;
                response.set_header("Retry-After", std::to_string(retryAfterSeconds));
                return;
            }
            response.set_content(index(request), "application/json");
        });
        m_server.server().Get(R"(/web/(\d+)id_/(.*))", [this](const httplib::Request& request,
                                                              httplib::Response& response) {
            log("raw");
            std::string original = request.matches[2];
            if (!request.params.empty()) {
                // The capture's own query came through as the request's.
                const std::size_t at = request.target.find('?');
                original += request.target.substr(at);
            }
            const std::string asked = request.matches[1].str();
            const Capture* nearest = nullptr;
            for (const Capture& capture : captures) {
                if (capture.original != original)
                    continue;
                if (capture.timestamp == asked && capture.cutShort) {
                    const std::string half = capture.body.substr(0, capture.body.size() / 2);
                    response.set_content_provider(
                        capture.body.size(), capture.mimetype,
                        [half](size_t offset, size_t, httplib::DataSink& sink) {
                            if (offset == 0)
                                sink.write(half.data(), half.size());
                            return false; // and the connection ends
                        });
                    return;
                }
                if (capture.timestamp == asked) {
                    response.status = capture.status;
                    response.set_content(capture.body, capture.mimetype);
                    return;
                }
                if (!nearest ||
                    distance(capture.timestamp, asked) < distance(nearest->timestamp, asked))
                    nearest = &capture;
            }
            // As the archive does: a time it has no capture of leads to the nearest one.
            if (nearest)
                response.set_redirect("/web/" + nearest->timestamp + "id_/" + original);
            else
                response.status = 404;
        });
    }

    void start() { m_server.start(); }
    QString address() const { return QString::fromStdString(m_server.url("")); }

    /// The requests so far: "cdx" or "raw", each with its milliseconds since the stand-in began.
    std::vector<std::pair<std::string, qint64>> requests()
    {
        std::lock_guard lock(m_mutex);
        return m_requests;
    }

    std::vector<Capture> captures; ///< set before start()
    int busyAnswers = 0;           ///< index queries answered 429 first
    int retryAfterSeconds = 1;
    int pageRows = 1000;
    bool endlessKeys = false; ///< every page, even past the rows, gives a new resume key

private:
    void log(const char* what)
    {
        std::lock_guard lock(m_mutex);
        if (!m_clock.isValid())
            m_clock.start();
        m_requests.emplace_back(what, m_clock.elapsed());
    }

    /// How far apart two times are; a short one ("2") stands for the latest time it begins.
    static long double distance(const std::string& a, std::string b)
    {
        b.resize(14, '9');
        return std::abs(std::stold(a) - std::stold(b));
    }

    static std::string bare(std::string address)
    {
        for (const char* scheme : {"http://", "https://"}) {
            if (address.rfind(scheme, 0) == 0)
                address = address.substr(std::string(scheme).size());
        }
        return address.rfind("www.", 0) == 0 ? address.substr(4) : address;
    }

    std::string index(const httplib::Request& request) const
    {
        const std::string url = bare(request.get_param_value("url"));
        const bool prefix = request.get_param_value("matchType") == "prefix";
        const bool onlyGood = request.get_param_value("filter") == "statuscode:200";
        const bool collapse = request.get_param_value("collapse") == "digest";
        std::vector<const Capture*> rows;
        for (const Capture& capture : captures) {
            const std::string address = bare(capture.original);
            if ((prefix ? address.rfind(url, 0) == 0 : address == url) &&
                (!onlyGood || capture.status == 200))
                rows.push_back(&capture);
        }
        std::stable_sort(rows.begin(), rows.end(), [](const Capture* a, const Capture* b) {
            return std::tie(a->original, a->timestamp) < std::tie(b->original, b->timestamp);
        });
        if (collapse) {
            rows.erase(std::unique(rows.begin(), rows.end(),
                                   [](const Capture* a, const Capture* b) {
                                       return a->original == b->original && a->digest == b->digest;
                                   }),
                       rows.end());
        }
        const std::size_t from =
            request.has_param("resumeKey") ? std::stoul(request.get_param_value("resumeKey")) : 0;
        const std::size_t limit =
            request.has_param("limit") ? std::stoul(request.get_param_value("limit")) : rows.size();
        const std::size_t count = std::min(
            {limit, static_cast<std::size_t>(pageRows), rows.size() - std::min(from, rows.size())});
        std::string json =
            R"([["urlkey","timestamp","original","mimetype","statuscode","digest","length"])";
        for (std::size_t i = from; i < from + count; ++i) {
            const Capture& c = *rows[i];
            json += ",[\"key\",\"" + c.timestamp + "\",\"" + c.original + "\",\"" + c.mimetype +
                    "\",\"" + std::to_string(c.status) + "\",\"" + c.digest + "\",\"" +
                    std::to_string(c.body.size()) + "\"]";
        }
        if ((from + count < rows.size() || endlessKeys) &&
            request.get_param_value("showResumeKey") == "true")
            json += ",[],[\"" + std::to_string(from + std::max<std::size_t>(count, 1)) + "\"]";
        return json + "]";
    }

    TestServer m_server;
    std::mutex m_mutex;
    QElapsedTimer m_clock;
    std::vector<std::pair<std::string, qint64>> m_requests;
};
