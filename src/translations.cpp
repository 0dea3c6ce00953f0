#include "translations.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QStringList>
#include <QTranslator>

#include <utility>

namespace translations {

namespace {

// Words of Qt's file dialog that Qt 6.4's French catalogue lacks: Qt 6 moved them to a context
// of their own, which the catalogue does not have yet, so the folder dialog's "Type" column read
// "Folder". Asked before Qt's catalogues, it answers for that context only.
class FileTypesInFrench : public QTranslator {
public:
    using QTranslator::QTranslator;
    bool isEmpty() const override { return false; }
    QString translate(const char* context, const char* sourceText, const char* disambiguation,
                      int n) const override {
        Q_UNUSED(disambiguation);
        Q_UNUSED(n);
        if (qstrcmp(context, "QAbstractFileIconProvider") != 0)
            return {};
        static const std::pair<const char*, const char*> words[] = {
            {"Folder", "Dossier"},     {"File Folder", "Dossier de fichiers"},
            {"Drive", "Lecteur"},      {"File", "Fichier"},
            {"Shortcut", "Raccourci"}, {"Alias", "Alias"},
            {"Unknown", "Inconnu"}};
        for (const auto& [english, french] : words) {
            if (qstrcmp(sourceText, english) == 0)
                return QString::fromUtf8(french);
        }
        return {};
    }
};

} // namespace

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
    // Installed last, so asked first.
    QCoreApplication::installTranslator(new FileTypesInFrench(&app));
    return installed;
}

} // namespace translations
