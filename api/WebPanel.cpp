#include "api/WebPanel.h"

#include "api/ApiError.h"

#include <QFile>
#include <QUrl>

namespace WebPanel {

QByteArray ContentType(const QString& fileName) {
    static const std::pair<const char*, const char*> kinds[] = {
        {".html", "text/html; charset=utf-8"}, {".js", "text/javascript; charset=utf-8"},
        {".css", "text/css; charset=utf-8"},   {".svg", "image/svg+xml"},
        {".json", "application/json"},         {".webmanifest", "application/manifest+json"},
    };
    for (const auto& [ending, type] : kinds)
        if (fileName.endsWith(QLatin1String(ending)))
            return type;
    return "application/octet-stream";
}

std::optional<TApiResponse> Respond(const QByteArray& method, const QString& encodedPath) {
    const QString prefix = QLatin1String(ApiPrefix);
    if (encodedPath == prefix || encodedPath.startsWith(prefix + QLatin1Char('/')))
        return std::nullopt;
    TApiResponse response;
    if (method != "GET") {
        response.Status = 405;
        response.Body = ErrorBody(405, QStringLiteral("the panel's files are read with GET"));
        response.Headers.append(qMakePair(QByteArray("Allow"), QByteArray("GET")));
        return response;
    }
    // Only plain names straight below the panel's folder: no dots in front, no sub-folders, so a
    // path can never reach another resource of the program.
    QString name = QUrl::fromPercentEncoding(encodedPath.toUtf8());
    if (name == QLatin1String("/"))
        name = QStringLiteral("/index.html");
    const bool plain = name.size() > 1 && name.indexOf(QLatin1Char('/'), 1) < 0 &&
                       name.at(1) != QLatin1Char('.') && !name.contains(QLatin1Char('\\'));
    QFile file(QStringLiteral(":/web") + name);
    if (!plain || !file.open(QIODevice::ReadOnly)) {
        response.Status = 404;
        response.Body = ErrorBody(404, QStringLiteral("no such path: %1").arg(encodedPath));
        return response;
    }
    response.Body = file.readAll();
    response.ContentType = ContentType(name);
    response.Headers.append(
        qMakePair(QByteArray("Content-Security-Policy"), QByteArray(ContentSecurityPolicy)));
    response.Headers.append(qMakePair(QByteArray("X-Content-Type-Options"), QByteArray("nosniff")));
    response.Headers.append(qMakePair(QByteArray("Referrer-Policy"), QByteArray("no-referrer")));
    response.Headers.append(qMakePair(QByteArray("X-Frame-Options"), QByteArray("DENY")));
    return response;
}

} // namespace WebPanel
