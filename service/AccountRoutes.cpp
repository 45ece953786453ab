#include "AccountRoutes.h"

#include "Clock.h"
#include "Credentials.h"
#include "Database.h"
#include "FormFields.h"
#include "Outbox.h"
#include "SongProcessor.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

#include <algorithm>
#include <cctype>

namespace {

const char *const success = "success";
const char *const notRegistered = "This email not registered yet!";
const char *const invalidEmail = "Invalid email format";

constexpr std::int64_t codeLifetime = 30LL * 60 * 1000;
constexpr std::int64_t hour = 60LL * 60 * 1000;
// Wrong guesses allowed per mailed code before a new one must be asked for.
constexpr int codeGuesses = 5;
// Wrong guesses per account per hour, whatever code they aim at: a six-digit code then takes about
// ten years to guess.
constexpr int wrongCodesPerHour = 5;
// Recovery requests per hour from one address and for one account. The cap on mails in all only bounds
// the outbox (a megabyte an hour): throwaway accounts from a few addresses cannot use it up.
constexpr int recoversPerPeer = 10;
constexpr int recoversPerAccount = 3;
constexpr int mailsPerHour = 10000;
// Wrong passwords per hour from one address, and for one account from addresses that never signed in
// to it: its owner, signed in before, is never locked out.
constexpr int failedLoginsPerPeerHour = 20;
constexpr int failedLoginsPerAccountHour = 10;
constexpr int resetsPerPeerHour = 10;
// How long a checked code lets its checker set a new password.
constexpr std::int64_t resetWindow = 10LL * 60 * 1000;
const char *const tooManyRecovers = "Too many recovery requests. Please try again later";
const char *const tooManyLogins = "Too many sign-in attempts. Please try again later";
const char *const confirmFirst = "Please confirm the recovery code first";
const char *const codeExpired = "The recovery code has expired. Please ask for a new one";
constexpr size_t maxNameLength = 100;

QString qText(const std::string &text)
{
    return QString::fromStdString(text);
}

std::string json(const QJsonDocument &document)
{
    return document.toJson(QJsonDocument::Compact).toStdString();
}

// Problems with a name or password as the account endpoints take them; empty when fine.
std::string nameProblem(const std::string &name)
{
    if (name.find_first_not_of(" \t") == std::string::npos)
        return "Field Name cannot be empty";
    if (name.size() > maxNameLength)
        return "Name is too long";
    return {};
}

// The reply to storing an account's address.
std::string storeReply(Database::Outcome outcome, const char *failure)
{
    switch (outcome) {
    case Database::Outcome::Ok:
        return success;
    case Database::Outcome::Duplicate:
        return "This email is already registered";
    case Database::Outcome::Failed:
        break;
    }
    return failure;
}

// The program never sends a password as typed, only the lower-case hex MD5 of it in its template.
std::string passwordProblem(const std::string &password)
{
    const bool digest
        = password.size() == 32 && password.find_first_not_of("0123456789abcdef") == std::string::npos;
    return digest ? std::string() : "Invalid password format";
}

} // namespace

AccountRoutes::AccountRoutes(Database &database, Outbox &outbox)
    : database(database)
    , outbox(outbox)
    , recoverPerPeer(recoversPerPeer, hour)
    , recoverPerAccount(recoversPerAccount, hour)
    , mailsInAll(mailsPerHour, hour)
    , wrongCodes(wrongCodesPerHour, hour)
    , failedLoginsPerPeer(failedLoginsPerPeerHour, hour)
    , failedLoginsPerAccount(failedLoginsPerAccountHour, hour)
    , resetsPerPeer(resetsPerPeerHour, hour)
{ }

