#pragma once

class QCoreApplication;

namespace translations {

// The launcher speaks French only: Qt's own texts (the buttons of the questions, the folder
// dialog, the page's context menu) are put in French whatever the system's language. Returns
// how many of Qt's catalogues were found; none found leaves them in English.
int installQtFrench(QCoreApplication& app);

} // namespace translations
