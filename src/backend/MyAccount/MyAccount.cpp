#include "MyAccount.h"

#include "GlobalsInfo/GlobalsInfo.h"
#include "GlobalsInfo/TraceLog.h"
#include "UserAuth/UserAuth.h"
#include "plugins/MessageBoxCustom.h"

namespace {

const HostedWindow::Description accountWindow { QStringLiteral("My Account Settings"),
    QUrl(QStringLiteral("qrc:/qml/MyAccount.qml")), QSize(470, 600) };

} // namespace

MyAccount::MyAccount(QWidget *parent)
    : HostedWindow(accountWindow, parent)
    , auth(std::make_unique<UserAuth>())
{
    initQMLconnections();
}

MyAccount::~MyAccount() = default;

void MyAccount::initQMLconnections()
{
    connectFromRoot(SIGNAL(savePersonalInfo(QString, QString)), SLOT(savePersonalInfo(QString, QString)));
    connectFromRoot(
        SIGNAL(updatePassword(QString, QString, QString)), SLOT(updatePassword(QString, QString, QString)));
    connectFromRoot(SIGNAL(discard()), SLOT(discard()));
    connectFromRoot(SIGNAL(cancel()), SLOT(cancel()));
    connectToRoot(SIGNAL(savedPersonalInfo(bool)));
    connectToRoot(SIGNAL(updatedPassword(QString)));
    // The controller names the inputs it refuses; the document marks them.
    if (root)
        connect(auth.get(), SIGNAL(fieldError(QString)), root, SIGNAL(fieldError(QString)));
}

void MyAccount::fillDocument()
{
    showCachedInfo();
}

void MyAccount::showCachedInfo()
{
    if (!root)
        return;
    root->setProperty("name", globals->getUserName());
    root->setProperty("email", globals->getUserEmail());
}

void MyAccount::savePersonalInfo(const QString &name, const QString &email)
{
    ZELK_TRACE() << name << email;
    const bool emailChanged = email != globals->getUserEmail();
    if (name == globals->getUserName() && !emailChanged) {
        emit savedPersonalInfo(true);
        return;
    }

    const QString error = auth->updatePersonalInfo(name, email, globals->getUserID());
    if (!error.isEmpty()) {
        emit savedPersonalInfo(false);
        MessageBoxCustom::critical(this, QStringLiteral("Cannot update Data"), error);
        return;
    }
    // The stored sign-in names the account by its address: the next start must find the new one.
    if (emailChanged)
        auth->createLoginFile(email);
    globals->updatePersonalInfo(name, email);
    emit savedPersonalInfo(true);
}

void MyAccount::updatePassword(const QString &pass1, const QString &pass2, const QString &current_pass)
{
    // The entries themselves never reach the log.
    ZELK_TRACE();
    emit updatedPassword(auth->updatePassword(pass1, pass2, current_pass, globals->getUserID()));
}

void MyAccount::discard()
{
    ZELK_TRACE();
    showCachedInfo();
}

void MyAccount::cancel()
{
    close();
}
