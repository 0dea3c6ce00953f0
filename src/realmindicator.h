#pragma once

#include "realmstatus.h"

#include <QLabel>

class QRadioButton;

// The realm status gem beside a realm button's text. It lies over the button as a child of its
// own, so that the button keeps its text, size and behaviour; a click on it reaches the button.
class RealmIndicator : public QLabel {
    Q_OBJECT

public:
    static constexpr int kSize = 12;

    explicit RealmIndicator(QRadioButton* button);

    // The state's gem for a screen of this density (the @2x twin from 1.5 up).
    static QPixmap gem(RealmStatus::State state, qreal devicePixelRatio);

    // Shows the state (nothing for None), says it in the tooltip and the accessible description,
    // and follows the button's text.
    void showState(RealmStatus::State state, int milliseconds);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Just after the end of the text, inside the button, centred on the text's line.
    void place();

    QRadioButton* button;
};
