#pragma once

// A running control API over a project of simulated amplifiers, and clients for it: HTTP through
// QNetworkAccessManager, WebSocket, OSC over UDP. Everything listens and sends on 127.0.0.1.

#include "api/ApiServer.h"
#include "api/ApiService.h"
#include "api/EventHub.h"
#include "api/OscDispatch.h"
#include "device/DeviceUnit.h"
#include "device/ThreadCommUnit.h"
#include "journal/Journal.h"
#include "model/GroupUnit.h"
#include "model/GroupsUnit.h"
#include "model/Session.h"
#include "support/JournalFixture.h"
#include "tools/ampsim/AmpRack.h"

#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkDatagram>
#include <QNetworkReply>
#include <QTemporaryDir>
#include <QTimer>
#include <QUdpSocket>
#include <QWebSocket>
#include <QtTest>

#include <lo/lo.h>

#include <memory>

struct TApiReply {
    int Status = 0;
    QByteArray Body;
    QJsonObject Json;
    QByteArray Header(const QByteArray& name) const { return Headers.value(name.toLower()); }
    QHash<QByteArray, QByteArray> Headers;
};

class TApiFixture {
public:
    static constexpr char Control[] = "control-secret-0123456789";
    static constexpr char Monitor[] = "monitor-secret-0123456789";

    // Group MAIN with a device at each of `addresses` (polled, each with a simulated amplifier,
    // when `amplifiers`), and group SIDE without devices. `change` adjusts the options first.
    explicit TApiFixture(const QStringList& addresses = {}, bool amplifiers = false,
                         const std::function<void(TApiOptions&)>& change = {}) {
        TSocketThread::SetPollThreadsEnabled(amplifiers);
        for (const QString& address : addresses)
            if (amplifiers)
                Rack.Add(TAmpConfig::At(address));
        if (amplifiers && !Rack.Start())
            qFatal("simulated amplifiers: %s", qPrintable(Rack.ErrorString()));
        Registry = Session.Registry();
        Main = Registry->FindOrAddGroup(QStringLiteral("Main PA"), QStringLiteral("MAIN"));
        Registry->FindOrAddGroup(QStringLiteral("Side fills"), QStringLiteral("SIDE"));
        for (const QString& address : addresses)
            new TDevice(Main, address, QStringLiteral("Amp ") + address, QStringLiteral("AMP"));
        if (amplifiers)
            Session.Start();

        Options.Api = true;
        Options.Port = 0;
        Options.Osc = true;
        Options.TokensFile = Dir.filePath(QStringLiteral("tokens"));
        WriteFile(Options.TokensFile,
                  QByteArray("desk control ") + Control + "\nwall monitor " + Monitor + "\n",
                  QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        if (change)
            change(Options);
        Service.Start(Options);
    }
    ~TApiFixture() {
        Service.SetJournal(nullptr);
        Service.Stop();
        Session.Shutdown();
        TSocketThread::SetPollThreadsEnabled(true);
    }

    // A journal on a temporary file, on the test's clock, served by the API.
    TJournal& UseJournal() {
        Journal = std::make_unique<TJournal>(JournalFiles.Options());
        Service.SetJournal(Journal.get());
        return *Journal;
    }

    static void WriteFile(const QString& name, const QByteArray& text, QFileDevice::Permissions permissions) {
        QFile file(name);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text);
        file.close();
        QVERIFY(file.setPermissions(permissions));
    }

    QUrl Url(const QString& path, const QString& scheme = QStringLiteral("http")) const {
        return QUrl(QStringLiteral("%1://127.0.0.1:%2%3").arg(scheme).arg(Service.Port()).arg(path));
    }

    TApiReply Call(const QByteArray& method, const QString& path, const QByteArray& body = QByteArray(),
                   const QByteArray& token = Control) {
        QNetworkRequest request(Url(path, Options.Tls() ? QStringLiteral("https") : QStringLiteral("http")));
        if (!token.isEmpty())
            request.setRawHeader("Authorization", "Bearer " + token);
        if (Options.Tls())
            request.setSslConfiguration(TrustingTls());
        QNetworkReply* reply = Network.sendCustomRequest(request, method, body);
        QEventLoop loop;
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        QTimer::singleShot(20000, &loop, &QEventLoop::quit);
        loop.exec();
        TApiReply result;
        result.Status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        result.Body = reply->readAll();
        result.Json = QJsonDocument::fromJson(result.Body).object();
        for (const auto& header : reply->rawHeaderPairs())
            result.Headers.insert(header.first.toLower(), header.second);
        delete reply;
        return result;
    }

    // Trusts the test certificate.
    static QSslConfiguration TrustingTls() {
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.addCaCertificates(QStringLiteral(FADELINK_SOURCE_DIR "/tests/data/api/cert.pem"));
        return tls;
    }

