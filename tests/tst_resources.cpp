// The launcher's looks depend on sixteen files compiled into the binary, and on the @2x twins of
// its pictures for dense screens: a wrong size makes a button's border-image tear, a palette PNG
// loses its soft edges, a blown-up twin looks soft, a PNG-compressed icon entry is ignored by
// older Windows shells, and a missing icon group leaves the .exe with the default icon. These
// checks read the files the way the widgets and the Windows toolchain will.

#include "imagedifference.h"

#include <QByteArray>
#include <QDirIterator>
#include <QFile>
#include <QHash>
#include <QImage>
#include <QProcess>
#include <QSet>
#include <QStandardPaths>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <algorithm>
#include <optional>

namespace {

const QByteArray pngSignature("\x89PNG\r\n\x1a\n", 8);

// The five sizes Windows picks from for title bars, the taskbar, Explorer and Alt+Tab.
const QList<int> iconSizes = {16, 32, 48, 64, 128};

quint16 le16(const QByteArray& data, qsizetype at) {
    return qFromLittleEndian<quint16>(data.constData() + at);
}

quint32 le32(const QByteArray& data, qsizetype at) {
    return qFromLittleEndian<quint32>(data.constData() + at);
}

QByteArray readResource(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

// What a bitmap icon image must look like: a 40-byte BITMAPINFOHEADER, then top and bottom
// halves (XOR and AND masks) counted in the height, 32 bits per pixel, uncompressed.
QString dibProblem(const QByteArray& dib, int size) {
    if (dib.startsWith(pngSignature))
        return QStringLiteral("PNG-compressed instead of a DIB");
    if (dib.size() < 40)
        return QStringLiteral("shorter than a BITMAPINFOHEADER");
    if (le32(dib, 0) != 40)
        return QStringLiteral("header size %1 instead of 40").arg(le32(dib, 0));
    if (qint32(le32(dib, 4)) != size || qint32(le32(dib, 8)) != 2 * size)
        return QStringLiteral("bitmap %1x%2 for a %3 px entry")
            .arg(qint32(le32(dib, 4)))
            .arg(qint32(le32(dib, 8)))
            .arg(size);
    if (le16(dib, 14) != 32)
        return QStringLiteral("%1 bits per pixel").arg(le16(dib, 14));
    if (le32(dib, 16) != 0)
        return QStringLiteral("compression %1 instead of BI_RGB").arg(le32(dib, 16));
    const qsizetype pixels = qsizetype(size) * size * 4;
    const qsizetype andMask = qsizetype(((size + 31) / 32) * 4) * size;
    if (dib.size() < 40 + pixels + andMask)
        return QStringLiteral("%1 bytes, too short for its pixels and mask").arg(dib.size());
    return {};
}

// Alpha of a pixel of a 32-bit DIB, whose rows are stored bottom-up in BGRA order.
int dibAlpha(const QByteArray& dib, int size, int x, int y) {
    const qsizetype row = size - 1 - y;
    return quint8(dib.at(40 + (row * size + x) * 4 + 3));
}

struct ResourceEntry {
    quint16 typeId = 0;
    QString typeName;
    quint16 nameId = 0;
    QString name;
    QByteArray data;
};

// A .res file is a run of records, each a header (sizes, then TYPE and NAME as either 0xFFFF
// followed by an ordinal or a zero-terminated UTF-16 string, then fixed fields) and its data,
// both padded to a four-byte boundary.
std::optional<QList<ResourceEntry>> parseRes(const QByteArray& res) {
    QList<ResourceEntry> entries;
    qsizetype at = 0;
    auto readId = [&res](qsizetype& pos, quint16& id, QString& name) {
        if (pos + 2 > res.size())
            return false;
        if (le16(res, pos) == 0xFFFF) {
            if (pos + 4 > res.size())
                return false;
            id = le16(res, pos + 2);
            pos += 4;
            return true;
        }
        for (;;) {
            if (pos + 2 > res.size())
                return false;
            const quint16 unit = le16(res, pos);
            pos += 2;
            if (unit == 0)
                return true;
            name.append(QChar(unit));
        }
    };
    while (at < res.size()) {
        if (at + 8 > res.size())
            return std::nullopt;
        const quint32 dataSize = le32(res, at);
        const quint32 headerSize = le32(res, at + 4);
        ResourceEntry entry;
        qsizetype pos = at + 8;
        if (!readId(pos, entry.typeId, entry.typeName) || !readId(pos, entry.nameId, entry.name))
            return std::nullopt;
        if (headerSize < pos - at || quint64(at) + headerSize + dataSize > quint64(res.size()))
            return std::nullopt;
        entry.data = res.mid(at + headerSize, dataSize);
        entries.append(entry);
        at += (headerSize + dataSize + 3) & ~3u;
    }
    return entries;
}

// What a VERSIONINFO resource says: the fixed part and the strings, by key, of each table.
struct VersionInfo {
    QByteArray fixed;
    QHash<QString, QString> strings;
    QStringList tables;
    QByteArray translation;
};

// VS_VERSIONINFO is a tree of nodes: length, value length, type (1: text, counted in UTF-16
// units), a zero-terminated UTF-16 key, then the value and the children, each starting on a
// four-byte boundary. A string's parent is its table, named by language and code page.
bool parseVersionNode(const QByteArray& data, qsizetype at, qsizetype end, int depth,
                      const QString& parent, VersionInfo& info) {
    if (depth > 4 || at + 6 > end)
        return false;
    const qsizetype length = le16(data, at);
    const qsizetype valueLength = le16(data, at + 2);
    const bool text = le16(data, at + 4) == 1;
    if (length < 6 || at + length > end)
        return false;
    const qsizetype nodeEnd = at + length;
    QString key;
    qsizetype pos = at + 6;
    for (;; pos += 2) {
        if (pos + 2 > nodeEnd)
            return false;
        if (le16(data, pos) == 0)
            break;
        key.append(QChar(le16(data, pos)));
    }
    pos = (pos + 2 + 3) & ~qsizetype(3);
    const qsizetype valueBytes = std::min(text ? valueLength * 2 : valueLength, nodeEnd - pos);
    const QByteArray value = data.mid(pos, std::max<qsizetype>(valueBytes, 0));
    if (depth == 0)
        info.fixed = value;
    else if (text && depth == 3)
        info.strings.insert(key,
                            QString::fromUtf16(reinterpret_cast<const char16_t*>(value.constData()),
                                               value.size() / 2)
                                .section(QChar(0), 0, 0));
    else if (key == QLatin1String("Translation"))
        info.translation = value;
    if (depth == 2 && parent == QLatin1String("StringFileInfo"))
        info.tables.append(key);
    pos = (pos + std::max<qsizetype>(valueBytes, 0) + 3) & ~qsizetype(3);
    while (pos < nodeEnd) {
        if (!parseVersionNode(data, pos, nodeEnd, depth + 1, key, info))
            return false;
        pos = (pos + le16(data, pos) + 3) & ~qsizetype(3);
    }
    return true;
}

struct LauncherImage {
    QString name;
    QString path;
    QSize size;
    // The window background must cover every pixel; every other picture is a cut-out shape
    // whose corners let the background show through.
    bool opaque;
};

const QList<LauncherImage> launcherImages = {
    {"window icon", ":/iconlauncher.png", {128, 128}, false},
    {"main window background", ":/load.png", {800, 600}, true},
    {"play button, normal", ":/joueron.png", {140, 111}, false},
    {"play button, pressed", ":/jouerpressed.png", {140, 111}, false},
    {"play button, disabled", ":/joueroff.png", {140, 111}, false},
    {"options button, normal", ":/optionson.png", {77, 57}, false},
    {"options button, pressed", ":/optionspressed.png", {77, 57}, false},
    {"options button, disabled", ":/optionsoff.png", {77, 57}, false},
    {"options panel background", ":/parabg.png", {370, 320}, false},
    {"panel button, normal", ":/paraon.png", {73, 23}, false},
    {"panel button, pressed", ":/parapressed.png", {73, 23}, false},
    {"indicator, checked", ":/caseon.png", {20, 21}, false},
    {"indicator, unchecked", ":/caseoff.png", {19, 20}, false},
    {"progress frame", ":/barrevide.png", {434, 29}, false},
    {"progress fill", ":/barrepleine.png", {416, 15}, false},
};

QString twinOf(const QString& path) {
    return path.chopped(4) + QStringLiteral("@2x.png");
}

// Each pixel the mean of the 2x2 block it covers in the twin.
QImage halved(const QImage& twin) {
    QImage half(twin.size() / 2, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < half.height(); ++y) {
        for (int x = 0; x < half.width(); ++x) {
            int r = 0, g = 0, b = 0, a = 0;
            for (const QPoint d : {QPoint(0, 0), QPoint(1, 0), QPoint(0, 1), QPoint(1, 1)}) {
                const QRgb p = twin.pixel(2 * x + d.x(), 2 * y + d.y());
                r += qRed(p), g += qGreen(p), b += qBlue(p), a += qAlpha(p);
            }
            half.setPixel(x, y, qRgba((r + 2) / 4, (g + 2) / 4, (b + 2) / 4, (a + 2) / 4));
        }
    }
    return half;
}

} // namespace

class tst_Resources : public QObject {
    Q_OBJECT

private slots:
    void image_data();
    void image();
    void twinIsRedrawn_data();
    void twinIsRedrawn();
    void treeHoldsOnlyTheLauncherFiles();
    void stateVariantsDiffer_data();
    void stateVariantsDiffer();
    void disabledVariantIsGrey_data();
    void disabledVariantIsGrey();
    void iconDirectory();
    void iconEntry_data();
    void iconEntry();
    void windowsResourceCompiles();
    void versionString_data();
    void versionString();
    void versionFixedPart();

private:
    // Compiles launcher.rc once, as the Windows build will: a reason to skip when the tools are
    // missing, or what went wrong.
    QString compileWindowsResource(QString* skipReason);
    std::optional<QList<ResourceEntry>> compiledResource;
    VersionInfo versionInfo();
};

void tst_Resources::image_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<bool>("opaque");

