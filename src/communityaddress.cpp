#include "communityaddress.h"

#include "buildoptions.h"
#include "httpclient.h"

WebServer communityServer(const char* hostText) {
    const bool secure = qstrcmp(vestrahal::kWebScheme, "https") == 0;
    const HostAndPort where = splitHostAndPort(QString::fromLatin1(hostText), secure ? 443 : 80);
    return {where.host, where.port, secure};
}
