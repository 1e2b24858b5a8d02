#include "api/ApiRequest.h"

#include "api/ApiError.h"
#include "api/ApiModel.h"
#include "api/ApiTokens.h"
#include "model/Errors.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

namespace {
QByteArray Json(const QJsonObject& object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QByteArray Json(const QJsonArray& array) {
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

QJsonObject BodyObject(const QByteArray& body) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError)
        throw EApiError(400, QStringLiteral("the body is not JSON: %1 at offset %2")
                                 .arg(error.errorString())
                                 .arg(error.offset));
    if (!document.isObject())
        throw EApiError(400, QStringLiteral("the body is not a JSON object"));
    return document.object();
}

// Allowed methods of a path; a write needs a control token.
void Require(const TApiCall& call, std::initializer_list<const char*> methods, TApiResponse& response) {
    QByteArray allow;
    for (const char* method : methods) {
        if (call.Method == method) {
            const bool write = call.Method != "GET";
            if (write && (!call.Token || call.Token->Role != TApiRole::Control))
                throw EApiError(403, QStringLiteral("this token may read, not write"));
            return;
        }
        allow += (allow.isEmpty() ? "" : ", ") + QByteArray(method);
    }
    response.Headers.append(qMakePair(QByteArray("Allow"), allow));
    throw EApiError(405, QStringLiteral("%1 takes %2").arg(call.Path, QString::fromLatin1(allow)));
}

QString ClientName(const TApiCall& call) {
    return call.Token ? call.Token->Name : QString();
}

TApiResponse Answer(const TApiModel& model, const TApiCall& call, const QStringList& s,
                    TApiResponse& response) {
    const int n = int(s.size());
    if (n == 1 && s[0] == QLatin1String("project")) {
        Require(call, {"GET"}, response);
        response.Body = Json(model.ProjectJson());
    } else if (n == 1 && s[0] == QLatin1String("devices")) {
        Require(call, {"GET"}, response);
        response.Body = Json(model.DevicesJson());
    } else if (n == 2 && s[0] == QLatin1String("devices")) {
        Require(call, {"GET", "PUT"}, response);
        TDevice& device = model.FindDevice(s[1]);
        if (call.Method == "PUT")
            model.WriteDevice(device, BodyObject(call.Body), ClientName(call));
        response.Body = Json(model.DeviceJson(device));
    } else if (n == 2 && s[0] == QLatin1String("groups")) {
        Require(call, {"GET", "PUT"}, response);
        TGroup& group = model.FindGroup(s[1]);
        if (call.Method == "PUT")
            model.WriteGroup(group, BodyObject(call.Body), ClientName(call));
        response.Body = Json(model.GroupJson(group));
    } else if (n == 3 && s[0] == QLatin1String("groups") && s[2] == QLatin1String("step")) {
        Require(call, {"POST"}, response);
        TGroup& group = model.FindGroup(s[1]);
        model.StepGroup(group, BodyObject(call.Body), ClientName(call));
        response.Body = Json(model.GroupJson(group));
    } else if (n == 1 && s[0] == QLatin1String("global")) {
        Require(call, {"GET", "PUT"}, response);
        if (call.Method == "PUT")
            model.WriteGlobal(BodyObject(call.Body), ClientName(call));
        response.Body = Json(model.GlobalJson());
    } else if (n == 2 && s[0] == QLatin1String("global") && s[1] == QLatin1String("step")) {
        Require(call, {"POST"}, response);
        model.StepGlobal(BodyObject(call.Body), ClientName(call));
        response.Body = Json(model.GlobalJson());
    } else if (n == 1 && s[0] == QLatin1String("alarms")) {
        Require(call, {"GET"}, response);
        response.Body = Json(model.Journal().AlarmsJson());
    } else if (n == 3 && s[0] == QLatin1String("alarms") && s[2] == QLatin1String("acknowledge")) {
        Require(call, {"POST"}, response);
        response.Body = Json(model.Journal().Acknowledge(s[1], ClientName(call)));
    } else if (n == 1 && s[0] == QLatin1String("journal")) {
        Require(call, {"GET"}, response);
        response.Body = Json(model.Journal().EntriesJson(call.Query));
    } else if (n == 1 && s[0] == QLatin1String("events")) {
        throw EApiError(400, QStringLiteral("open %1 as a WebSocket").arg(call.Path));
    } else {
        throw EApiError(404, QStringLiteral("no such path: %1").arg(call.Path));
    }
    return response;
}
} // namespace

bool ApiPathSegments(const QString& encodedPath, QStringList& segments) {
    const QString prefix = QLatin1String(ApiPrefix) + QLatin1Char('/');
    if (!encodedPath.startsWith(prefix))
        return false;
    segments.clear();
    for (const QString& part : encodedPath.mid(prefix.size()).split(QLatin1Char('/')))
        segments.append(QUrl::fromPercentEncoding(part.toUtf8()));
    return true;
}

TApiResponse HandleApiCall(const TApiModel& model, const TApiCall& call) {
    TApiResponse response;
    try {
        QStringList segments;
        if (!ApiPathSegments(call.Path, segments))
            throw EApiError(404, QStringLiteral("no such path: %1").arg(call.Path));
        return Answer(model, call, segments, response);
    } catch (const EApiError& e) {
        response.Status = e.Status;
        response.Body = ErrorBody(e.Status, e.Detail);
    } catch (const EFadelinkError& e) {
        // The model refused what the checks let through: say what it said.
        response.Status = 409;
        response.Body = ErrorBody(409, e.Message);
    }
    return response;
}