    // Each with its twin at twice the pixels, for screens at 125 % and more.
    for (const LauncherImage& image : launcherImages) {
        QTest::newRow(qPrintable(image.name)) << image.path << image.size << image.opaque;
        QTest::newRow(qPrintable(image.name + QStringLiteral(" @2x")))
            << twinOf(image.path) << image.size * 2 << image.opaque;
    }
    // Realm status gems, each with its twin for screens at twice the density.
    for (const char* state : {"up", "down", "unknown"}) {
        const QString name = QStringLiteral(":/realm%1").arg(QLatin1String(state));
        QTest::newRow(qPrintable("realm " + name.mid(7)))
            << name + ".png" << QSize(12, 12) << false;
        QTest::newRow(qPrintable("realm " + name.mid(7) + " @2x"))
            << name + "@2x.png" << QSize(24, 24) << false;
    }
}

void tst_Resources::image() {
    QFETCH(QString, path);
    QFETCH(QSize, size);
    QFETCH(bool, opaque);

    QVERIFY2(QFile::exists(path), qPrintable(path));
    const QByteArray bytes = readResource(path);

    // Read the header by hand: QImage converts palettes and 16-bit files silently, and the
    // style sheets' smooth scaling wants true 8-bit RGBA.
    QVERIFY(bytes.size() > 33);
    QCOMPARE(bytes.left(8), pngSignature);
    QCOMPARE(qFromBigEndian<quint32>(bytes.constData() + 8), quint32(13));
    QCOMPARE(bytes.mid(12, 4), QByteArray("IHDR"));
    QCOMPARE(qFromBigEndian<quint32>(bytes.constData() + 16), quint32(size.width()));
    QCOMPARE(qFromBigEndian<quint32>(bytes.constData() + 20), quint32(size.height()));
    QCOMPARE(int(quint8(bytes.at(24))), 8); // bit depth
    QCOMPARE(int(quint8(bytes.at(25))), 6); // colour type: RGB with alpha

    QImage picture;
    QVERIFY(picture.loadFromData(bytes));
    QCOMPARE(picture.size(), size);
    QVERIFY(picture.hasAlphaChannel());

    if (opaque) {
        for (int y = 0; y < picture.height(); ++y) {
            for (int x = 0; x < picture.width(); ++x) {
                if (qAlpha(picture.pixel(x, y)) != 255)
                    QFAIL(qPrintable(QStringLiteral("see-through pixel at %1,%2").arg(x).arg(y)));
            }
        }
    } else {
        const int right = size.width() - 1;
        const int bottom = size.height() - 1;
        for (const QPoint corner :
             {QPoint(0, 0), QPoint(right, 0), QPoint(0, bottom), QPoint(right, bottom)}) {
            QVERIFY2(qAlpha(picture.pixel(corner)) == 0,
                     qPrintable(QStringLiteral("corner %1,%2 is not transparent")
                                    .arg(corner.x())
                                    .arg(corner.y())));
        }
    }
}

