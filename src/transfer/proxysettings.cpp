#include "proxysettings.h"

#include "plaintext.h"

#include <cstdlib>

bool SplitProxySetting(std::string_view setting, std::string& host, std::string& port)
{
    host.clear();
    port.clear();
    std::string_view text = Trimmed(setting);
    if (const std::size_t scheme = text.find("://"); scheme != std::string_view::npos)
        text.remove_prefix(scheme + 3);
    if (const std::size_t at = text.rfind('@'); at != std::string_view::npos)
        text.remove_prefix(at + 1); // credentials are not part of the address
    if (const std::size_t slash = text.find('/'); slash != std::string_view::npos)
        text = text.substr(0, slash);
    if (text.empty())
        return false;
    const std::size_t colon = text.rfind(':');
    if (colon == std::string_view::npos) {
        port = text;
    } else {
        host = text.substr(0, colon);
        port = text.substr(colon + 1);
    }
    return true;
}

bool ReadBrowserProxy(std::string& host, std::string& port)
{
    for (const char* name :
         {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) {
        const char* value = std::getenv(name);
        if (value && !Trimmed(value).empty())
            return SplitProxySetting(value, host, port);
    }
    host.clear();
    port.clear();
    return false;
}
