#pragma once

#include <QString>

// What the news view shows when a page cannot be loaded, instead of the engine's own English
// page on white: a French line in the window's dark colours, so that the white status text
// over it stays readable. The page asks for nothing over the network.
QString newsErrorPageHtml();
