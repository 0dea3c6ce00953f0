// Game folders whose programs are the fake client (tools/fakegame), and what it recorded.
#pragma once

#include "testfiles.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

namespace {

// What the status line says around a launch.
const QString kReady = QStringLiteral("World of Warcraft est prêt à être lancé");
const QString kStarted = QStringLiteral("World of Warcraft lancé.");
const QString kCode1 =
    QStringLiteral("Une erreur s'est produite lors du démarrage de World of Warcraft - (Code 1).");

// Lays out a game folder holding the fake client under the given program names.
void makeGame(const QString& folder, const QStringList& programs, const QByteArray& ini = {},
              bool withFrFR = true) {
    QVERIFY(QDir().mkpath(folder + (withFrFR ? "/Data/frFR" : "/Data")));
    for (const QString& program : programs)
        QVERIFY(QFile::copy(QStringLiteral(FAKEGAME_PATH), folder + "/" + program));
    QFile settings(folder + "/fakegame.ini");
    QVERIFY(settings.open(QIODevice::WriteOnly));
    settings.write("[General]\n" + ini);
}

QJsonObject startRecord(const QString& folder, const QString& program) {
    const QString path = folder + "/" + program + ".started.json";
    if (!QFile::exists(path))
        return {};
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return QJsonDocument::fromJson(file.readAll()).object();
}

void stopGame(const QString& folder, const QString& program) {
    writeFile(folder + "/" + program + ".stop", "");
}

} // namespace
