#include "translations.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QStringList>
#include <QTranslator>

namespace translations {

int installQtFrench(QCoreApplication& app) {
    // Where the system keeps Qt's catalogues (Debian's qt6-translations-l10n), then the folder
    // windeployqt fills beside the program on Windows.
    const QStringList folders{
        QLibraryInfo::path(QLibraryInfo::TranslationsPath),
        QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("translations"))};
    int installed = 0;
    for (const char* catalogue : {"qtbase", "qtwebengine"}) {
        for (const QString& folder : folders) {
            auto* translator = new QTranslator(&app);
            if (translator->load(QLatin1String(catalogue) + QLatin1String("_fr"), folder) &&
                QCoreApplication::installTranslator(translator)) {
                ++installed;
                break;
            }
            delete translator;
        }
    }
    return installed;
}

} // namespace translations
