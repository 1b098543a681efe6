#include "proxysettings.h"

bool SplitProxySetting(const QString& setting, QString& host, QString& port)
{
    host.clear();
    port.clear();
    QString text = setting.trimmed();
    if (const qsizetype scheme = text.indexOf(QStringLiteral("://")); scheme >= 0)
        text = text.mid(scheme + 3);
    if (const qsizetype at = text.lastIndexOf(u'@'); at >= 0)
        text = text.mid(at + 1); // credentials are not part of the address
    if (const qsizetype slash = text.indexOf(u'/'); slash >= 0)
        text.truncate(slash);
    if (text.isEmpty())
        return false;
    const qsizetype colon = text.lastIndexOf(u':');
    if (colon < 0) {
        port = text;
    } else {
        host = text.left(colon);
        port = text.mid(colon + 1);
    }
    return true;
}

bool ReadBrowserProxy(QString& host, QString& port)
{
    for (const char* name :
         {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) {
        const QString value = qEnvironmentVariable(name);
        if (!value.trimmed().isEmpty())
            return SplitProxySetting(value, host, port);
    }
    host.clear();
    port.clear();
    return false;
}
