#pragma once

#include <QByteArray>
#include <QList>
#include <QNetworkRequest>
#include <QPair>
#include <QString>
#include <QUrl>

// The one builder of application/x-www-form-urlencoded bodies for the service. Every request carries
// the signing pair "publicKey" (a new random key per call) and "accessToken" (that key's token), both
// from GlobalsInfo::generateWebAccessData. ZelkServer puts the pair before its own fields; the account
// requests put it after theirs.
//
// Encoding of keys and values: UTF-8, percent-encoded except letters, digits, "-", ".", "_", "~" and
// "+"; so a space is "%20" (never "+"), "+" goes out unchanged, and "&", "=", "#" are encoded.
//
// An account request, for example:
//     const QByteArray body = SignedForm::build({ { "email", email }, { "password", hashed } },
//                                               SignedForm::SigningPair::Last);
//     manager->post(SignedForm::request(globals->serviceEndpoint("/zelk-server/auth/login.php")), body);
class SignedForm
{
public:
    // Fields in the order they go on the wire.
    using Fields = QList<QPair<QString, QString>>;

    enum class SigningPair {
        First, // "publicKey", "accessToken", then the fields (ZelkServer)
        Last, // the fields, then "publicKey", "accessToken" (account requests)
    };

    // The signed body: a fresh signing pair on every call, placed as asked.
    static QByteArray build(const Fields &fields, SigningPair place);

    // key=value items joined by "&", in order, without a signing pair.
    static QByteArray encode(const Fields &fields);

    // A POST request for url with the form content type and no other header.
    static QNetworkRequest request(const QUrl &url);
};