std::vector<std::pair<std::string, AccountRoutes::Handler>> AccountRoutes::routes()
{
    const auto bind = [this](std::string (AccountRoutes::*method)(const FormFields &, const std::string &)) {
        return [this, method](const FormFields &fields, const std::string &peer) {
            return (this->*method)(fields, peer);
        };
    };
    return {
        { "/zelk-server/auth/registration.php", bind(&AccountRoutes::registration) },
        { "/zelk-server/auth/login.php", bind(&AccountRoutes::login) },
        { "/zelk-server/auth/getInfo.php", bind(&AccountRoutes::getInfo) },
        { "/zelk-server/auth/recover.php", bind(&AccountRoutes::recover) },
        { "/zelk-server/auth/checkCode.php", bind(&AccountRoutes::checkCode) },
        { "/zelk-server/auth/resetpassword.php", bind(&AccountRoutes::resetPassword) },
        { "/zelk-server/auth/updatePassword.php", bind(&AccountRoutes::updatePassword) },
        { "/zelk-server/auth/updateInfo.php", bind(&AccountRoutes::updateInfo) },
        { "/zelk-server/auth/archive.php", bind(&AccountRoutes::archive) },
    };
}

bool AccountRoutes::isValidEmail(const std::string &email)
{
    // name@host.tld: the name of letters, digits and "._%+-", the host of letters, digits and ".-", the
    // top-level domain of two letters or more.
    const auto only = [](const std::string &text, const char *allowed) {
        return !text.empty() && text.find_first_not_of(allowed) == std::string::npos;
    };
    const char *const alphanumeric = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    const size_t at = email.find('@');
    const size_t dot = email.rfind('.');
    if (email.size() > 254 || at == std::string::npos || dot == std::string::npos || dot < at + 2)
        return false;
    const std::string tld = email.substr(dot + 1);
    return only(email.substr(0, at), (std::string(alphanumeric) + "._%+-").c_str())
        && only(email.substr(at + 1, dot - at - 1), (std::string(alphanumeric) + ".-").c_str())
        && tld.size() >= 2 && only(tld, std::string(alphanumeric).substr(0, 52).c_str());
}

std::string AccountRoutes::registration(const FormFields &fields, const std::string &peer)
{
    if (const std::string problem = fields.problem({ "email", "name", "password" }); !problem.empty())
        return problem;
    const std::string email = fields.value("email");
    if (!isValidEmail(email))
        return invalidEmail;
    if (const std::string problem = nameProblem(fields.value("name")); !problem.empty())
        return problem;
    if (const std::string problem = passwordProblem(fields.value("password")); !problem.empty())
        return problem;

    Database::User user;
    user.name = fields.value("name");
    user.email = email;
    // The account's bearer credential in every song request: random, never derived from the address.
    user.hash = Credentials::randomHex(16);
    if (!Credentials::hashPassword(fields.value("password"), user.password))
        return "Registration failed, please try again later";
    const Database::Outcome outcome = database.insertUser(user);
    if (outcome == Database::Outcome::Ok)
        database.addPeer(user.id, peer);
    return storeReply(outcome, "Registration failed, please try again later");
}

std::string AccountRoutes::login(const FormFields &fields, const std::string &peer)
{
    if (const std::string problem = fields.problem({ "email", "password" }); !problem.empty())
        return problem;
    if (const std::string problem = passwordProblem(fields.value("password")); !problem.empty())
        return problem;
    const std::int64_t now = Clock::now();
    const std::optional<Database::User> user = database.userByEmail(fields.value("email"));
    // Counted by the address as typed, known or not, so that the limit tells nothing either.
    std::string account = fields.value("email");
    std::transform(
        account.begin(), account.end(), account.begin(), [](unsigned char c) { return std::tolower(c); });
    const bool stranger = !user || !database.knownPeer(user->id, peer);
    if (failedLoginsPerPeer.exhausted(peer, now)
        || (stranger && failedLoginsPerAccount.exhausted(account, now)))
        return tooManyLogins;
    // An unknown address costs a hash too: the time tells nothing.
    if (!user)
        Credentials::verifyNobody(fields.value("password"));
    if (!user || !Credentials::verifyPassword(user->password, fields.value("password"))) {
        failedLoginsPerPeer.take(peer, now);
        if (stranger)
            failedLoginsPerAccount.take(account, now);
        return "Incorrect email or password";
    }
    database.addPeer(user->id, peer);
    return success;
}

