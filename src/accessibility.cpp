#include "accessibility.h"

#include "config.h"
#include "newsview.h"
#include "realmsandprogress.h"
#include "ui_mainwindow.h"

#include <QAccessible>
#include <QAccessibleObject>
#include <QAccessibleWidget>
#include <QEvent>
#include <QFocusFrame>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QRadioButton>
#include <QTimer>

namespace {

// A realm button: its text and checked state, what its realm's server answers as its
// description, and no children. The status gem drawn over it says nothing the description does
// not already say.
class RealmButtonInterface : public QAccessibleWidget {
public:
    explicit RealmButtonInterface(QRadioButton* button)
        : QAccessibleWidget(button, QAccessible::RadioButton) {}

    QRadioButton* button() const { return static_cast<QRadioButton*>(widget()); }

    QString text(QAccessible::Text t) const override {
        switch (t) {
        case QAccessible::Name:
            // The whole host, also when the button shows it cut short.
            return widget()->accessibleName().isEmpty() ? button()->text()
                                                        : widget()->accessibleName();
        case QAccessible::Description:
            // Never the tooltip: for a long host it repeats the name.
            return widget()->accessibleDescription();
        default:
            return QAccessibleWidget::text(t);
        }
    }
    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        state.checkable = true;
        state.checked = button()->isChecked();
        state.pressed = button()->isDown();
        return state;
    }
    int childCount() const override { return 0; }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }

    QStringList actionNames() const override {
        return QStringList{pressAction()} + QAccessibleWidget::actionNames();
    }
    void doAction(const QString& action) override {
        if (action == pressAction() && button()->isEnabled())
            button()->click();
        else
            QAccessibleWidget::doAction(action);
    }
};

// The status line: a notification whose text is its name, told again at each change (see
// StatusAnnouncer).
class StatusLineInterface : public QAccessibleWidget {
public:
    explicit StatusLineInterface(QLabel* label)
        : QAccessibleWidget(label, QAccessible::Notification) {}

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name && widget()->accessibleName().isEmpty())
            return static_cast<QLabel*>(widget())->text();
        return QAccessibleWidget::text(t);
    }
};

bool isOverlay(const QWidget* widget) {
    return widget->objectName() == QLatin1String("Fading");
}

// The widgets a screen reader meets in a container, in Qt's own order and with Qt's own
// exceptions; the overlay is left out and what it carries is taken in its place.
QList<QWidget*> shownChildren(const QWidget* container) {
    QList<QWidget*> widgets;
    for (QObject* object : container->children()) {
        auto* widget = qobject_cast<QWidget*>(object);
        if (!widget || widget->isWindow() || qobject_cast<QFocusFrame*>(widget) ||
            qobject_cast<QMenu*>(widget))
            continue;
        if (isOverlay(widget))
            widgets += shownChildren(widget);
        else
            widgets << widget;
    }
    return widgets;
}

// The window's central widget, whose children are the window's controls: the dimming overlay
// is a picture effect, not a place, and as a frame of its own it would take the window's title
// away from the options panel's controls.
class CentralInterface : public QAccessibleWidget {
public:
    explicit CentralInterface(QWidget* central)
        : QAccessibleWidget(central) {}

    int childCount() const override { return int(shownChildren(widget()).size()); }
    QAccessibleInterface* child(int index) const override {
        const QList<QWidget*> children = shownChildren(widget());
        if (index < 0 || index >= children.size())
            return nullptr;
        return QAccessible::queryAccessibleInterface(children.at(index));
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        if (!child || !child->object() || !child->object()->isWidgetType())
            return -1;
        return int(shownChildren(widget()).indexOf(static_cast<QWidget*>(child->object())));
    }
};

// The options panel, a named group directly in the window (see CentralInterface).
class OptionsPanelInterface : public QAccessibleWidget {
public:
    explicit OptionsPanelInterface(QGroupBox* panel)
        : QAccessibleWidget(panel, QAccessible::Grouping) {}

    QAccessibleInterface* parent() const override {
        QWidget* overlay = widget()->parentWidget();
        if (overlay && isOverlay(overlay) && overlay->parentWidget())
            return QAccessible::queryAccessibleInterface(overlay->parentWidget());
        return QAccessibleWidget::parent();
    }
};

// The application's windows, as a screen reader lists them: those of widgets only. Qt WebEngine
// renders the news into a window of its own that is never shown ("Offscreen"): the page itself
// is reached through the news view.
class ApplicationInterface : public QAccessibleApplication {
public:
    QList<QAccessibleInterface*> windows() const {
        QList<QAccessibleInterface*> shown;
        for (int i = 0; i < QAccessibleApplication::childCount(); ++i) {
            QAccessibleInterface* window = QAccessibleApplication::child(i);
            if (window && window->object() && window->object()->isWidgetType())
                shown << window;
        }
        return shown;
    }
    int childCount() const override { return int(windows().size()); }
    QAccessibleInterface* child(int index) const override { return windows().value(index); }
    int indexOfChild(const QAccessibleInterface* child) const override {
        return int(windows().indexOf(const_cast<QAccessibleInterface*>(child)));
    }
};

