#pragma once

#include "RateLimit.h"

#include <functional>
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

    Database &database;
    Outbox &outbox;
    RateLimit recoverPerPeer;
    RateLimit recoverPerAccount;
    RateLimit mailsInAll;
    RateLimit wrongCodes;
};