std::string AccountRoutes::getInfo(const FormFields &fields, const std::string &peer)
{
    if (const std::string problem = fields.problem({ "email" }); !problem.empty())
        return problem;
    // An unknown address gets what a stranger to a known one gets.
    const std::optional<Database::User> user = database.userByEmail(fields.value("email"));
    if (!user || !database.knownPeer(user->id, peer))
        return strangerPeer;
    QJsonObject info;
    info.insert(QStringLiteral("user_id"), user->id);
    info.insert(QStringLiteral("name"), qText(user->name));
    info.insert(QStringLiteral("email"), qText(user->email));
    info.insert(QStringLiteral("hash"), qText(user->hash));
    return json(QJsonDocument(info));
}

std::string AccountRoutes::recover(const FormFields &fields, const std::string &peer)
{
    if (const std::string problem = fields.problem({ "email" }); !problem.empty())
        return problem;
    if (!isValidEmail(fields.value("email")))
        return invalidEmail;
    const std::int64_t now = Clock::now();
    // Unknown addresses count too, so that the limit also slows down looking for accounts.
    if (!recoverPerPeer.take(peer, now))
        return tooManyRecovers;
    const std::optional<Database::User> user = database.userByEmail(fields.value("email"));
    if (!user)
        return notRegistered;
    if (!recoverPerAccount.take(std::to_string(user->id), now) || !mailsInAll.take(std::string(), now))
        return tooManyRecovers;
    Database::Recovery recovery;
    recovery.code = Credentials::randomCode();
    recovery.expires = Clock::now() + codeLifetime;
    if (!database.setRecovery(user->id, recovery) || !outbox.sendRecoveryCode(user->email, recovery.code))
        return "Could not send the recovery code, please try again later";
    return success;
}

bool AccountRoutes::checkedBy(std::int32_t userId, const std::string &peer, std::int64_t now)
{
    std::lock_guard<std::mutex> lock(checksMutex);
    for (auto it = checks.begin(); it != checks.end();)
        it = now - it->second.time > resetWindow ? checks.erase(it) : std::next(it);
    const auto found = checks.find(userId);
    return found != checks.end() && found->second.peer == peer;
}

std::string AccountRoutes::checkCode(const FormFields &fields, const std::string &peer)
{
    if (const std::string problem = fields.problem({ "code", "email" }); !problem.empty())
        return problem;
    // An unknown address gets what an account without a code gets.
    const std::optional<Database::User> user = database.userByEmail(fields.value("email"));
    if (!user)
        return codeExpired;
    // Counted per account across codes: asking for a new code does not bring new guesses.
    const std::string account = std::to_string(user->id);
    if (wrongCodes.exhausted(account, Clock::now()))
        return "Too many wrong codes. Please try again in an hour";
    std::optional<Database::Recovery> recovery = database.recovery(user->id);
    if (!recovery || recovery->expires < Clock::now())
        return codeExpired;
    if (recovery->failures >= codeGuesses)
        return "Too many wrong codes. Please ask for a new one";
    if (recovery->code != fields.value("code")) {
        wrongCodes.take(account, Clock::now());
        ++recovery->failures;
        database.setRecovery(user->id, *recovery);
        return "Invalid code";
    }
    // The reset that follows has as long again.
    recovery->verified = true;
    recovery->expires = Clock::now() + codeLifetime;
    database.setRecovery(user->id, *recovery);
    // Only this address may use it, and only for a while.
    std::lock_guard<std::mutex> lock(checksMutex);
    checks[user->id] = Check { peer, Clock::now() };
    return success;
}

