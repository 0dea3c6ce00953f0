#include "realmindicator.h"

#include "accessibility.h"
#include "elidedtext.h"

#include <QEvent>
#include <QIcon>
#include <QPixmapCache>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>

namespace {

QString imageFor(RealmStatus::State state) {
    switch (state) {
    case RealmStatus::State::Answering:
        return QStringLiteral(":/realmup");
    case RealmStatus::State::Silent:
        return QStringLiteral(":/realmdown");
    default:
        return QStringLiteral(":/realmunknown");
    }
}

} // namespace

QPixmap RealmIndicator::gem(RealmStatus::State state, qreal devicePixelRatio) {
    // Every realm shows the same few gems, and all of them one at start: each is read once.
    const QString key =
        QStringLiteral("vestrahal-gem-%1-%2").arg(int(state)).arg(devicePixelRatio, 0, 'g', 6);
    QPixmap cached;
    if (QPixmapCache::find(key, &cached))
        return cached;
    // Both twins named outright: QIcon looks for "@2x" only when the whole application runs at
    // twice the density, not for one window on a second screen that does.
    QIcon icon;
    icon.addFile(imageFor(state) + QStringLiteral(".png"));
    icon.addFile(imageFor(state) + QStringLiteral("@2x.png"));
    const QPixmap pixmap = icon.pixmap(QSize(kSize, kSize), devicePixelRatio);
    QPixmapCache::insert(key, pixmap);
    return pixmap;
}

RealmIndicator::RealmIndicator(QRadioButton* button)
    : QLabel(button)
    , button(button) {
    setObjectName(button->objectName() + QStringLiteral("_status"));
    setFixedSize(kSize, kSize);
    // No sheet of its own: its tooltip would inherit it, and a see-through tooltip is unreadable.
    hide();
    button->installEventFilter(this);
}

void RealmIndicator::showState(RealmStatus::State state, int milliseconds) {
    const QString text = RealmStatus::describe(state, milliseconds);
    // The focused realm's news is told as it comes: its description alone would be silent.
    if (button->hasFocus() && state != RealmStatus::State::None &&
        text != button->accessibleDescription())
        accessibility::announce(button->window(), text);
    setToolTip(text);
    // Heard as the realm button's description: the gem itself is no control of its own.
    button->setAccessibleDescription(text);
    if (state == RealmStatus::State::None) {
        hide();
        return;
    }
    setPixmap(gem(state, devicePixelRatioF()));
    place();
    show();
}

bool RealmIndicator::eventFilter(QObject* watched, QEvent* event) {
    if (watched == button &&
        (event->type() == QEvent::Resize || event->type() == QEvent::Show ||
         event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange))
        place();
    return QLabel::eventFilter(watched, event);
}

void RealmIndicator::place() {
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = button->text();
    const QRect contents =
        button->style()->subElementRect(QStyle::SE_RadioButtonContents, &option, button);
    // After the text as the button shows it, cut short when it is too long.
    const int textEnd =
        contents.left() + button->fontMetrics().horizontalAdvance(ElidedText::shownText(button));
    // A long host would push the gem out of the button: it then sits at the button's edge.
    const int x = qMax(0, qMin(textEnd + 5, button->width() - kSize));
    const int y = contents.top() + (contents.height() - kSize) / 2;
    move(x, qMax(0, y));
}
