#include "communityaddress.h"

#include "buildoptions.h"
#include "hostandport.h"
#include "httpclient.h"

WebServer communityServer(const char* hostText) {
    const bool secure = qstrcmp(vestrahal::kWebScheme, "https") == 0;
    const quint16 schemePort = secure ? 443 : 80;
    const QString text = QString::fromLatin1(hostText);
    // A build given a host the parser refuses still tries it as written: the report then says
    // which host could not be reached.
    const HostAndPort where =
        parseHostAndPort(text, schemePort).value_or(HostAndPort{text, schemePort});
    return {where.host, where.port, secure};
}