std::string AccountRoutes::resetPassword(const FormFields &fields, const std::string &peer)
{
    if (const std::string problem = fields.problem({ "password", "email" }); !problem.empty())
        return problem;
    if (const std::string problem = passwordProblem(fields.value("password")); !problem.empty())
        return problem;
    const std::int64_t now = Clock::now();
    if (!resetsPerPeer.take(peer, now))
        return "Too many password resets. Please try again later";
    const std::optional<Database::User> user = database.userByEmail(fields.value("email"));
    if (!user)
        return confirmFirst;
    // Only a code checked a moment ago, from this address, lets the password be replaced without the
    // current one.
    const std::optional<Database::Recovery> recovery = database.recovery(user->id);
    if (!recovery || !recovery->verified || recovery->expires < now || !checkedBy(user->id, peer, now))
        return confirmFirst;
    std::string encoded;
    if (!Credentials::hashPassword(fields.value("password"), encoded)
        || !database.setPassword(user->id, encoded))
        return "Could not change the password, please try again later";
    database.removeRecovery(user->id);
    {
        std::lock_guard<std::mutex> lock(checksMutex);
        checks.erase(user->id);
    }
    database.addPeer(user->id, peer);
    return success;
}

std::string AccountRoutes::updatePassword(const FormFields &fields, const std::string &peer)
{
    if (const std::string problem = fields.problem({ "password", "current_password", "id" });
        !problem.empty())
        return problem;
    for (const char *name : { "password", "current_password" }) {
        if (const std::string problem = passwordProblem(fields.value(name)); !problem.empty())
            return problem;
    }
    std::int32_t id = 0;
    if (!FormFields::readId(fields.value("id"), id))
        return "Invalid user id";
    // An unknown id gets what a stranger to a known one gets.
    const std::optional<Database::User> user = database.userById(id);
    if (!user || !database.knownPeer(user->id, peer))
        return strangerPeer;
    if (!Credentials::verifyPassword(user->password, fields.value("current_password")))
        return "Incorrect current password";
    std::string encoded;
    if (!Credentials::hashPassword(fields.value("password"), encoded)
        || !database.setPassword(user->id, encoded))
        return "Could not change the password, please try again later";
    return success;
}

std::string AccountRoutes::updateInfo(const FormFields &fields, const std::string &peer)
{
    if (const std::string problem = fields.problem({ "email", "name", "id" }); !problem.empty())
        return problem;
    if (!isValidEmail(fields.value("email")))
        return invalidEmail;
    if (const std::string problem = nameProblem(fields.value("name")); !problem.empty())
        return problem;
    std::int32_t id = 0;
    if (!FormFields::readId(fields.value("id"), id))
        return "Invalid user id";
    if (!database.knownPeer(id, peer))
        return strangerPeer;
    return storeReply(database.setInfo(id, fields.value("name"), fields.value("email")), "Unknown user");
}

std::string AccountRoutes::archive(const FormFields &fields, const std::string &)
{
    if (const std::string problem = fields.problem({ "hash" }); !problem.empty())
        return problem;
    const std::optional<Database::User> user = database.userByHash(fields.value("hash"));
    if (!user)
        return "Unknown user";
    QJsonArray songs;
    for (const Database::Song &song :
        database.doneSongsSince(user->id, Clock::now() - SongProcessor::keepMilliseconds)) {
        QJsonObject entry;
        entry.insert(QStringLiteral("ai_id"), song.id);
        entry.insert(QStringLiteral("name"), qText(song.name));
        entry.insert(QStringLiteral("instrument"), qText(song.instrument));
        entry.insert(QStringLiteral("extension"), qText(song.extension));
        entry.insert(QStringLiteral("local_file_path"), qText(song.originalPath));
        entry.insert(
            QStringLiteral("deleted"), qText(Clock::date(song.created + SongProcessor::keepMilliseconds)));
        songs.append(entry);
    }
    return json(QJsonDocument(songs));
}
