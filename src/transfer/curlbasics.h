#pragma once

#include <curl/curl.h>

// What every HTTP transfer of the program shares on libcurl: the downloads and the page fetches
// of the detection.

/// Initialises libcurl once per process; call before the first handle is made.
void InitCurlOnce();

/// The options common to every transfer: the address, an error buffer, no signals, HTTP/1.0
/// over http and https only, at most 10 redirects followed, 30 seconds to connect, and failure
/// once less than a byte a second arrived for `stallSeconds`; and one proxy policy: the
/// desktop's proxy (http_proxy, then https_proxy, then all_proxy), except for the hosts no_proxy
/// names and this machine's own addresses.
void SetTransferBasics(CURL* curl, const char* url, char* errorBuffer, long stallSeconds);

/// Hands a transfer's header lines, body bytes and progress ticks to the three functions, each
/// with `user`; a tick that returns non-zero ends the transfer.
void SetTransferCallbacks(CURL* curl, curl_write_callback onHeader, curl_write_callback onBody,
                          curl_xferinfo_callback onTick, void* user);

/// The HTTP status of a finished transfer's last answer; 0 when no answer came.
long TransferStatus(CURL* curl);
