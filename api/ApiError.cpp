#include "api/ApiError.h"

#include <QJsonDocument>
#include <QJsonObject>

QString ErrorWord(int status) {
    switch (status) {
    case 400:
        return QStringLiteral("bad_request");
    case 401:
        return QStringLiteral("unauthorized");
    case 403:
        return QStringLiteral("forbidden");
    case 404:
        return QStringLiteral("not_found");
    case 405:
        return QStringLiteral("method_not_allowed");
    case 409:
        return QStringLiteral("conflict");
    case 413:
        return QStringLiteral("payload_too_large");
    case 429:
        return QStringLiteral("too_many_requests");
    case 503:
        return QStringLiteral("unavailable");
    default:
        return QStringLiteral("internal_error");
    }
}

QByteArray ErrorBody(int status, const QString& detail) {
    const QJsonObject body{{QStringLiteral("error"), ErrorWord(status)}, {QStringLiteral("detail"), detail}};
    return QJsonDocument(body).toJson(QJsonDocument::Compact);
}
