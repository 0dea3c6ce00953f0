#include "gameinstall.h"

#include "downloadprogress.h"

#include "gamefiles.h"
#include "realmplay.h"
#include "sha256.h"
#include "signedlist.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStorageInfo>

#include <cmath>

namespace gameinstall {

bool getsOffer(bool gameFilesKept, const QString& folder) {
    return gameFilesKept && !folder.isEmpty() &&
           !QFileInfo::exists(folder + QStringLiteral("/Wow.exe")) &&
           !QFileInfo::exists(realmplay::communityMarkerIn(folder));
}

Plan planFor(const gamemanifest::Manifest& list, const QString& folder,
             const std::atomic<bool>* cancelled) {
    Plan plan;
    for (const gamemanifest::File& file : list.files) {
        if (cancelled && cancelled->load()) {
            plan.cancelled = true;
            return plan;
        }
        const QFileInfo info(folder + u'/' + file.path);
        bool fetched = true;
        if (!info.exists()) {
            // Nothing under its name: fetched, nothing replaced.
        } else if (info.isFile() && info.size() == file.size) {
            QFile bytes(info.filePath());
            fetched = !bytes.open(QIODevice::ReadOnly) || Sha256::ofDevice(bytes) != file.sha256;
            plan.filesReplaced += fetched;
        } else {
            ++plan.filesReplaced;
        }
        if (!fetched)
            continue;
        ++plan.filesToFetch;
        plan.bytesToFetch += file.size;
        plan.largestToFetch = std::max(plan.largestToFetch, file.size);
    }
    return plan;
}

qint64 spaceNeeded(const Plan& plan) {
    const qint64 bytes = plan.bytesToFetch + plan.largestToFetch;
    return bytes + (bytes + 99) / 100;
}

qint64 freeSpace(const QString& folder) {
    const QStorageInfo disk(folder);
    return disk.isValid() ? disk.bytesAvailable() : -1;
}

bool hasRoom(const Plan& plan, qint64 freeBytes) {
    // A disk that does not tell is left to the fetch, which stops on a full disk without harm.
    return freeBytes < 0 || spaceNeeded(plan) <= freeBytes;
}

namespace {

// French takes the singular below two, as the size is shown.
bool singular(const QString& size) {
    return size.section(u' ', 0, 0).replace(u',', u'.').toDouble() < 2.0;
}

} // namespace

QString questionText(const Plan& plan, qint64 freeBytes) {
    QString text = QStringLiteral("Installer le jeu de la communauté dans ce dossier ? ");
    if (plan.bytesToFetch == 0) {
        text += QStringLiteral("Tous ses fichiers sont déjà là.");
    } else {
        const QString size = downloadprogress::size(plan.bytesToFetch);
        text += size + (singular(size) ? QStringLiteral(" sera téléchargé.")
                                       : QStringLiteral(" seront téléchargés."));
    }
    if (freeBytes >= 0)
        text += QStringLiteral("\n\nEspace libre sur ce disque : %1.")
                    .arg(downloadprogress::size(freeBytes));
    if (plan.filesReplaced == 1)
        text += QStringLiteral("\n\n1 fichier de ce dossier porte le nom d'un fichier du jeu avec "
                               "un autre contenu : il sera remplacé.");
    else if (plan.filesReplaced > 1)
        text += QStringLiteral("\n\n%1 fichiers de ce dossier portent le nom d'un fichier du jeu "
                               "avec un autre contenu : ils seront remplacés.")
                    .arg(plan.filesReplaced);
    return text;
}

QString refusalText(qint64 neededBytes, qint64 freeBytes) {
    return QStringLiteral("Il n'y a pas assez d'espace libre sur ce disque pour installer le jeu : "
                          "il faut %1, il reste %2.\n\nLibérez de la place ou choisissez un "
                          "dossier sur un autre disque.")
        .arg(downloadprogress::size(neededBytes), downloadprogress::size(freeBytes));
}

QList<Install> loadInstalls(const QString& file) {
    QFile record(file);
    QList<Install> installs;
    if (!record.open(QIODevice::ReadOnly))
        return installs;
    for (const QByteArray& line : record.readAll().split('\n')) {
        const qsizetype tab = line.indexOf('\t');
        if (tab < 0)
            continue;
        const Install install{QString::fromUtf8(line.left(tab)),
                              QString::fromUtf8(line.mid(tab + 1))};
        const bool knownClient = install.client == QLatin1String(gamemanifest::kWotlk) ||
                                 install.client == QLatin1String(gamemanifest::kCataclysm);
        if (knownClient && QFileInfo(install.path).isAbsolute() && !installs.contains(install))
            installs.append(install);
    }
    return installs;
}

bool saveInstalls(const QString& file, const QList<Install>& installs) {
    if (installs.isEmpty())
        return !QFileInfo::exists(file) || QFile::remove(file);
    QByteArray bytes;
    for (const Install& install : installs)
        bytes += install.client.toUtf8() + '\t' + install.path.toUtf8() + '\n';
    QSaveFile record(file);
    return record.open(QIODevice::WriteOnly) && record.write(bytes) == bytes.size() &&
           record.commit();
}

int loadSpeedLimit(const QString& file) {
    QFile limit(file);
    if (!limit.open(QIODevice::ReadOnly))
        return 0;
    bool number = false;
    const int value = limit.read(32).trimmed().toInt(&number);
    return number && value > 0 && value <= kMostMegabytesPerSecond ? value : 0;
}

bool saveSpeedLimit(const QString& file, int megabytesPerSecond) {
    const QByteArray bytes = QByteArray::number(megabytesPerSecond) + '\n';
    QSaveFile limit(file);
    return limit.open(QIODevice::WriteOnly) && limit.write(bytes) == bytes.size() && limit.commit();
}

} // namespace gameinstall

