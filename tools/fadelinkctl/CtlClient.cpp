#include "tools/fadelinkctl/CtlClient.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSslConfiguration>
#include <QTimer>
#include <QWebSocket>

namespace {
constexpr int kRequestTimeoutMs = 15000;

QSslConfiguration Tls(const TCtlSettings& settings) {
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    if (!settings.TrustedCerts.isEmpty())
        tls.addCaCertificates(settings.TrustedCerts);
    return tls;
}

QNetworkRequest Request(const TCtlSettings& settings, const QString& path) {
    QUrl url = settings.Url;
    QString base = url.path(QUrl::FullyEncoded);
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    url.setPath(base + path, QUrl::TolerantMode);
    QNetworkRequest request(url);
    if (!settings.Token.isEmpty())
        request.setRawHeader("Authorization", "Bearer " + settings.Token);
    request.setSslConfiguration(Tls(settings));
    request.setTransferTimeout(kRequestTimeoutMs);
    return request;
}

void Print(QTextStream& out, const QJsonValue& value, bool json) {
    if (json)
        out << (value.isArray() ? QJsonDocument(value.toArray()) : QJsonDocument(value.toObject()))
                   .toJson(QJsonDocument::Indented);
    else
        out << PlainText(value) << '\n';
    out.flush();
}

int Http(const TCtlSettings& settings, const TCtlRequest& request, QTextStream& out, QTextStream& err) {
    QNetworkAccessManager manager;
    QNetworkRequest http = Request(settings, request.Path);
    const QByteArray body =
        request.HasBody ? QJsonDocument(request.Body).toJson(QJsonDocument::Compact) : QByteArray();
    if (request.HasBody)
        http.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    QNetworkReply* reply = manager.sendCustomRequest(http, request.Method, body);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    reply->deleteLater();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QByteArray answer = reply->readAll();
    const QJsonDocument document = QJsonDocument::fromJson(answer);
    if (status == 0) {
        err << "fadelinkctl: " << settings.Url.toString() << ": " << reply->errorString() << '\n';
        return 1;
    }
    if (status >= 400) {
        const QJsonObject error = document.object();
        err << "fadelinkctl: " << status << ' ' << error.value(QLatin1String("error")).toString() << ": "
            << error.value(QLatin1String("detail")).toString() << '\n';
        return 1;
    }
    Print(out, document.isArray() ? QJsonValue(document.array()) : QJsonValue(document.object()),
          settings.Json);
    return 0;
}

int Watch(const TCtlSettings& settings, const TCtlRequest& request, QTextStream& out, QTextStream& err) {
    QUrl url = settings.Url;
    url.setScheme(url.scheme() == QLatin1String("https") ? QStringLiteral("wss") : QStringLiteral("ws"));
    TCtlSettings wsSettings = settings;
    wsSettings.Url = url;
    QWebSocket socket;
    socket.setSslConfiguration(Tls(settings));
    QEventLoop loop;
    int status = 0;
    int left = settings.Count;
    QObject::connect(&socket, &QWebSocket::connected, &socket, [&] {
        QJsonObject subscribe{{QStringLiteral("type"), QStringLiteral("subscribe")},
                              {QStringLiteral("patterns"), QJsonArray::fromStringList(request.Patterns)}};
        if (settings.Rate > 0)
            subscribe.insert(QStringLiteral("rate"), settings.Rate);
        socket.sendTextMessage(QString::fromUtf8(QJsonDocument(subscribe).toJson(QJsonDocument::Compact)));
    });
    QObject::connect(&socket, &QWebSocket::textMessageReceived, &socket, [&](const QString& text) {
        const QJsonObject message = QJsonDocument::fromJson(text.toUtf8()).object();
        const QString type = message.value(QLatin1String("type")).toString();
        if (type == QLatin1String("error")) {
            err << "fadelinkctl: " << message.value(QLatin1String("error")).toString() << ": "
                << message.value(QLatin1String("detail")).toString() << '\n';
            err.flush();
            status = 1;
            loop.quit();
            return;
        }
        if (type == QLatin1String("hello") || type == QLatin1String("subscribed"))
            return;
        if (settings.Json)
            out << text << '\n';
        else
            out << PlainEvent(message) << '\n';
        out.flush();
        if (left > 0 && --left == 0)
            loop.quit();
    });
    QObject::connect(&socket, &QWebSocket::disconnected, &socket, [&] {
        err << "fadelinkctl: " << url.toString() << ": closed";
        if (!socket.closeReason().isEmpty())
            err << ": " << socket.closeReason();
        else if (socket.error() != QAbstractSocket::UnknownSocketError)
            err << ": " << socket.errorString();
        err << '\n';
        err.flush();
        status = 1;
        loop.quit();
    });
    socket.open(Request(wsSettings, request.Path));
    loop.exec();
    socket.disconnect();
    socket.close();
    return status;
}
} // namespace

int RunCtlRequest(const TCtlSettings& settings, const TCtlRequest& request, QTextStream& out,
                  QTextStream& err) {
    return request.Watch ? Watch(settings, request, out, err) : Http(settings, request, out, err);
}
