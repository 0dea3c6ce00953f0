#include "keyboardnavigation.h"

#include "newsview.h"
#include "ui_mainwindow.h"

#include <QAbstractButton>
#include <QApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QShortcut>

namespace {

// A bright gold ring inside the button's edge: clear against the night sky and the bronze
// panel, and drawn over the button, so its own images stay as they are.
class FocusFrame : public QWidget {
public:
    explicit FocusFrame(QWidget* parent)
        : QWidget(parent) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_NoSystemBackground);
        setFocusPolicy(Qt::NoFocus);
        setObjectName(QStringLiteral("focusFrame"));
        hide();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(QColor(0xff, 0xe0, 0x8a), 2));
        painter.drawRoundedRect(QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5), 4, 4);
    }
};

} // namespace

KeyboardNavigation::KeyboardNavigation(QWidget* window, Ui::MainWindow* ui,
                                       const QList<QWidget*>& realmButtons)
    : QObject(window)
    , window(window)
    , jouer(ui->Jouer)
    , options(ui->Options)
    , panel(ui->OptionsMenu)
    , frame(new FocusFrame(window)) {
    QList<QWidget*> mainChain = realmButtons;
    mainChain << ui->Jouer << ui->Options << ui->Web;
    for (int i = 1; i < mainChain.size(); ++i)
        QWidget::setTabOrder(mainChain[i - 1], mainChain[i]);
    for (QWidget* realm : realmButtons)
        realms << realm;
    const QList<QWidget*> chain{
        ui->ModifierCheminWoTLK, ui->DeleteCheminWoTLK, ui->ModifierCheminCata,
        ui->DeleteCheminCata,    ui->checkBox_Realm1,   ui->SetRealm1,
        ui->DeleteRealm1,        ui->checkBox_Realm2,   ui->SetRealm2,
        ui->DeleteRealm2,        ui->checkBox_Realm3,   ui->SetRealm3,
        ui->DeleteRealm3,        ui->VerifierFichiers,  ui->SauvegarderOptions};
    for (int i = 1; i < chain.size(); ++i)
        QWidget::setTabOrder(chain[i - 1], chain[i]);
    for (QWidget* stop : chain)
        panelChain << stop;
    // Keys reach the focus widget, wherever it is: the whole application is watched.
    qApp->installEventFilter(this);

    for (const int key : {Qt::Key_Return, Qt::Key_Enter}) {
        auto* shortcut = new QShortcut(QKeySequence(key), window);
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, this, &KeyboardNavigation::onReturn);
    }
    connect(qApp, &QApplication::focusChanged, this, &KeyboardNavigation::onFocusChanged);

    if (QWidget* start = startWidget())
        start->setFocus(Qt::OtherFocusReason);
}

QWidget* KeyboardNavigation::startWidget() const {
    for (QWidget* realm : realms) {
        auto* button = qobject_cast<QAbstractButton*>(realm);
        if (button && button->isChecked() && !button->isHidden())
            return button;
    }
    for (QWidget* realm : realms) {
        if (realm && !realm->isHidden())
            return realm;
    }
    return options;
}

QAbstractButton* KeyboardNavigation::framedButton() const {
    return frame && !frame->isHidden() ? framed.data() : nullptr;
}

bool KeyboardNavigation::panelOpen() const {
    return panel && !panel->isHidden();
}

bool KeyboardNavigation::inPanelChain(QObject* object) const {
    for (const QPointer<QWidget>& stop : panelChain) {
        if (stop && stop == object)
            return true;
    }
    return false;
}

QList<QWidget*> KeyboardNavigation::panelStops() const {
    QList<QWidget*> stops;
    for (QWidget* stop : panelChain) {
        if (stop && panel && stop->isVisibleTo(panel) && stop->isEnabled())
            stops << stop;
    }
    return stops;
}

void KeyboardNavigation::cyclePanel(bool forward) {
    const QList<QWidget*> stops = panelStops();
    if (stops.isEmpty())
        return;
    const int at = stops.indexOf(QApplication::focusWidget());
    const int next = at < 0 ? (forward ? 0 : stops.size() - 1)
                            : (at + (forward ? 1 : stops.size() - 1)) % stops.size();
    stops[next]->setFocus(forward ? Qt::TabFocusReason : Qt::BacktabFocusReason);
}

void KeyboardNavigation::onReturn() {
    if (panelOpen()) {
        // Inside the panel, Return presses the button that has the focus, as Space does.
        auto* button = qobject_cast<QAbstractButton*>(QApplication::focusWidget());
        if (button && inPanelChain(button))
            button->click();
        return;
    }
    auto* play = qobject_cast<QAbstractButton*>(jouer.data());
    if (play && play->isEnabled() && !play->isHidden())
        play->click();
}

void KeyboardNavigation::onFocusChanged(QWidget*, QWidget* now) {
    // Nothing behind the open panel takes the keyboard, whatever moved the focus there.
    if (!window)
        return;
    if (now && panelOpen() && window->isAncestorOf(now) && !panel->isAncestorOf(now)) {
        const QList<QWidget*> stops = panelStops();
        if (!stops.isEmpty())
            stops.first()->setFocus(Qt::OtherFocusReason);
        return;
    }
    showFrame(now);
}

void KeyboardNavigation::showFrame(QWidget* focused) {
    if (!frame) // gone with the window
        return;
    auto* button = qobject_cast<QAbstractButton*>(focused);
    if (!button || !keyboardInUse || !window || !window->isAncestorOf(button)) {
        frame->hide();
        framed = nullptr;
        return;
    }
    framed = button;
    placeFrame();
    frame->show();
    // Above everything, the open panel included: it never takes a click.
    frame->raise();
}

bool KeyboardNavigation::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::KeyPress: {
        auto* widget = qobject_cast<QWidget*>(watched);
        if (!window)
            break;
        if (widget && widget->window() == window && !keyboardInUse) {
            keyboardInUse = true;
            showFrame(QApplication::focusWidget());
        }
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (inPanelChain(widget) && (key == Qt::Key_Tab || key == Qt::Key_Backtab)) {
            const bool back = key == Qt::Key_Backtab ||
                              static_cast<QKeyEvent*>(event)->modifiers() & Qt::ShiftModifier;
            cyclePanel(!back);
            return true;
        }
        break;
    }
    case QEvent::MouseButtonPress:
        if (keyboardInUse) {
            keyboardInUse = false;
            if (frame)
                frame->hide();
        }
        break;
    case QEvent::Show:
        if (panel && watched == panel) {
            const QList<QWidget*> stops = panelStops();
            if (!stops.isEmpty())
                stops.first()->setFocus(Qt::OtherFocusReason);
        }
        break;
    case QEvent::Hide:
        if (panel && watched == panel && options &&
            panel->isAncestorOf(QApplication::focusWidget()))
            options->setFocus(Qt::OtherFocusReason);
        break;
    case QEvent::Resize:
    case QEvent::Move:
        if (framed && frame && watched == framed.data())
            placeFrame();
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

void KeyboardNavigation::placeFrame() {
    frame->setGeometry(QRect(framed->mapTo(window, QPoint(0, 0)), framed->size()));
}
