#include "UserAuth.h"

#include "FileProcessing/NetworkWait.h"
#include "FileProcessing/ReplyTimeout.h"
#include "FileProcessing/ServiceMessages.h"
#include "GlobalsInfo/GlobalsInfo.h"
#include "GlobalsInfo/TraceLog.h"
#include "plugins/MessageBoxCustom.h"

#include <QCryptographicHash>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QSaveFile>

#include <array>
#include <numeric>

namespace {

const QString notRegistered = QStringLiteral("This email not registered yet!");
const QString invalidEmail = QStringLiteral("Invalid email format");
const QString emptyPassword = QStringLiteral("Field Password cannot be empty");
const QString shortPassword = QStringLiteral("Password must be 7 characters or more");
const QString passwordsDiffer = QStringLiteral("The passwords don't match");
const QString emptyName = QStringLiteral("Field Name cannot be empty");
const QString shortName = QStringLiteral("Name must be 3 characters or more");

constexpr int minimumNameLength = 3;
constexpr int minimumPasswordLength = 7;

// Ascending primes tried as the auth file's scrambling multiplier; reader and writer share them.
constexpr std::array<int, 9> multiplierCandidates { 17, 19, 23, 29, 31, 37, 41, 43, 47 };

QString authPath(const QString &path)
{
    return QStringLiteral("/zelk-server/auth/") + path;
}

} // namespace

UserAuth::UserAuth(QObject *parent)
    : QObject(parent)
    , globals(GlobalsInfo::getInstance())
    , manager(new QNetworkAccessManager(this))
    , probeLimit(ReplyTimeout::probeLimit)
    , inactivityLimit(ReplyTimeout::inactivityLimit)
{ }

UserAuth::~UserAuth() = default;

void UserAuth::setTimeLimits(std::chrono::milliseconds probe, std::chrono::milliseconds inactivity)
{
    probeLimit = probe;
    inactivityLimit = inactivity;
}

QString UserAuth::refuse(const QString &text, std::initializer_list<const char *> fields)
{
    for (const char *field : fields)
        emit fieldError(QString::fromLatin1(field));
    return text;
}

QString UserAuth::refuseNewPassword(const QString &pass, const QString &confirmation)
{
    if (pass.isEmpty())
        return refuse(emptyPassword, { "pass" });
    if (pass.size() < minimumPasswordLength)
        return refuse(shortPassword, { "pass" });
    if (confirmation != pass)
        return refuse(passwordsDiffer, { "pass", "pass2" });
    return {};
}

bool UserAuth::isValidEmail(const QString &email)
{
    static const QRegularExpression pattern(
        QStringLiteral("^[A-Za-z0-9._%+-]+@[A-Za-z0-9.-]+\\.[A-Za-z]{2,}$"));
    return pattern.match(email).hasMatch();
}

QString UserAuth::hashPassword(const QString &password)
{
    const QString filled = QStringLiteral(")^!kq %1 zx42m").arg(password);
    return QString::fromLatin1(QCryptographicHash::hash(filled.toUtf8(), QCryptographicHash::Md5).toHex());
}

bool UserAuth::checkInternetConnection()
{
    return NetworkWait::probe(manager, globals->getProbeUrl(), probeLimit, this);
}

bool UserAuth::sentRequest(const SignedForm::Fields &query, const QString &url)
{
    response.clear();
    if (!checkInternetConnection()) {
        response = QStringLiteral("No internet connection!");
        return false;
    }

    QNetworkReply *reply = manager->post(SignedForm::request(globals->serviceEndpoint(url)),
        SignedForm::build(query, SignedForm::SigningPair::Last));
    ReplyTimeout::watch(reply, inactivityLimit, ReplyTimeout::Kind::Inactivity);
    if (!NetworkWait::untilFinished(reply, this))
        return false;

    const bool ok = reply->error() == QNetworkReply::NoError;
    response = ok ? QString::fromUtf8(reply->readAll())
                  : QStringLiteral("Error: ") + ReplyTimeout::errorString(reply);
    reply->deleteLater();
    // The screens take an empty text for success: an empty answer must not pass for one.
    if (ok && response.trimmed().isEmpty()) {
        response = QStringLiteral("The service gave no answer");
        return false;
    }
    return ok;
}

bool UserAuth::requestSucceeded(const SignedForm::Fields &query, const QString &url)
{
    return sentRequest(query, url) && response == QLatin1String("success");
}

QString UserAuth::getCustomerAuthInfo(const QString &email)
{
    if (!sentRequest({ { QStringLiteral("email"), email } }, authPath(QStringLiteral("getInfo.php"))))
        return response;
    const QJsonDocument document = QJsonDocument::fromJson(response.toUtf8());
    if (!document.isObject())
        return response;
    globals->saveCustomerInfo(document.object().toVariantMap());
    return {};
}

