#include "curltransfer.h"

QString TransferEndAddress(CURL* curl, const QString& asked)
{
    const char* effective = nullptr;
    curl_easy_getinfo(curl, CURLINFO_EFFECTIVE_URL, &effective);
    return effective ? QString::fromUtf8(effective) : asked;
}
