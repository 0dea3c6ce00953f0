#pragma once

#include "communityserver.h"
#include "constants.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QList>
#include <QPointer>
#include <QTimer>

#include <QCheckBox>
#include <QFile>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QNetworkProxy>
#include <QObject>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSslConfiguration>
#include <QTest>
#include <QUrl>
#include <functional>
#include <memory>

#include "newsview.h"

inline bool httpsBuild() {
    return qstrcmp(vestrahal::kWebScheme, "https") == 0;
}

// An address of the community's web site, as the build names it.
inline QString newsUrl(const char* path) {
    return QString::fromLatin1(vestrahal::kWebScheme) + "://" + vestrahal::kWebDomain + path;
}

// A certificate of tests/tls with its chain up to the tests' authority (tests/tls/make.sh):
// "server" for the test build's hosts, "wrongname" for other names, "untrusted" from an
// authority nobody trusts.
inline QList<QSslCertificate> testChain(const char* name) {
    QList<QSslCertificate> chain = QSslCertificate::fromPath(
        QStringLiteral(VESTRAHAL_SOURCE_DIR "/tests/tls/%1.pem").arg(name));
    if (qstrcmp(name, "untrusted") != 0)
        chain +=
            QSslCertificate::fromPath(QStringLiteral(VESTRAHAL_SOURCE_DIR "/tests/tls/ca.pem"));
    return chain;
}
inline QSslKey testKey(const char* name) {
    QFile file(QStringLiteral(VESTRAHAL_SOURCE_DIR "/tests/tls/%1.key").arg(name));
    file.open(QIODevice::ReadOnly);
    return QSslKey(file.readAll(), QSsl::Ec);
}

// The tests' authority is trusted in this process only, on top of the system's.
inline void trustTestAuthority() {
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.addCaCertificates(
        QSslCertificate::fromPath(QStringLiteral(VESTRAHAL_SOURCE_DIR "/tests/tls/ca.pem")));
    QSslConfiguration::setDefaultConfiguration(configuration);
}

// The launcher's hosts are fixed when it is built. The tests route every request, the web
// view's included, through the local community server acting as a proxy: whatever hosts the
// build names, nothing leaves this machine and the server sees exactly what was asked. In an
// https build the server also answers the tunnels, with a certificate for the build's hosts.
inline void routeThroughCommunityServer(CommunityServer& server) {
    if (httpsBuild()) {
        trustTestAuthority();
        server.setTls(testChain("server"), testKey("server"));
    }
    server.setRoot(QStringLiteral(VESTRAHAL_SOURCE_DIR "/tools/site"));
    QVERIFY2(server.start(), qPrintable(server.errorString()));
    QNetworkProxy::setApplicationProxy(
        QNetworkProxy(QNetworkProxy::HttpProxy, QStringLiteral("127.0.0.1"), server.serverPort()));
}

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
    // The realm buttons, in realm order.
    QList<QRadioButton*> realms() const {
        return {radioButton,   radioButton_2, radioButton_3,
                radioButton_4, radioButton_5, radioButton_6};
    }
};
inline std::unique_ptr<WindowWidgets> ui(QWidget& window) {
    return std::make_unique<WindowWidgets>(window);
}