void tst_Resources::twinIsRedrawn_data() {
    QTest::addColumn<QString>("path");
    for (const LauncherImage& image : launcherImages)
        QTest::newRow(qPrintable(image.name)) << image.path;
}

void tst_Resources::twinIsRedrawn() {
    // The twin is the same drawing at twice the pixels, not the ordinary picture blown up,
    // which would look as soft on a dense screen as Qt's own enlargement.
    QFETCH(QString, path);
    const QImage ordinary = QImage(path).convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QImage twin = QImage(twinOf(path)).convertToFormat(QImage::Format_ARGB32_Premultiplied);
    twin.setDevicePixelRatio(1);
    QVERIFY(!ordinary.isNull());
    QCOMPARE(twin.size(), ordinary.size() * 2);

    // Same drawing: reduced back, the twin is nearer to the ordinary picture than that picture
    // is to itself moved by one pixel.
    const QImage moved = ordinary.copy(1, 1, ordinary.width(), ordinary.height())
                             .convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const double reduced = meanDifference(halved(twin), ordinary);
    const double oneStep = meanDifference(ordinary, moved);
    QVERIFY2(reduced < 0.6 * oneStep, qPrintable(QStringLiteral("reduced twin %1 from the picture, "
                                                                "one pixel away %2")
                                                     .arg(reduced)
                                                     .arg(oneStep)));

    // Not blown up: the twin's edges stand further from a smooth enlargement than a blocky
    // enlargement of the same pixels does, which is all that enlarging can change.
    const QImage smooth =
        ordinary.scaled(twin.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    const double fromSmooth = meanDifference(twin, smooth);
    const double blockyFromSmooth = meanDifference(ordinary.scaled(twin.size()), smooth);
    QVERIFY2(fromSmooth > 1.25 * blockyFromSmooth,
             qPrintable(QStringLiteral("twin %1 from a smooth enlargement, a blocky one %2")
                            .arg(fromSmooth)
                            .arg(blockyFromSmooth)));
}

void tst_Resources::treeHoldsOnlyTheLauncherFiles() {
    // The widgets and style sheets name the images by bare ":/name" paths, so a prefix or a
    // subfolder in the resource list would leave them silently blank.
    QStringList expected = {
        ":/barrepleine.png",
        ":/barrevide.png",
        ":/caseoff.png",
        ":/caseon.png",
        ":/iconlauncher.ico",
        ":/iconlauncher.png",
        ":/joueroff.png",
        ":/joueron.png",
        ":/jouerpressed.png",
        ":/load.png",
        ":/optionsoff.png",
        ":/optionson.png",
        ":/optionspressed.png",
        ":/parabg.png",
        ":/paraon.png",
        ":/parapressed.png",
        // The twins at twice the pixels come from a resource list of their own, and so do the
        // realm status gems.
        ":/barrepleine@2x.png",
        ":/barrevide@2x.png",
        ":/caseoff@2x.png",
        ":/caseon@2x.png",
        ":/iconlauncher@2x.png",
        ":/joueroff@2x.png",
        ":/joueron@2x.png",
        ":/jouerpressed@2x.png",
        ":/load@2x.png",
        ":/optionsoff@2x.png",
        ":/optionson@2x.png",
        ":/optionspressed@2x.png",
        ":/parabg@2x.png",
        ":/paraon@2x.png",
        ":/parapressed@2x.png",
        ":/realmdown.png",
        ":/realmdown@2x.png",
        ":/realmunknown.png",
        ":/realmunknown@2x.png",
        ":/realmup.png",
        ":/realmup@2x.png",
    };
    // Qt's own libraries register these folders (style data, the PDF writer's colour profile,
    // the web channel's script when the linker keeps that library, as clang's does).
    const QStringList qtOwn = {QStringLiteral(":/qt-project.org"), QStringLiteral(":/qpdf"),
                               QStringLiteral(":/qtwebchannel")};
    QStringList found;
    QDirIterator it(QStringLiteral(":/"), QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const bool fromQt = std::any_of(qtOwn.begin(), qtOwn.end(), [&path](const QString& root) {
            return path == root || path.startsWith(root + QLatin1Char('/'));
        });
        if (!fromQt)
            found.append(path);
    }
    found.sort();
    expected.sort();
    QCOMPARE(found, expected);
}

void tst_Resources::stateVariantsDiffer_data() {
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");

    QTest::newRow("play: normal and pressed") << ":/joueron.png"
                                              << ":/jouerpressed.png";
    QTest::newRow("play: normal and disabled") << ":/joueron.png"
                                               << ":/joueroff.png";
    QTest::newRow("play: pressed and disabled") << ":/jouerpressed.png"
                                                << ":/joueroff.png";
    QTest::newRow("options: normal and pressed") << ":/optionson.png"
                                                 << ":/optionspressed.png";
    QTest::newRow("options: normal and disabled") << ":/optionson.png"
                                                  << ":/optionsoff.png";
    QTest::newRow("options: pressed and disabled") << ":/optionspressed.png"
                                                   << ":/optionsoff.png";
    QTest::newRow("panel button: normal and pressed") << ":/paraon.png"
                                                      << ":/parapressed.png";
    QTest::newRow("realm: up and down") << ":/realmup.png"
                                        << ":/realmdown.png";
    QTest::newRow("realm: up and unknown") << ":/realmup.png"
                                           << ":/realmunknown.png";
    QTest::newRow("realm: down and unknown") << ":/realmdown.png"
                                             << ":/realmunknown.png";
}

void tst_Resources::stateVariantsDiffer() {
    // A player must see the button react: two states drawn alike are a broken drawing step.
    QFETCH(QString, first);
    QFETCH(QString, second);

    const QImage a(first);
    const QImage b(second);
    QVERIFY(!a.isNull());
    QVERIFY(!b.isNull());
    QCOMPARE(a.size(), b.size());
    QVERIFY2(a.convertToFormat(QImage::Format_ARGB32) != b.convertToFormat(QImage::Format_ARGB32),
             "both states are the same picture");
}

void tst_Resources::disabledVariantIsGrey_data() {
    QTest::addColumn<QString>("path");

    QTest::newRow("play button") << ":/joueroff.png";
    QTest::newRow("options button") << ":/optionsoff.png";
}

void tst_Resources::disabledVariantIsGrey() {
    // Colour is what tells a player a button can be pressed; a disabled one carries none.
    QFETCH(QString, path);

    const QImage picture = QImage(path).convertToFormat(QImage::Format_ARGB32);
    QVERIFY(!picture.isNull());
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            const QRgb pixel = picture.pixel(x, y);
            if (qAlpha(pixel) == 0)
                continue;
            const int spread = qMax(qMax(qRed(pixel), qGreen(pixel)), qBlue(pixel)) -
                               qMin(qMin(qRed(pixel), qGreen(pixel)), qBlue(pixel));
            if (spread > 3)
                QFAIL(qPrintable(QStringLiteral("coloured pixel at %1,%2").arg(x).arg(y)));
        }
    }
}