    QTemporaryDir Dir;
    TAmpRack Rack;
    TSession Session;
    TGroups* Registry = nullptr;
    TGroup* Main = nullptr;
    TApiOptions Options;
    TJournalFixture JournalFiles;
    std::unique_ptr<TJournal> Journal;
    TApiService Service{Session};
    QNetworkAccessManager Network;
};

// A WebSocket client of /api/v1/events that keeps every message it receives.
struct TEventClient {
    explicit TEventClient(const QUrl& url, const QByteArray& token = TApiFixture::Control) {
        QObject::connect(&Socket, &QWebSocket::textMessageReceived, [this](const QString& text) {
            Messages.append(QJsonDocument::fromJson(text.toUtf8()).object());
        });
        QNetworkRequest request(url);
        if (!token.isEmpty())
            request.setRawHeader("Authorization", "Bearer " + token);
        Socket.setSslConfiguration(TApiFixture::TrustingTls());
        Socket.open(request);
    }
    // The first message of `type` from `from` on, waiting up to `ms` for it.
    QJsonObject Await(const QString& type, int ms = 10000, int from = 0) {
        QJsonObject found;
        const auto look = [&] {
            for (int i = from; i < Messages.size(); ++i)
                if (Messages[i].value(QLatin1String("type")).toString() == type) {
                    found = Messages[i];
                    return true;
                }
            return false;
        };
        QElapsedTimer timer;
        timer.start();
        while (!look() && timer.elapsed() < ms && Socket.state() != QAbstractSocket::UnconnectedState)
            QTest::qWait(10);
        look();
        return found;
    }
    void Send(const QJsonObject& message) {
        Socket.sendTextMessage(QString::fromUtf8(QJsonDocument(message).toJson(QJsonDocument::Compact)));
    }
    // Signs in (by the upgrade's header) and subscribes; false when either is not answered.
    bool Subscribe(const QStringList& patterns) {
        if (Await(QStringLiteral("hello")).isEmpty())
            return false;
        const int from = int(Messages.size());
        Send({{QStringLiteral("type"), QStringLiteral("subscribe")},
              {QStringLiteral("patterns"), QJsonArray::fromStringList(patterns)}});
        return !Await(QStringLiteral("subscribed"), 10000, from).isEmpty();
    }
    // The messages of `type` received so far.
    QList<QJsonObject> OfType(const QString& type) const {
        QList<QJsonObject> found;
        for (const QJsonObject& message : Messages)
            if (message.value(QLatin1String("type")).toString() == type)
                found.append(message);
        return found;
    }
    QWebSocket Socket;
    QList<QJsonObject> Messages;
};

// An OSC sender on 127.0.0.1 (or `from`) that collects the answers: address and first argument.
struct TOscClient {
    explicit TOscClient(quint16 serverPort, const QHostAddress& from = QHostAddress::LocalHost)
        : Port(serverPort) {
        Socket.bind(from, 0);
        QObject::connect(&Socket, &QUdpSocket::readyRead, [this] {
            while (Socket.hasPendingDatagrams()) {
                QByteArray data = Socket.receiveDatagram().data();
                int result = 0;
                lo_message message = lo_message_deserialise(data.data(), size_t(data.size()), &result);
                const char* path = lo_get_path(data.data(), data.size()); // points into data
                if (!message || !path)
                    continue;
                const QString types = QString::fromLatin1(lo_message_get_types(message));
                lo_arg** argv = lo_message_get_argv(message);
                QVariant first;
                if (types.startsWith('f') || types.startsWith('i'))
                    first = double(lo_hires_val(lo_type(types[0].toLatin1()), argv[0]));
                else if (types.startsWith('s'))
                    first = QString::fromUtf8(reinterpret_cast<const char*>(argv[0]));
                Replies.append({QString::fromUtf8(path), first});
                lo_message_free(message);
            }
        });
    }
    void Send(const QByteArray& datagram) { Socket.writeDatagram(datagram, QHostAddress::LocalHost, Port); }
    // Subscribes to feedback; false when the server did not take it up (a query after it goes
    // unanswered).
    bool Subscribe(const QStringList& patterns) {
        for (const QString& pattern : patterns)
            Send(TOscDispatcher::StringMessage(QStringLiteral("/fadelink/v1/subscribe"), pattern));
        Send(TOscDispatcher::IntMessage(QStringLiteral("/fadelink/v1/global/mute/get"), 0));
        const bool answered = QTest::qWaitFor([this] { return !Replies.isEmpty(); }, 10000);
        Replies.clear();
        return answered;
    }
    quint16 Port;
    QUdpSocket Socket;
    QList<QPair<QString, QVariant>> Replies;
};