QString UserAuth::signIn(const QString &email)
{
    const QString result = getCustomerAuthInfo(email);
    if (result.isEmpty())
        createLoginFile(email);
    return result;
}

QString UserAuth::resumeStoredSignIn(bool *noneStored)
{
    *noneStored = false;
    const QString machineId = GlobalsInfo::machineId();
    const QString storedKey = globals->getPublicKey();
    QFile file(globals->authFilePath());
    if (storedKey.isEmpty() || !file.exists() || !file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        *noneStored = true;
        return {};
    }
    QString content = unscramble(QString::fromUtf8(file.readAll()));
    file.close();
    content.remove(storedKey).remove(globals->appKey).remove(machineId);
    const QString email = QString::fromUtf8(QByteArray::fromBase64(content.toLatin1()));

    const QString result = getCustomerAuthInfo(email);
    // An account the service no longer knows is no sign-in to keep.
    if (result == notRegistered)
        QFile::remove(globals->authFilePath());
    return result;
}

void UserAuth::initialCheck()
{
    ZELK_TRACE();
    bool noneStored = false;
    const QString result = resumeStoredSignIn(&noneStored);
    if (!noneStored && result.isEmpty()) {
        emit noNeedLogin();
        return;
    }
    if (!noneStored && result != notRegistered)
        MessageBoxCustom::critical(nullptr, QStringLiteral("Auth Failed"),
            QStringLiteral("%1\n\nPlease try again later, or try to login").arg(result));
    emit needLogin();
}

QString UserAuth::login(QString email, QString pass)
{
    if (email.isEmpty() || !isValidEmail(email))
        return refuse(invalidEmail, { "email" });
    if (pass.isEmpty())
        return refuse(emptyPassword, { "pass" });

    if (!requestSucceeded(
            { { QStringLiteral("email"), email }, { QStringLiteral("password"), hashPassword(pass) } },
            authPath(QStringLiteral("login.php"))))
        return response;
    return signIn(email);
}

QString UserAuth::registration(QString name, QString email, QString pass, QString pass2)
{
    if (name.isEmpty())
        return refuse(emptyName, { "name" });
    if (name.size() < minimumNameLength)
        return refuse(shortName, { "name" });
    if (email.isEmpty() || !isValidEmail(email))
        return refuse(invalidEmail, { "email" });
    if (const QString refused = refuseNewPassword(pass, pass2); !refused.isEmpty())
        return refused;

    if (!requestSucceeded({ { QStringLiteral("email"), email }, { QStringLiteral("name"), name },
                              { QStringLiteral("password"), hashPassword(pass) } },
            authPath(QStringLiteral("registration.php"))))
        return response;
    return signIn(email);
}

QString UserAuth::recover(QString email)
{
    if (email.isEmpty() || !isValidEmail(email))
        return refuse(invalidEmail, { "email" });

    recoverEmail = email;
    if (!requestSucceeded({ { QStringLiteral("email"), email } }, authPath(QStringLiteral("recover.php"))))
        return response;
    attemptsLeft = 3;
    emit showRecoverCode();
    return {};
}

QString UserAuth::checkCode(int code)
{
    if (code < 100000 || code > 999999)
        return refuse(QStringLiteral("Invalid code format. Should be 6 digits"), { "code" });
    if (attemptsLeft < 1)
        return QStringLiteral("3 attempts used. Please try again later.");

    // A failed exchange uses up an attempt too, so guessing cannot hide behind network errors.
    --attemptsLeft;
    if (!requestSucceeded(
            { { QStringLiteral("code"), QString::number(code) }, { QStringLiteral("email"), recoverEmail } },
            authPath(QStringLiteral("checkCode.php"))))
        return response;
    emit allowResetPassword();
    return {};
}

QString UserAuth::reSetPassword(QString pass, QString pass2)
{
    if (const QString refused = refuseNewPassword(pass, pass2); !refused.isEmpty())
        return refused;

    if (!requestSucceeded(
            { { QStringLiteral("password"), hashPassword(pass) }, { QStringLiteral("email"), recoverEmail } },
            authPath(QStringLiteral("resetpassword.php"))))
        return response;
    emit showLoginAgain();
    return {};
}

QString UserAuth::signedInEmail() const
{
    return globals->getUserEmail();
}

