#pragma once

#include "FileProcessing/SignedForm.h"

#include <QObject>
#include <QString>
#include <QVariantList>

#include <chrono>

class GlobalsInfo;
class QNetworkAccessManager;

// Account controller: sign-in, registration, password recovery and changes, the archive list, and
// the stored sign-in that keeps a user signed in across restarts. Every operation waits for its
// exchange in a local event loop and answers an empty text on success, else the message to show.
class UserAuth : public QObject
{
    Q_OBJECT

public:
    explicit UserAuth(QObject *parent = nullptr);
    ~UserAuth() override;

    Q_INVOKABLE void initialCheck();
    // Signs the stored account in again, without any box: empty on success, else why not; noneStored
    // tells that there was nothing stored to sign in with.
    QString resumeStoredSignIn(bool *noneStored);
    Q_INVOKABLE QString login(QString email, QString pass);
    Q_INVOKABLE QString registration(QString name, QString email, QString pass, QString pass2);
    Q_INVOKABLE QString recover(QString email);
    Q_INVOKABLE QString checkCode(int code);
    Q_INVOKABLE QString reSetPassword(QString pass, QString pass2);
    // The addresses the sign-in form offers again: the account signed in last in this run (after a
    // sign-out), and the one whose password was just reset.
    Q_INVOKABLE QString signedInEmail() const;
    Q_INVOKABLE QString recoveredEmail() const { return recoverEmail; }

    QString updatePassword(
        const QString &newPass, const QString &newPass2, const QString &currentPass, int id);
    QString updatePersonalInfo(const QString &name, const QString &email, int id);
    // An empty list and, in failure, the text of the box it showed when the list could not be had.
    QVariantList getArchiveFile(const QString &hash, QString *failure = nullptr);
    void createLoginFile(const QString &email);
    QString getCustomerAuthInfo(const QString &email);
    bool checkInternetConnection();
    static bool isValidEmail(const QString &email);
    // Sends the fields, signed last, to the service path; leaves the reply or error text in `response`.
    bool sentRequest(const SignedForm::Fields &query, const QString &url);

    static QString scramble(const QString &text);
    static QString unscramble(const QString &text);
    static int pickMultiplier(int length);
    static int modInverse(int a, int n);

    // The form in which a password leaves this computer.
    static QString hashPassword(const QString &password);

    int remainingAttempts() const { return attemptsLeft; }

    // Shorter waits for tests; the program keeps the defaults.
    void setTimeLimits(std::chrono::milliseconds probe, std::chrono::milliseconds inactivity);

signals:
    void needLogin();
    void fieldError(QString field);
    void authSuccess();
    void showRecoverCode();
    void allowResetPassword();
    void showLoginAgain();
    void noNeedLogin();

private:
    Q_DISABLE_COPY(UserAuth)

    QString refuse(const QString &text, std::initializer_list<const char *> fields);
    // The rules every new password meets, in the order they are tested; empty when it passes.
    QString refuseNewPassword(const QString &pass, const QString &confirmation);
    bool requestSucceeded(const SignedForm::Fields &query, const QString &url);
    QString signIn(const QString &email);

    int attemptsLeft = 3;
    QString recoverEmail;
    QString response;
    GlobalsInfo *globals;
    QNetworkAccessManager *manager;
    std::chrono::milliseconds probeLimit;
    std::chrono::milliseconds inactivityLimit;
};
