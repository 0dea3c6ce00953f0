#include "accessibility.h"

#include "newsview.h"
#include "ui_mainwindow.h"

void nameForScreenReaders(Ui::MainWindow* ui) {
    ui->Jouer->setAccessibleName(QStringLiteral("Jouer"));
    ui->Options->setAccessibleName(QStringLiteral("Options"));
    ui->Web->setAccessibleName(QStringLiteral("Nouvelles"));
    ui->Texte->setAccessibleDescription(QStringLiteral("État du launcher"));
    ui->Chargement->setAccessibleName(QStringLiteral("Chargement"));
    ui->ModifierCheminWoTLK->setAccessibleName(QStringLiteral("Modifier le chemin WoTLK"));
    ui->DeleteCheminWoTLK->setAccessibleName(QStringLiteral("Supprimer le chemin WoTLK"));
    ui->ModifierCheminCata->setAccessibleName(QStringLiteral("Modifier le chemin Cataclysme"));
    ui->DeleteCheminCata->setAccessibleName(QStringLiteral("Supprimer le chemin Cataclysme"));
    const QList<QWidget*> sets{ui->SetRealm1, ui->SetRealm2, ui->SetRealm3};
    const QList<QWidget*> deletes{ui->DeleteRealm1, ui->DeleteRealm2, ui->DeleteRealm3};
    const QList<QWidget*> wrath{ui->checkBox_Realm1, ui->checkBox_Realm2, ui->checkBox_Realm3};
    for (int row = 0; row < 3; ++row) {
        sets[row]->setAccessibleName(QStringLiteral("Modifier le royaume %1").arg(row + 1));
        deletes[row]->setAccessibleName(QStringLiteral("Supprimer le royaume %1").arg(row + 1));
        wrath[row]->setAccessibleName(QStringLiteral("Wotlk, royaume %1").arg(row + 1));
    }
    ui->VerifierFichiers->setAccessibleName(QStringLiteral("Vérifier les fichiers du jeu"));
    ui->SauvegarderOptions->setAccessibleName(QStringLiteral("Sauvegarder les options"));
}
