#include "hidpiimages.h"

#include <QFile>
#include <QGuiApplication>
#include <QIcon>
#include <QPixmap>
#include <QRegularExpression>
#include <QStringList>
#include <QWidget>

QIcon launcherIcon() {
    // Pixmaps rather than files: QIcon::addFile adds the twin of a file by itself on a
    // high-density system, and would then hold the large picture twice.
    QIcon icon;
    icon.addPixmap(QPixmap(QStringLiteral(":/iconlauncher.png")));
    // Read from a file named @2x, the picture would count as 128 pixels at twice the density;
    // the window system asks for its icon by pixels, and must find 256 of them.
    QPixmap large(QStringLiteral(":/iconlauncher@2x.png"));
    large.setDevicePixelRatio(1.0);
    icon.addPixmap(large);
    return icon;
}

QString sheetForDensity(const QString& sheet, qreal devicePixelRatio) {
    // Qt takes the twin for any ratio above 1 (it rounds the ratio up), so the cuts must follow
    // from the same point on.
    if (devicePixelRatio <= 1.0)
        return sheet;
    static const QRegularExpression sliced(
        QStringLiteral(R"((border-image\s*:\s*url\(\s*)([^)\s]+)\.png(\s*\))((?:\s+\d+){1,4}))"));
    QString result;
    qsizetype copied = 0;
    QRegularExpressionMatchIterator it = sliced.globalMatch(sheet);
    while (it.hasNext()) {
        const QRegularExpressionMatch match = it.next();
        const QString twin = match.captured(2) + QStringLiteral("@2x.png");
        const QStringList cuts = match.captured(4).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        QStringList doubled;
        bool hasSlices = false;
        for (const QString& cut : cuts) {
            const int value = cut.toInt();
            hasSlices = hasSlices || value != 0;
            doubled.append(QString::number(2 * value));
        }
        // Without slices the whole picture fills the widget, which Qt gets right by itself.
        if (!hasSlices || !QFile::exists(twin))
            continue;
        result += QStringView(sheet).mid(copied, match.capturedStart() - copied);
        // Quoted: Qt's sheet parser reads an "@" in a bare url as the start of a rule.
        result += match.captured(1) + QLatin1Char('"') + twin + QLatin1Char('"') +
                  match.captured(3) + QLatin1Char(' ') + doubled.join(QLatin1Char(' '));
        copied = match.capturedEnd();
    }
    if (copied == 0)
        return sheet;
    result += QStringView(sheet).mid(copied);
    return result;
}

void useHighDensityImages(QWidget* window) {
    window->setWindowIcon(launcherIcon());
    // The densest screen decides: the twin with its own cuts is reduced cleanly on an ordinary
    // screen beside it, where the ordinary picture would be torn by Qt on the dense one.
    const qreal ratio = qGuiApp->devicePixelRatio();
    QList<QWidget*> widgets = window->findChildren<QWidget*>();
    widgets.prepend(window);
    for (QWidget* widget : widgets) {
        const QString sheet = widget->styleSheet();
        const QString fitted = sheetForDensity(sheet, ratio);
        if (fitted != sheet)
            widget->setStyleSheet(fitted);
    }
}