QString UserAuth::updatePassword(
    const QString &newPass, const QString &newPass2, const QString &currentPass, int id)
{
    if (const QString refused = refuseNewPassword(newPass, newPass2); !refused.isEmpty())
        return refused;
    if (currentPass.isEmpty())
        return refuse(QStringLiteral("Field Current Password cannot be empty"), { "pass3" });
    if (newPass == currentPass)
        return refuse(QStringLiteral("New Password cannot be the same as existing one"), { "pass3" });

    if (requestSucceeded({ { QStringLiteral("password"), hashPassword(newPass) },
                             { QStringLiteral("current_password"), hashPassword(currentPass) },
                             { QStringLiteral("id"), QString::number(id) } },
            authPath(QStringLiteral("updatePassword.php"))))
        return {};
    if (response == QLatin1String("Incorrect current password"))
        emit fieldError(QStringLiteral("pass3"));
    return response;
}

QString UserAuth::updatePersonalInfo(const QString &name, const QString &email, int id)
{
    if (name.isEmpty())
        return emptyName;
    if (name.size() < minimumNameLength)
        return shortName;
    if (email.isEmpty() || !isValidEmail(email))
        return refuse(invalidEmail, { "email" });

    if (requestSucceeded({ { QStringLiteral("email"), email }, { QStringLiteral("name"), name },
                             { QStringLiteral("id"), QString::number(id) } },
            authPath(QStringLiteral("updateInfo.php"))))
        return {};
    return response;
}

QVariantList UserAuth::getArchiveFile(const QString &hash, QString *failure)
{
    // Asked without the probe first, so that a failure names the service and the reason it gave.
    QNetworkReply *reply = manager->post(
        SignedForm::request(globals->serviceEndpoint(authPath(QStringLiteral("archive.php")))),
        SignedForm::build({ { QStringLiteral("hash"), hash } }, SignedForm::SigningPair::Last));
    ReplyTimeout::watch(reply, inactivityLimit, ReplyTimeout::Kind::Inactivity);
    if (!NetworkWait::untilFinished(reply, this))
        return {};
    reply->deleteLater();
    const bool answered = reply->error() == QNetworkReply::NoError;
    const QByteArray body = answered ? reply->readAll() : QByteArray();
    const QJsonDocument document = QJsonDocument::fromJson(body);
    if (answered && document.isArray())
        return document.array().toVariantList();

    QString text = QString::fromUtf8(body);
    if (!answered)
        text = ServiceMessages::failure(reply, QStringLiteral("Error: "));
    else if (text.trimmed().isEmpty())
        text = ServiceMessages::noAnswer(QStringLiteral("loading the archive list"));
    if (failure)
        *failure = text;
    MessageBoxCustom::critical(nullptr, QStringLiteral("Archive Error"), text);
    return {};
}

void UserAuth::createLoginFile(const QString &email)
{
    const QString address = QString::fromLatin1(email.toUtf8().toBase64());
    const QString machineId = GlobalsInfo::machineId();
    const QString storedKey = globals->generateRandomString(32);
    globals->setPublicKey(storedKey);

    const QString content
        = QStringLiteral("%2%3%1%4%2%4%3").arg(address, storedKey, globals->appKey, machineId);

    // The file signs its owner in: readable by nobody else, and replaced whole or not at all.
    QSaveFile file(globals->authFilePath());
    const bool written = file.open(QIODevice::WriteOnly | QIODevice::Text)
        && file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)
        && file.write(scramble(content).toUtf8()) >= 0 && file.commit();
    if (!written) {
        qDebug() << "Error: could not open Auth file for writing.";
        return;
    }
    emit authSuccess();
}

int UserAuth::pickMultiplier(int length)
{
    if (length <= 1)
        return 1;
    for (const int candidate : multiplierCandidates)
        if (std::gcd(candidate, length) == 1)
            return candidate;
    return length - 1;
}

int UserAuth::modInverse(int a, int n)
{
    // Extended Euclid on (n, a), keeping only the coefficient of a.
    int oldRemainder = n, remainder = a;
    int oldCoefficient = 0, coefficient = 1;
    while (remainder != 0) {
        const int quotient = oldRemainder / remainder;
        oldRemainder = std::exchange(remainder, oldRemainder - quotient * remainder);
        oldCoefficient = std::exchange(coefficient, oldCoefficient - quotient * coefficient);
    }
    if (oldRemainder > 1)
        return -1;
    return oldCoefficient < 0 ? oldCoefficient + n : oldCoefficient;
}

namespace {

QString permute(const QString &text, int multiplier)
{
    const int n = text.size();
    QString result(n, QChar());
    for (int i = 0; i < n; ++i)
        result[(i * multiplier) % n] = text.at(i);
    return result;
}

} // namespace

QString UserAuth::scramble(const QString &text)
{
    if (text.size() <= 1)
        return text;
    return permute(text, pickMultiplier(text.size()));
}

QString UserAuth::unscramble(const QString &text)
{
    if (text.size() <= 1)
        return text;
    return permute(text, modInverse(pickMultiplier(text.size()), text.size()));
}
