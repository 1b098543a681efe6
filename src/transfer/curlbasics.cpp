#include "curlbasics.h"

#include "proxysettings.h"

#include <cstdlib>
#include <mutex>
#include <string>

namespace {

constexpr long kConnectTimeoutSeconds = 30;
constexpr long kMaxRedirects = 10;

/// The one proxy policy of every transfer: the desktop's proxy (see ReadBrowserProxy), or none;
/// the hosts no_proxy names, and this machine's own addresses always, are reached directly.
void SetProxyPolicy(CURL* curl)
{
    std::string host;
    std::string port;
    const std::string proxy =
        ReadBrowserProxy(host, port) && !host.empty() ? host + ':' + port : std::string();
    curl_easy_setopt(curl, CURLOPT_PROXY, proxy.c_str()); // empty: none, whatever is set
    const char* noProxy = std::getenv("no_proxy");
    if (!noProxy || !*noProxy)
        noProxy = std::getenv("NO_PROXY");
    std::string direct = noProxy && *noProxy ? std::string(noProxy) + ',' : std::string();
    direct += "localhost,127.0.0.1,::1";
    curl_easy_setopt(curl, CURLOPT_NOPROXY, direct.c_str());
}

} // namespace

void InitCurlOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

void SetTransferCallbacks(CURL* curl, curl_write_callback onHeader, curl_write_callback onBody,
                          curl_xferinfo_callback onTick, void* user)
{
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, onHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, user);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, onBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, user);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, onTick);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, user);
}

long TransferStatus(CURL* curl)
{
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    return status;
}

void SetTransferBasics(CURL* curl, const char* url, char* errorBuffer, long stallSeconds)
{
    curl_easy_setopt(curl, CURLOPT_URL, url);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorBuffer);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_0));
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, kMaxRedirects);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, stallSeconds);
    SetProxyPolicy(curl);
}