void tst_Resources::iconDirectory() {
    const QByteArray ico = readResource(QStringLiteral(":/iconlauncher.ico"));
    QVERIFY(ico.size() >= 6);
    QCOMPARE(le16(ico, 0), quint16(0)); // reserved
    QCOMPARE(le16(ico, 2), quint16(1)); // 1 = icon, 2 = cursor
    const int count = le16(ico, 4);
    QCOMPARE(count, int(iconSizes.size()));
    QVERIFY(ico.size() >= 6 + 16 * count);

    QList<int> sizes;
    for (int i = 0; i < count; ++i) {
        const qsizetype entry = 6 + 16 * i;
        const int width = quint8(ico.at(entry)) == 0 ? 256 : quint8(ico.at(entry));
        const int height = quint8(ico.at(entry + 1)) == 0 ? 256 : quint8(ico.at(entry + 1));
        QCOMPARE(height, width);
        QCOMPARE(le16(ico, entry + 6), quint16(32)); // bits per pixel
        sizes.append(width);
    }
    std::sort(sizes.begin(), sizes.end());
    QCOMPARE(sizes, iconSizes);
}

void tst_Resources::iconEntry_data() {
    QTest::addColumn<int>("size");
    for (const int size : iconSizes)
        QTest::newRow(qPrintable(QStringLiteral("%1 px").arg(size))) << size;
}

