#include "keyboardnavigation.h"

#include "newspage.h"
#include "newsview.h"
#include "ui_mainwindow.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFocusFrame>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

namespace {

// A bright gold ring inside the button's edge: clear against the night sky and the bronze
// panel, and drawn over the button, so its own images stay as they are. A focus frame to Qt,
// which therefore never shows it to screen readers: it is a picture of the focus, and the focus
// itself is what they tell. It places itself (Qt's frame follows a widget of the style's
// choosing, which does not draw this ring).
class FocusFrame : public QFocusFrame {
public:
    explicit FocusFrame(QWidget* parent)
        : QFocusFrame(parent) {
        setAttribute(Qt::WA_NoSystemBackground);
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
    , news(ui->Web)
    , overlay(ui->Fading)
    , frame(new FocusFrame(window)) {
    QList<QWidget*> mainChain = realmButtons;
    mainChain << ui->Jouer << ui->Options << ui->Web;
    for (int i = 1; i < mainChain.size(); ++i)
        QWidget::setTabOrder(mainChain[i - 1], mainChain[i]);
    for (QWidget* realm : realmButtons)
        realms << realm;
    const QList<QWidget*> chain{
        ui->ModifierCheminWoTLK, ui->DeleteCheminWoTLK,     ui->ModifierCheminCata,
        ui->DeleteCheminCata,    ui->checkBox_Realm1,       ui->SetRealm1,
        ui->DeleteRealm1,        ui->checkBox_Realm2,       ui->SetRealm2,
        ui->DeleteRealm2,        ui->checkBox_Realm3,       ui->SetRealm3,
        ui->DeleteRealm3,        ui->LimiteTelechargement,  ui->VerifierFichiers,
        ui->PauseInstallation,   ui->ReprendreInstallation, ui->SauvegarderOptions};
    for (int i = 1; i < chain.size(); ++i)
        QWidget::setTabOrder(chain[i - 1], chain[i]);
    for (QWidget* stop : chain)
        panelChain << stop;
    // Keys reach the focus widget, wherever it is: the whole application is watched.
    qApp->installEventFilter(this);

    connect(qApp, &QApplication::focusChanged, this, &KeyboardNavigation::onFocusChanged);
    connect(ui->Web->newsPage(), &NewsPage::linkClicked, this, [this](const QUrl& link) {
        // Told of the link before or after the window acts on it, whichever comes first.
        lastLink = link;
        if (controlsHidden() && opener.isEmpty())
            opener = link;
    });

    if (QWidget* start = startWidget()) {
        start->setFocus(Qt::OtherFocusReason);
        if (realms.contains(start))
            agreeOnRealm(start);
    }
}

QAbstractButton* KeyboardNavigation::checkedShownRealm() const {
    for (QWidget* realm : realms) {
        auto* button = qobject_cast<QAbstractButton*>(realm);
        if (button && button->isChecked() && !button->isHidden())
            return button;
    }
    return nullptr;
}

void KeyboardNavigation::realmsRefreshed() {
    // The window's focus, also while another window is in front: it is the one told then.
    QWidget* focused = window ? window->focusWidget() : nullptr;
    if (focused && realms.contains(focused))
        agreeOnRealm(focused);
}

void KeyboardNavigation::agreeOnRealm(QWidget* focusedRealm) {
    // What a screen reader says of the focused realm, "checked" or not, is what "Jouer" plays.
    if (QAbstractButton* checked = checkedShownRealm()) {
        if (checked != focusedRealm)
            checked->setFocus(Qt::OtherFocusReason);
        return;
    }
    // The checked realm is not shown: the realm the player is on is the only one to choose.
    auto* button = qobject_cast<QAbstractButton*>(focusedRealm);
    if (button && !button->isHidden())
        button->setChecked(true);
    else if (QWidget* start = startWidget())
        start->setFocus(Qt::OtherFocusReason);
}

QWidget* KeyboardNavigation::startWidget() const {
    if (QAbstractButton* checked = checkedShownRealm())
        return checked;
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
    // Hidden with its overlay as much as by itself: while the overlay goes, the panel is no
    // longer open, even before Qt has told the panel.
    return panel && window && panel->isVisibleTo(window);
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

bool KeyboardNavigation::inNews(const QWidget* widget) const {
    return widget && news && (widget == news || news->isAncestorOf(widget));
}

bool KeyboardNavigation::controlsHidden() const {
    return jouer && options && jouer->isHidden() && options->isHidden();
}

bool KeyboardNavigation::onReturn(QWidget* focused) {
    // In the news page Return is the page's: a link opens as a click would open it.
    if (inNews(focused))
        return false;
    if (panelOpen()) {
        // Inside the panel, Return presses the button that has the focus, as Space does.
        auto* button = qobject_cast<QAbstractButton*>(focused);
        if (button && inPanelChain(button))
            button->click();
        return true;
    }
    if (auto* button = qobject_cast<QAbstractButton*>(focused); button && focused == options) {
        button->click();
        return true;
    }
    // On a realm, on "Jouer", or with the focus nowhere in particular: play; on a realm, that
    // realm.
    auto* play = qobject_cast<QAbstractButton*>(jouer.data());
    if (!play || !play->isEnabled() || play->isHidden())
        return true;
    if (auto* realm = qobject_cast<QAbstractButton*>(focused); realm && realms.contains(focused))
        realm->setChecked(true);
    play->click();
    return true;
}

bool KeyboardNavigation::onArrow(QWidget* focused, int key) {
    const int at = realms.indexOf(focused);
    if (at < 0)
        return false;
    // The shown realms in the order of their indices: column by column, as a screen reader
    // lists them.
    QList<QAbstractButton*> shown;
    for (const QPointer<QWidget>& realm : realms) {
        auto* button = qobject_cast<QAbstractButton*>(realm.data());
        if (button && button->isVisibleTo(window) && button->isEnabled())
            shown << button;
    }
    auto* current = qobject_cast<QAbstractButton*>(focused);
    const int from = int(shown.indexOf(current));
    if (from < 0 || shown.size() < 2)
        return true;
    const bool forward = key == Qt::Key_Down || key == Qt::Key_Right;
    const int to = (from + (forward ? 1 : int(shown.size()) - 1)) % int(shown.size());
    QAbstractButton* next = shown[to];
    next->setFocus(forward ? Qt::TabFocusReason : Qt::BacktabFocusReason);
    // As Qt's own radio buttons: the check follows the focus when the realm left was checked.
    if (current->isChecked())
        next->click();
    return true;
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
    // A hidden control keeps Qt's focus when nothing else can take it: no ring over nothing.
    if (!button || !keyboardInUse || !window || !window->isAncestorOf(button) ||
        !button->isVisibleTo(window)) {
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
        if (window && widget && widget->window() == window &&
            onKeyPress(widget, static_cast<QKeyEvent*>(event)))
            return true;
        break;
    }
    case QEvent::MouseButtonPress:
        onMousePress(watched, static_cast<QMouseEvent*>(event));
        break;
    case QEvent::FocusIn:
        if (onNewsFocusIn(watched, static_cast<QFocusEvent*>(event)))
            return true;
        break;
    case QEvent::Show:
        onShow(watched);
        break;
    case QEvent::Hide:
        onHide(watched);
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

bool KeyboardNavigation::onKeyPress(QWidget* widget, const QKeyEvent* key) {
    if (!keyboardInUse) {
        keyboardInUse = true;
        showFrame(QApplication::focusWidget());
    }
    // Keys that no control took travel up to the window: each is acted on once, where it was
    // first delivered.
    QWidget* focused = QApplication::focusWidget();
    if (focused ? widget != focused : widget != window)
        return false;
    const Qt::KeyboardModifiers modifiers = key->modifiers() & ~Qt::KeypadModifier;
    switch (key->key()) {
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        if (!inPanelChain(widget))
            return false;
        cyclePanel(!(key->key() == Qt::Key_Backtab || modifiers & Qt::ShiftModifier));
        return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return modifiers == Qt::NoModifier && onReturn(focused);
    case Qt::Key_Escape:
        return modifiers == Qt::NoModifier && onEscape();
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_Left:
    case Qt::Key_Right:
        return modifiers == Qt::NoModifier && onArrow(focused, key->key());
    default:
        return false;
    }
}

bool KeyboardNavigation::onEscape() {
    if (panelOpen()) {
        emit optionsCloseRequested();
        return true;
    }
    // A page shown in place hides every control: Escape is the way back, also from inside the
    // page.
    if (controlsHidden()) {
        emit newsHomeRequested();
        return true;
    }
    return false;
}

void KeyboardNavigation::onMousePress(QObject* watched, const QMouseEvent* event) {
    if (keyboardInUse) {
        keyboardInUse = false;
        if (frame)
            frame->hide();
    }
    // The dimmed window around the open panel: a click there leaves the panel, as Escape does.
    if (overlay && panel && watched == overlay && panelOpen() &&
        !panel->geometry().contains(event->position().toPoint()))
        emit optionsCloseRequested();
}

bool KeyboardNavigation::onNewsFocusIn(QObject* watched, const QFocusEvent* event) {
    // Tab into the page: Qt WebEngine would put the page's focus on its first control and then
    // tell a screen reader of the document around it. The page is given its first (last)
    // control itself, and the keyboard with it, so that the control is what is told.
    if (!news || watched != news->focusProxy() ||
        (event->reason() != Qt::TabFocusReason && event->reason() != Qt::BacktabFocusReason))
        return false;
    news->focusLink(QUrl(), event->reason() == Qt::BacktabFocusReason);
    return true;
}

void KeyboardNavigation::onShow(QObject* watched) {
    if (panel && watched == panel) {
        const QList<QWidget*> stops = panelStops();
        if (!stops.isEmpty())
            stops.first()->setFocus(Qt::OtherFocusReason);
    }
    if (framed && watched == framed.data())
        showFrame(QApplication::focusWidget());
    if (!news || watched != news.data() || !window)
        return;
    if (controlsHidden()) {
        // A page shown in place, alone in the window: the keyboard is in it, on its first control.
        // (The engine tells nothing of a new document in a view that had the keyboard.)
        news->focusLink(QUrl());
    } else if (!opener.isEmpty()) {
        // Back from a page shown in place, on the link that showed it.
        news->focusLink(opener);
        opener.clear();
    }
}

void KeyboardNavigation::onHide(QObject* watched) {
    auto* hidden = qobject_cast<QWidget*>(watched);
    if (!hidden || !window || !window->isAncestorOf(hidden))
        return;
    if (hidden == options && controlsHidden() && opener.isEmpty())
        opener = lastLink;
    // The panel goes, alone or with its overlay, before Qt moves the focus off it: the focus
    // goes straight back to the options button, one move for the screen reader.
    if (panel && options && (hidden == panel || hidden->isAncestorOf(panel)) &&
        panel->isAncestorOf(QApplication::focusWidget()))
        options->setFocus(Qt::OtherFocusReason);
    if (framed && frame && (hidden == framed.data() || hidden->isAncestorOf(framed)))
        frame->hide();
}

void KeyboardNavigation::placeFrame() {
    frame->setGeometry(QRect(framed->mapTo(window, QPoint(0, 0)), framed->size()));
}
