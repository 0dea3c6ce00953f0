#pragma once

#include "httpclient.h"

// Where the community's web server is: one of the build's hosts, and whether it is reached over
// TLS (the build's scheme), with the port that scheme uses unless the host names one.
WebServer communityServer(const char* hostText);
