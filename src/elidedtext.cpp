#include "elidedtext.h"

#include "realmsandprogress.h"
#include "ui_mainwindow.h"

#include <QBoxLayout>
#include <QHelpEvent>
#include <QLabel>
#include <QPainter>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QToolTip>

namespace {

QRect radioTextRect(const QAbstractButton* button) {
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = button->text();
    return button->style()->subElementRect(QStyle::SE_RadioButtonContents, &option, button);
}

bool labelFits(const QLabel* label) {
    const QRect room = label->contentsRect();
    const QRect needed = label->fontMetrics().boundingRect(
        room, int(label->alignment()) | (label->wordWrap() ? Qt::TextWordWrap : 0), label->text());
    return needed.width() <= room.width() && needed.height() <= room.height();
}

} // namespace

ElidedText::ElidedText(QObject* parent)
    : QObject(parent) {}

ElidedText* ElidedText::forLabel(QLabel* label) {
    auto* elided = new ElidedText(label);
    label->installEventFilter(elided);
    return elided;
}

ElidedText* ElidedText::forRealmButtons(QWidget* row, const QList<QRadioButton*>& buttons) {
    auto* elided = new ElidedText(row);
    elided->realmRow = row;
    for (QRadioButton* button : buttons) {
        elided->personal << button;
        button->installEventFilter(elided);
    }
    // A new text asks the row for a new layout, which comes here first.
    row->installEventFilter(elided);
    elided->fitRealmButtons();
    return elided;
}

QString ElidedText::shownText(const QAbstractButton* button) {
    const QString text = button->text();
    const QFontMetrics metrics = button->fontMetrics();
    const int room = radioTextRect(button).width();
    if (metrics.horizontalAdvance(text) <= room)
        return text;
    return metrics.elidedText(text, Qt::ElideMiddle, qMax(0, room - kGemRoom));
}

QString ElidedText::shownText(const QLabel* label) {
    if (labelFits(label))
        return label->text();
    return label->fontMetrics().elidedText(label->text(), Qt::ElideMiddle,
                                           label->contentsRect().width());
}

void ElidedText::fitRealmButtons() {
    if (!realmRow)
        return;
    auto* row = qobject_cast<QBoxLayout*>(realmRow->layout());
    if (!row)
        return;
    // The widest column that holds no personal realm keeps its full width; the personal realms
    // share what is left.
    int fixedColumns = 0, personalColumns = 0;
    for (int i = 0; i < row->count(); ++i) {
        QLayout* column = row->itemAt(i)->layout();
        if (!column)
            continue;
        bool holdsPersonal = false;
        int widest = 0;
        for (int j = 0; j < column->count(); ++j) {
            QWidget* widget = column->itemAt(j)->widget();
            auto* button = qobject_cast<QRadioButton*>(widget);
            if (!button)
                continue;
            if (personal.contains(button))
                holdsPersonal = true;
            else
                widest = qMax(widest, button->sizeHint().width());
        }
        if (holdsPersonal)
            ++personalColumns;
        else
            fixedColumns += widest;
    }
    if (personalColumns == 0)
        return;
    const int spacing = qMax(0, row->spacing()) * (row->count() - 1);
    const QMargins margins = row->contentsMargins();
    const int share =
        (realmRow->width() - margins.left() - margins.right() - spacing - fixedColumns) /
        personalColumns;
    for (QRadioButton* button : personal) {
        if (!button)
            continue;
        // A text that fits leaves its button as the form lays it out.
        const int limit = button->sizeHint().width() > share ? qMax(0, share) : QWIDGETSIZE_MAX;
        if (button->maximumWidth() != limit)
            button->setMaximumWidth(limit);
    }
}

bool ElidedText::paintLabel(QLabel* label) {
    if (labelFits(label))
        return false;
    QPainter painter(label);
    const QRect room = label->contentsRect();
    const Qt::Alignment across = label->alignment() & Qt::AlignHorizontal_Mask;
    label->style()->drawItemText(&painter, room, int(across | Qt::AlignVCenter), label->palette(),
                                 label->isEnabled(), shownText(label), label->foregroundRole());
    return true;
}

bool ElidedText::paintButton(QRadioButton* button) {
    const QString shown = shownText(button);
    if (shown == button->text())
        return false;
    // What the button paints itself, with the shortened text.
    QPainter painter(button);
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = shown;
    option.icon = button->icon();
    option.iconSize = button->iconSize();
    if (button->isDown())
        option.state |= QStyle::State_Sunken;
    option.state |= button->isChecked() ? QStyle::State_On : QStyle::State_Off;
    button->style()->drawControl(QStyle::CE_RadioButton, &option, &painter, button);
    return true;
}

bool ElidedText::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::LayoutRequest:
    case QEvent::Resize:
        if (watched == realmRow.data())
            fitRealmButtons();
        break;
    case QEvent::Paint:
        if (auto* label = qobject_cast<QLabel*>(watched))
            return paintLabel(label);
        if (auto* button = qobject_cast<QRadioButton*>(watched))
            return paintButton(button);
        break;
    case QEvent::ToolTip: {
        auto* help = static_cast<QHelpEvent*>(event);
        auto* widget = qobject_cast<QWidget*>(watched);
        QString whole, shown;
        if (auto* label = qobject_cast<QLabel*>(watched)) {
            whole = label->text();
            shown = shownText(label);
        } else if (auto* button = qobject_cast<QAbstractButton*>(watched)) {
            whole = button->text();
            shown = shownText(button);
        }
        if (widget && whole != shown) {
            QToolTip::showText(help->globalPos(), whole, widget);
            return true;
        }
        break;
    }
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

void keepControlsLegible(Ui::MainWindow* ui, const QList<QRadioButton*>& realmButtons) {
    // The keyboard's ring shows the focus of the two picture buttons (see KeyboardNavigation).
    for (QWidget* button : {static_cast<QWidget*>(ui->Jouer), static_cast<QWidget*>(ui->Options)})
        button->setStyleSheet(button->styleSheet() +
                              QStringLiteral("\nQPushButton { outline: none; }"));
    // The panel's picture, which its sheet gives every widget in it, stays behind the panel.
    for (QWidget* box : {ui->checkBox_Realm1, ui->checkBox_Realm2, ui->checkBox_Realm3})
        box->setStyleSheet(box->styleSheet() +
                           QStringLiteral("\n\nQCheckBox { background: transparent; }"));
    ElidedText::forLabel(ui->CheminWoTLK);
    ElidedText::forLabel(ui->CheminCata);
    // A personal realm's row says its host beside its title: cut, never widening the panel.
    for (QLabel* title : {ui->label_1, ui->label_4, ui->label_3}) {
        title->setMinimumWidth(1);
        ElidedText::forLabel(title);
    }
    ElidedText::forRealmButtons(ui->horizontalLayoutWidget,
                                realmButtons.mid(vestrahal::kFirstPersonalRealm));
}
