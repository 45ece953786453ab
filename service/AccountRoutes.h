#pragma once

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
    using Handler = std::function<std::string(const FormFields &fields)>;

    AccountRoutes(Database &database, Outbox &outbox);

    // Endpoint path and handler, for every account endpoint.
    std::vector<std::pair<std::string, Handler>> routes();

    static bool isValidEmail(const std::string &email);

private:
    std::string registration(const FormFields &fields);
    std::string login(const FormFields &fields);
    std::string getInfo(const FormFields &fields);
    std::string recover(const FormFields &fields);
    std::string checkCode(const FormFields &fields);
    std::string resetPassword(const FormFields &fields);
    std::string updatePassword(const FormFields &fields);
    std::string updateInfo(const FormFields &fields);
    std::string archive(const FormFields &fields);

    Database &database;
    Outbox &outbox;
};