const QString kAnnouncerName = QStringLiteral("Annonce");

QAccessibleInterface* launcherInterface(const QString& className, QObject* object) {
    const QString name = object->objectName();
    if (className == QLatin1String("QApplication") && object == qApp)
        return new ApplicationInterface;
    if (className == QLatin1String("QLabel") && name == kAnnouncerName)
        return new StatusLineInterface(static_cast<QLabel*>(object));
    if (className == QLatin1String("QRadioButton") && name.startsWith(QLatin1String("radioButton")))
        return new RealmButtonInterface(static_cast<QRadioButton*>(object));
    if (className == QLatin1String("QLabel") && name == QLatin1String("Texte"))
        return new StatusLineInterface(static_cast<QLabel*>(object));
    if (className == QLatin1String("QWidget") && name == QLatin1String("centralWidget"))
        return new CentralInterface(static_cast<QWidget*>(object));
    if (className == QLatin1String("QGroupBox") && name == QLatin1String("OptionsMenu"))
        return new OptionsPanelInterface(static_cast<QGroupBox*>(object));
    return nullptr;
}

} // namespace

namespace accessibility {

void install() {
    // Qt keeps a factory once, however often it is given.
    QAccessible::installFactory(&launcherInterface);
}

void announce(QWidget* window, const QString& text) {
    auto* announcer = window->findChild<QLabel*>(kAnnouncerName, Qt::FindDirectChildrenOnly);
    if (!announcer) {
        announcer = new QLabel(window);
        announcer->setObjectName(kAnnouncerName);
        announcer->hide();
    }
    announcer->setText(text);
    if (QAccessible::isActive()) {
        QAccessibleEvent shown(announcer, QAccessible::ObjectShow);
        QAccessible::updateAccessibility(&shown);
    }
}

} // namespace accessibility

void nameForScreenReaders(Ui::MainWindow* ui) {
    accessibility::install();
    ui->Jouer->setAccessibleName(QStringLiteral("Jouer"));
    ui->Options->setAccessibleName(QStringLiteral("Options"));
    ui->Web->setAccessibleName(QStringLiteral("Nouvelles"));
    ui->Chargement->setAccessibleName(QStringLiteral("Chargement"));
    ui->OptionsMenu->setAccessibleName(accessibility::kOptionsPanelName);
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
    new StatusAnnouncer(ui->Texte);
}

void showPersonalRealmHosts(Ui::MainWindow* ui, const Config& config) {
    const QList<QLabel*> labels{ui->label_1, ui->label_4, ui->label_3};
    const QList<QList<QWidget*>> controls{{ui->checkBox_Realm1, ui->SetRealm1, ui->DeleteRealm1},
                                          {ui->checkBox_Realm2, ui->SetRealm2, ui->DeleteRealm2},
                                          {ui->checkBox_Realm3, ui->SetRealm3, ui->DeleteRealm3}};
    for (int row = 1; row <= 3; ++row) {
        const QByteArray host = config.realmHosts.value(vestrahal::personalRealmOfRow(row));
        const QString shown = host == kEmptyRealmHost ? QString() : QString::fromLatin1(host);
        const QString title = QStringLiteral("Royaume %1").arg(row);
        labels[row - 1]->setText(shown.isEmpty() ? title : title + QStringLiteral(" : ") + shown);
        for (QWidget* control : controls[row - 1]) {
            if (control->accessibleDescription() != shown)
                control->setAccessibleDescription(shown);
        }
    }
}

StatusAnnouncer::StatusAnnouncer(QLabel* statusLine)
    : QObject(statusLine)
    , statusLine(statusLine)
    , window(statusLine->window()) {
    statusLine->installEventFilter(this);
    window->installEventFilter(this);
}

bool StatusAnnouncer::eventFilter(QObject* watched, QEvent* event) {
    if (watched == window && event->type() == QEvent::WindowActivate && !pending && statusLine &&
        statusLine->text() != lastAnnounced) {
        pending = true;
        QTimer::singleShot(0, this, &StatusAnnouncer::announce);
    }
    // A new text reaches the screen with the next paint of the line. Told from the event loop,
    // after the paint, never from inside it.
    if (watched == statusLine && event->type() == QEvent::Paint && !pending &&
        statusLine->text() != lastAnnounced) {
        pending = true;
        QTimer::singleShot(0, this, &StatusAnnouncer::announce);
    }
    return QObject::eventFilter(watched, event);
}

void StatusAnnouncer::announce() {
    pending = false;
    // Not in front yet: told when the window is (see the window's activation above).
    if (!statusLine || !statusLine->isVisible() || !statusLine->isActiveWindow())
        return;
    const QString text = statusLine->text();
    if (text == lastAnnounced)
        return;
    lastAnnounced = text;
    if (QAccessible::isActive()) {
        // Orca speaks a notification when it appears: the line appears again with its new text.
        QAccessibleEvent shown(statusLine.data(), QAccessible::ObjectShow);
        QAccessible::updateAccessibility(&shown);
    }
}
