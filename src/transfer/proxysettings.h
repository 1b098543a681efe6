#pragma once

#include <string>
#include <string_view>

/// The desktop's proxy for plain web requests: http_proxy (or HTTP_PROXY), then https_proxy,
/// then all_proxy. True with host and port when one is set; the text is split at its last ":"
/// after any scheme and before any path ("host:3128" gives host and "3128"; without ":" the host
/// is empty and the whole text is the port, as the proxy settings have always been read).
/// A missing setting is simply false, never an error.
bool ReadBrowserProxy(std::string& host, std::string& port);

/// The same from explicit text, for tests and callers holding a setting of their own.
bool SplitProxySetting(std::string_view setting, std::string& host, std::string& port);
