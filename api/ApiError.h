#pragma once

#include <QByteArray>
#include <QString>

#include <stdexcept>

// A request the API refuses: the HTTP status and a detail for the person reading it. The body
// sent is {"error": WORD, "detail": DETAIL} with the word of the status ("bad_request", ...).
class EApiError : public std::runtime_error {
public:
    EApiError(int status, const QString& detail)
        : std::runtime_error(detail.toStdString()), Status(status), Detail(detail) {}
    const int Status;
    const QString Detail;
};

// The word of an error status: 400 "bad_request", 401 "unauthorized", 403 "forbidden",
// 404 "not_found", 405 "method_not_allowed", 409 "conflict", 413 "payload_too_large",
// 429 "too_many_requests", anything else "internal_error".
QString ErrorWord(int status);
// The JSON body of a refusal.
QByteArray ErrorBody(int status, const QString& detail);