void tst_Resources::iconEntry() {
    QFETCH(int, size);

    const QByteArray ico = readResource(QStringLiteral(":/iconlauncher.ico"));
    QVERIFY(ico.size() >= 6);
    const int count = le16(ico, 4);
    QVERIFY(ico.size() >= 6 + 16 * count);
    std::optional<QByteArray> dib;
    for (int i = 0; i < count && !dib; ++i) {
        const qsizetype entry = 6 + 16 * i;
        if (quint8(ico.at(entry)) != size)
            continue;
        const quint32 length = le32(ico, entry + 8);
        const quint32 offset = le32(ico, entry + 12);
        QVERIFY2(quint64(offset) + length <= quint64(ico.size()), "entry runs past the file");
        dib = ico.mid(offset, length);
    }
    QVERIFY2(dib.has_value(), "no entry of this size");
    const QString problem = dibProblem(*dib, size);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));

    // The medallion is round: a real alpha channel leaves the corners clear and the centre solid.
    QCOMPARE(dibAlpha(*dib, size, 0, 0), 0);
    QCOMPARE(dibAlpha(*dib, size, size - 1, size - 1), 0);
    QCOMPARE(dibAlpha(*dib, size, size / 2, size / 2), 255);
}

QString tst_Resources::compileWindowsResource(QString* skipReason) {
    if (compiledResource)
        return {};
    const QString windres =
        QStandardPaths::findExecutable(QStringLiteral("x86_64-w64-mingw32-windres"));
    if (windres.isEmpty()) {
        *skipReason = QStringLiteral("x86_64-w64-mingw32-windres is not installed");
        return {};
    }

    // windres runs the C preprocessor first; without the MinGW compiler the host's cpp does the
    // same job for a file that includes only the generated version header.
    QStringList arguments;
    if (QStandardPaths::findExecutable(QStringLiteral("x86_64-w64-mingw32-gcc")).isEmpty()) {
        const QString cpp = QStandardPaths::findExecutable(QStringLiteral("cpp"));
        if (cpp.isEmpty()) {
            *skipReason =
                QStringLiteral("neither x86_64-w64-mingw32-gcc nor cpp is installed to preprocess "
                               "the .rc");
            return {};
        }
        arguments << QStringLiteral("--preprocessor=%1").arg(cpp);
    }

    QTemporaryDir work;
    if (!work.isValid())
        return QStringLiteral("no temporary folder");
    const QString rc = QStringLiteral(VESTRAHAL_SOURCE_DIR "/resources/launcher.rc");
    const QString res = work.filePath(QStringLiteral("launcher.res"));
    if (!QFile::exists(rc))
        return rc + QStringLiteral(" is missing");
    arguments << QStringLiteral("-I") << QStringLiteral(VESTRAHAL_GENERATED_DIR)
              << QStringLiteral("-O") << QStringLiteral("res") << QStringLiteral("-i") << rc
              << QStringLiteral("-o") << res;

    QProcess process;
    // Run from elsewhere so the icon is found next to the .rc, as the Windows build will.
    process.setWorkingDirectory(work.path());
    process.start(windres, arguments);
    if (!process.waitForFinished(120000))
        return QStringLiteral("windres did not finish");
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return QString::fromLocal8Bit(process.readAllStandardError());

    QFile file(res);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("windres wrote no .res");
    compiledResource = parseRes(file.readAll());
    if (!compiledResource)
        return QStringLiteral("malformed .res");
    return {};
}

