#pragma once

#include <QObject>
#include <QPointer>

class QAbstractButton;
class QLabel;
class QRadioButton;
class QWidget;
namespace Ui {
class MainWindow;
}

// A text longer than its control is drawn cut in the middle ("/home/…/Wrath"), the whole text
// in its tooltip; the control's own text stays whole, so that screen readers and the rest of the
// program see it as it is.
class ElidedText : public QObject {
    Q_OBJECT
public:
    // A folder path label: its text, word-wrapped as the form has it when it fits, else one line
    // cut in the middle.
    static ElidedText* forLabel(QLabel* label);
    // The personal realm buttons of a row of realm columns: a long host gets what the other
    // buttons leave and is cut to fit, never squeezing their texts.
    static ElidedText* forRealmButtons(QWidget* realmRow, const QList<QRadioButton*>& personal);

    // The text a realm button shows: its own, or cut to what its width leaves beside its
    // indicator and its status gem.
    static QString shownText(const QAbstractButton* button);
    // The text a path label shows, on one line, or its own text when it fits as it is.
    static QString shownText(const QLabel* label);

    // Room kept right of a realm button's text for its status gem.
    static constexpr int kGemRoom = 17;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    explicit ElidedText(QObject* parent);
    void fitRealmButtons();
    bool paintLabel(QLabel* label);
    bool paintButton(QRadioButton* button);

    QPointer<QWidget> realmRow;
    QList<QPointer<QRadioButton>> personal;
};

// The drawing of the form's controls where its sheets fall short: the focus of "Jouer" and
// "Options" is shown by the keyboard's ring alone (the style's own focus would tint their
// pictures, and they would look disabled), and the "Wotlk" check boxes take no piece of the
// panel's picture behind their text. The folder paths and the personal realms are cut to fit.
void keepControlsLegible(Ui::MainWindow* ui, const QList<QRadioButton*>& realmButtons);
