#pragma once

#include "newsview.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTimer>
#include <QUrl>

#include <functional>
#include <memory>

// Stands in for the system's browser and mail program (see QDesktopServices::setUrlHandler).
class UrlRecorder : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened.append(url); }
};

// Answers the next modal dialog once it is open: the dialog runs its own event loop, so the
// answer has to come from a timer that looks for it.
inline void answerNextDialog(std::function<void(QWidget*)> answer, int timeoutMs = 30000) {
    auto* poll = new QTimer(qApp);
    auto* clock = new QElapsedTimer;
    clock->start();
    QObject::connect(poll, &QTimer::timeout, poll, [poll, clock, answer, timeoutMs] {
        QWidget* dialog = QApplication::activeModalWidget();
        if (!dialog && clock->elapsed() < timeoutMs)
            return;
        poll->stop();
        poll->deleteLater();
        delete clock;
        if (dialog)
            answer(dialog);
    });
    poll->start(10);
}

// Answers modal dialogs one after the other, in the order they open, each with the next of its
// answers; a dialog that opens when no answer is left is rejected, so that a test never hangs.
class DialogScript : public QObject {
public:
    using Answer = std::function<void(QWidget*)>;

    DialogScript() {
        connect(&poll, &QTimer::timeout, this, &DialogScript::look);
        poll.start(10);
    }
    void then(Answer answer) { answers.append(std::move(answer)); }
    int answered() const { return count; }
    int unexpected() const { return extra; }

private:
    void look() {
        QWidget* dialog = QApplication::activeModalWidget();
        if (!dialog || !dialog->isVisible() || dialog == last.data())
            return;
        last = dialog;
        if (answers.isEmpty()) {
            ++extra;
            QMetaObject::invokeMethod(dialog, "reject");
            return;
        }
        ++count;
        answers.takeFirst()(dialog);
    }

    QTimer poll;
    QList<Answer> answers;
    QPointer<QWidget> last;
    int count = 0;
    int extra = 0;
};

// The window's widgets, found by their object names as any tool outside the program finds them.
struct WindowWidgets {
    explicit WindowWidgets(QWidget& window)
        : window(window) {}
    template <class T> T* find(const char* name) const {
        T* widget = window.findChild<T*>(QLatin1String(name));
        if (!widget)
            qFatal("the window has no widget named %s", name);
        return widget;
    }
    QWidget& window;
    QPushButton* Jouer = find<QPushButton>("Jouer");
    QProgressBar* Chargement = find<QProgressBar>("Chargement");
    QLabel* Texte = find<QLabel>("Texte");
    QPushButton* Options = find<QPushButton>("Options");
    QFrame* Fading = find<QFrame>("Fading");
    QGroupBox* OptionsMenu = find<QGroupBox>("OptionsMenu");
    QLabel* labelVersion = find<QLabel>("labelVersion");
    NewsView* Web = find<NewsView>("Web");
    QRadioButton* radioButton = find<QRadioButton>("radioButton");
    QRadioButton* radioButton_2 = find<QRadioButton>("radioButton_2");
    QRadioButton* radioButton_3 = find<QRadioButton>("radioButton_3");
    QRadioButton* radioButton_4 = find<QRadioButton>("radioButton_4");
    QRadioButton* radioButton_5 = find<QRadioButton>("radioButton_5");
    QRadioButton* radioButton_6 = find<QRadioButton>("radioButton_6");
    QLabel* CheminWoTLK = find<QLabel>("CheminWoTLK");
    QLabel* CheminCata = find<QLabel>("CheminCata");
    QPushButton* ModifierCheminWoTLK = find<QPushButton>("ModifierCheminWoTLK");
    QPushButton* ModifierCheminCata = find<QPushButton>("ModifierCheminCata");
    QPushButton* DeleteCheminWoTLK = find<QPushButton>("DeleteCheminWoTLK");
    QPushButton* DeleteCheminCata = find<QPushButton>("DeleteCheminCata");
    QCheckBox* checkBox_Realm1 = find<QCheckBox>("checkBox_Realm1");
    QCheckBox* checkBox_Realm2 = find<QCheckBox>("checkBox_Realm2");
    QCheckBox* checkBox_Realm3 = find<QCheckBox>("checkBox_Realm3");
    QPushButton* SetRealm1 = find<QPushButton>("SetRealm1");
    QPushButton* SetRealm2 = find<QPushButton>("SetRealm2");
    QPushButton* SetRealm3 = find<QPushButton>("SetRealm3");
    QPushButton* DeleteRealm1 = find<QPushButton>("DeleteRealm1");
    QPushButton* DeleteRealm2 = find<QPushButton>("DeleteRealm2");
    QPushButton* DeleteRealm3 = find<QPushButton>("DeleteRealm3");
    QPushButton* SauvegarderOptions = find<QPushButton>("SauvegarderOptions");
    QPushButton* VerifierFichiers = find<QPushButton>("VerifierFichiers");
    QSpinBox* LimiteTelechargement = find<QSpinBox>("LimiteTelechargement");
    QPushButton* PauseInstallation = find<QPushButton>("PauseInstallation");
    QPushButton* ReprendreInstallation = find<QPushButton>("ReprendreInstallation");
    // The realm buttons, in realm order.
    QList<QRadioButton*> realms() const {
        return {radioButton,   radioButton_2, radioButton_3,
                radioButton_4, radioButton_5, radioButton_6};
    }
};
inline std::unique_ptr<WindowWidgets> ui(QWidget& window) {
    return std::make_unique<WindowWidgets>(window);
}