InstallOffer::InstallOffer(const GameFiles* files, QObject* parent)
    : QObject(parent)
    , files(files)
    , list(new SignedList(this))
    , cancelled(std::make_shared<std::atomic<bool>>(false)) {
    pool.setMaxThreadCount(1);
    connect(list, &SignedList::notPublished, this, [this] {
        looking = false;
        emit notPublished(client, folder);
    });
    connect(list, &SignedList::failed, this, [this](const QString& why) {
        looking = false;
        emit failed(client, folder, why);
    });
    connect(list, &SignedList::trusted, this, &InstallOffer::onTrusted);
}

InstallOffer::~InstallOffer() {
    // The look at the folder reports to this object: it may not outlive it.
    cancelled->store(true);
    pool.waitForDone();
}

void InstallOffer::look(const QString& clientOfFolder, const QString& chosen) {
    cancel();
    client = clientOfFolder;
    folder = chosen;
    looking = true;
    files->setUpList(*list);
    list->fetch(client);
}

void InstallOffer::cancel() {
    list->abort();
    cancelled->store(true);
    cancelled = std::make_shared<std::atomic<bool>>(false);
    ++lookNumber;
    looking = false;
}

void InstallOffer::onTrusted(const QByteArray& bytes) {
    gamemanifest::Manifest manifest;
    QString problem;
    if (!gamemanifest::parse(bytes, &manifest, &problem) ||
        !gamemanifest::fits(manifest, client, 0, &problem)) {
        looking = false;
        emit failed(client, folder, problem);
        return;
    }
    const int number = lookNumber;
    pool.start([this, manifest = std::move(manifest), where = folder, flag = cancelled, number] {
        const gameinstall::Plan plan = gameinstall::planFor(manifest, where, flag.get());
        const qint64 freeBytes = gameinstall::freeSpace(where);
        QMetaObject::invokeMethod(
            this, [this, plan, freeBytes, number] { onPlanned(plan, freeBytes, number); },
            Qt::QueuedConnection);
    });
}

void InstallOffer::onPlanned(const gameinstall::Plan& plan, qint64 freeBytes, int number) {
    if (number != lookNumber || plan.cancelled)
        return;
    looking = false;
    emit ready(client, folder, plan, freeBytes);
}
