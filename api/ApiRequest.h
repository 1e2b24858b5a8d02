#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

class TApiModel;
struct TApiToken;

// One request of a client whose token the server has accepted.
struct TApiCall {
    QByteArray Method; // "GET", "PUT", "POST", ...
    QString Path;      // the URL's path as sent, percent-encoded
    QString Query;     // the URL's query as sent, percent-encoded, without "?"
    QByteArray Body;
    const TApiToken* Token = nullptr;
};

struct TApiResponse {
    int Status = 200;
    QByteArray Body; // JSON, or a file of the web panel
    QByteArray ContentType = "application/json";
    // Beyond Content-Type, Content-Length and Cache-Control: Allow with a 405, and the like.
    QList<QPair<QByteArray, QByteArray>> Headers;
};

// The prefix of every path of the API.
inline constexpr char ApiPrefix[] = "/api/v1";

// Answers one request under /api/v1 against the model. Never raises: every refusal is a JSON
// error (400 bad request, 403 a monitor token that writes, 404 no such path, group or device,
// 405 a method the path does not take, 409 a conflict, 503 no journal for the alarms and the
// journal). The OpenAPI document and the events
// socket are the server's.
TApiResponse HandleApiCall(const TApiModel& model, const TApiCall& call);

// The segments of a path below /api/v1, decoded; nothing when the path is not below it.
bool ApiPathSegments(const QString& encodedPath, QStringList& segments);