VersionInfo tst_Resources::versionInfo() {
    constexpr quint16 rtVersion = 16;
    VersionInfo info;
    int found = 0;
    for (const ResourceEntry& entry : *compiledResource) {
        if (!entry.typeName.isEmpty() || entry.typeId != rtVersion)
            continue;
        ++found;
        if (!parseVersionNode(entry.data, 0, entry.data.size(), 0, QString(), info))
            info.fixed.clear();
    }
    if (found != 1)
        info.fixed.clear();
    return info;
}

void tst_Resources::windowsResourceCompiles() {
    QString skip;
    const QString error = compileWindowsResource(&skip);
    if (!skip.isEmpty())
        QSKIP(qPrintable(skip));
    QVERIFY2(error.isEmpty(), qPrintable(error));
    const QList<ResourceEntry>* entries = &*compiledResource;

    constexpr quint16 rtIcon = 3;
    constexpr quint16 rtGroupIcon = 14;
    QHash<quint16, QByteArray> icons;
    std::optional<QByteArray> group;
    for (const ResourceEntry& entry : *entries) {
        if (!entry.typeName.isEmpty())
            continue;
        if (entry.typeId == rtIcon) {
            QVERIFY2(entry.name.isEmpty(), "icon images are numbered, not named");
            QVERIFY2(!icons.contains(entry.nameId), "two icon images share a number");
            icons.insert(entry.nameId, entry.data);
        } else if (entry.typeId == rtGroupIcon) {
            // Qt's Windows build and the shell both look for this name.
            QCOMPARE(entry.name, QStringLiteral("IDI_ICON1"));
            QVERIFY2(!group, "more than one icon group");
            group = entry.data;
        }
    }
    QCOMPARE(icons.size(), int(iconSizes.size()));
    QVERIFY2(group.has_value(), "no RT_GROUP_ICON");

    // GRPICONDIR: reserved, type 1, count, then 14-byte entries ending in the RT_ICON number.
    const QByteArray& dir = *group;
    QVERIFY(dir.size() >= 6);
    QCOMPARE(le16(dir, 2), quint16(1));
    const int count = le16(dir, 4);
    QCOMPARE(count, int(iconSizes.size()));
    QCOMPARE(dir.size(), 6 + 14 * count);
    QList<int> sizes;
    for (int i = 0; i < count; ++i) {
        const qsizetype entry = 6 + 14 * i;
        const int width = quint8(dir.at(entry));
        QCOMPARE(int(quint8(dir.at(entry + 1))), width);
        QCOMPARE(le16(dir, entry + 6), quint16(32));
        const quint16 id = le16(dir, entry + 12);
        QVERIFY2(icons.contains(id), qPrintable(QStringLiteral("icon %1 is missing").arg(id)));
        const QByteArray& image = icons.value(id);
        QCOMPARE(quint32(image.size()), le32(dir, entry + 8));
        const QString problem = dibProblem(image, width);
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
        sizes.append(width);
    }
    std::sort(sizes.begin(), sizes.end());
    QCOMPARE(sizes, iconSizes);
}

