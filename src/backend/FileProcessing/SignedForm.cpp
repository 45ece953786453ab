#include "SignedForm.h"

#include "GlobalsInfo/GlobalsInfo.h"

#include <QUrlQuery>

namespace {

// Letters, digits and "-._~" stay as they are anyway; "+" is kept so the service reads it as written.
QByteArray encodeComponent(const QString &text)
{
    return QUrl::toPercentEncoding(text, QByteArrayLiteral("+"));
}

} // namespace

QByteArray SignedForm::build(const Fields &fields, SigningPair place)
{
    using Item = QPair<QString, QString>;
    const QList<Item> signing
        = GlobalsInfo::getInstance()->generateWebAccessData().queryItems(QUrl::FullyDecoded);

    Fields all;
    all.reserve(fields.size() + signing.size());
    if (place == SigningPair::First)
        all << signing << fields;
    else
        all << fields << signing;
    return encode(all);
}

QByteArray SignedForm::encode(const Fields &fields)
{
    QByteArray body;
    for (const auto &[key, value] : fields) {
        if (!body.isEmpty())
            body += '&';
        body += encodeComponent(key);
        body += '=';
        body += encodeComponent(value);
    }
    return body;
}

QNetworkRequest SignedForm::request(const QUrl &url)
{
    QNetworkRequest request(url);
    request.setHeader(
        QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/x-www-form-urlencoded"));
    return request;
}
