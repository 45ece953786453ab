#pragma once

#include "RateLimit.h"

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

class Database;
class FormFields;
class Outbox;

// The account endpoints under "/zelk-server/auth/": each answers the plain reply text for its fields.
class AccountRoutes
{
public:
    // peer: the address the request came from.
    using Handler = std::function<std::string(const FormFields &fields, const std::string &peer)>;

    AccountRoutes(Database &database, Outbox &outbox);

    // Endpoint path and handler, for every account endpoint.
    std::vector<std::pair<std::string, Handler>> routes();

    static bool isValidEmail(const std::string &email);
    // The protocol names an account by its address or id alone: only an address that signed in to it
    // may read or change it, and only one that signed in to some account may upload more than a form.
    static constexpr const char *strangerPeer = "Please sign in again from this computer";

private:
    std::string registration(const FormFields &fields, const std::string &peer);
    std::string login(const FormFields &fields, const std::string &peer);
    std::string getInfo(const FormFields &fields, const std::string &peer);
    std::string recover(const FormFields &fields, const std::string &peer);
    std::string checkCode(const FormFields &fields, const std::string &peer);
    std::string resetPassword(const FormFields &fields, const std::string &peer);
    std::string updatePassword(const FormFields &fields, const std::string &peer);
    std::string updateInfo(const FormFields &fields, const std::string &peer);
    std::string archive(const FormFields &fields, const std::string &peer);

    // Whether peer passed checkCode for the account a moment ago.
    bool checkedBy(std::int32_t userId, const std::string &peer, std::int64_t now);

    Database &database;
    Outbox &outbox;
    RateLimit recoverPerPeer;
    RateLimit recoverPerAccount;
    RateLimit mailsInAll;
    RateLimit wrongCodes;
    RateLimit failedLoginsPerPeer;
    RateLimit failedLoginsPerAccount;
    RateLimit resetsPerPeer;

    struct Check
    {
        std::string peer;
        std::int64_t time = 0;
    };
    std::mutex checksMutex;
    std::map<std::int32_t, Check> checks;
};