// Windows shows these in the file's properties; the versions follow the CMake project's.
void tst_Resources::versionString_data() {
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    // The project version, padded to the four numbers of a Windows file version.
    QStringList numbers = QStringLiteral(VESTRAHAL_PROJECT_VERSION).split(QLatin1Char('.'));
    while (numbers.size() < 4)
        numbers.append(QStringLiteral("0"));
    QTest::newRow("company") << "CompanyName"
                             << "Vestrahal";
    QTest::newRow("product name") << "ProductName"
                                  << "Vestrahal Launcher";
    QTest::newRow("description") << "FileDescription"
                                 << "Vestrahal Launcher";
    QTest::newRow("original file name") << "OriginalFilename"
                                        << "VestrahalLauncher.exe";
    QTest::newRow("file version") << "FileVersion" << numbers.join(QLatin1Char('.'));
    QTest::newRow("product version") << "ProductVersion" << VESTRAHAL_PROJECT_VERSION;
}

void tst_Resources::versionString() {
    QFETCH(QString, key);
    QFETCH(QString, value);
    QString skip;
    const QString error = compileWindowsResource(&skip);
    if (!skip.isEmpty())
        QSKIP(qPrintable(skip));
    QVERIFY2(error.isEmpty(), qPrintable(error));
    const VersionInfo info = versionInfo();
    QVERIFY2(!info.fixed.isEmpty(), "no single, well-formed VERSIONINFO");
    // Windows shows the strings of the table that the translation names, and only those.
    QCOMPARE(info.tables, QStringList{QStringLiteral("040c04b0")});
    QCOMPARE(info.translation, QByteArray("\x0c\x04\xb0\x04", 4));
    QCOMPARE(info.strings.value(key), value);
}

void tst_Resources::versionFixedPart() {
    QString skip;
    const QString error = compileWindowsResource(&skip);
    if (!skip.isEmpty())
        QSKIP(qPrintable(skip));
    QVERIFY2(error.isEmpty(), qPrintable(error));
    const QByteArray fixed = versionInfo().fixed;
    // VS_FIXEDFILEINFO: signature, structure version, file version (high, low), product
    // version (high, low), flags mask, flags, OS, type, subtype, date.
    QCOMPARE(fixed.size(), 52);
    QCOMPARE(le32(fixed, 0), 0xFEEF04BDu);
    QList<quint32> numbers;
    for (const QString& part : QStringLiteral(VESTRAHAL_PROJECT_VERSION).split(QLatin1Char('.')))
        numbers.append(part.toUInt());
    while (numbers.size() < 4)
        numbers.append(0);
    const quint32 high = numbers[0] << 16 | numbers[1];
    const quint32 low = numbers[2] << 16 | numbers[3];
    QCOMPARE(le32(fixed, 8), high);
    QCOMPARE(le32(fixed, 12), low);
    QCOMPARE(le32(fixed, 16), high);
    QCOMPARE(le32(fixed, 20), low);
    QCOMPARE(le32(fixed, 32), 0x40004u); // Windows NT, 32-bit and later
    QCOMPARE(le32(fixed, 36), 1u);       // an application
}

QTEST_GUILESS_MAIN(tst_Resources)
#include "tst_resources.moc"
