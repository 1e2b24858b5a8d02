// The control API's benchmark: ampsim serves N amplifiers in its own process, a session runs N
// devices in one group with real poll threads, and the control API serves it on 127.0.0.1. It
// measures, through the API's own sockets: the time from a group level write (HTTP, then OSC) to
// its event at a WebSocket subscriber and to the settings command at every amplifier; 100
// relative steps sent at 50 a second; and the status interval with 10 subscribed clients against
// none (none, ten, none again, so that a drift of the machine shows).
#include "api/ApiService.h"
#include "api/OscDispatch.h"
#include "bench/support/BenchUtil.h"
#include "bench/support/Fleet.h"
#include "bench/support/MeteredApplication.h"
#include "bench/support/ProcStats.h"
#include "bench/support/SimProcess.h"
#include "device/DeviceUnit.h"
#include "device/LoopbackGuard.h"
#include "model/GroupUnit.h"

#include <QCommandLineParser>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QUdpSocket>
#include <QWebSocket>

#include <atomic>
#include <cstdio>
#include <memory>
#include <mutex>
#include <random>

namespace {
const QString kGroup = QStringLiteral("FLEET");
const QString kName = QStringLiteral("A");
const QByteArray kToken = "bench-control-0123456789";
constexpr int kArrivalMs = 15000;

void Print(const QString& text) {
    std::fputs(qPrintable(text + QLatin1Char('\n')), stdout);
    std::fflush(stdout);
}

double Ms(std::int64_t ns) {
    return double(ns) / 1e6;
}

QString Figures(const std::vector<std::int64_t>& values) {
    return QStringLiteral("p50 %1 ms, p95 %2 ms, max %3 ms (%4 values)")
        .arg(Ms(BenchUtil::Percentile(values, 50)), 0, 'f', 1)
        .arg(Ms(BenchUtil::Percentile(values, 95)), 0, 'f', 1)
        .arg(Ms(BenchUtil::Maximum(values)), 0, 'f', 1)
        .arg(values.size());
}

// A WebSocket subscriber that stamps every change event as it arrives. It runs on a thread of its
// own, as a real client runs in a process of its own: on the user-interface thread it would read
// an event only once that thread had finished the change it is part of, and everything queued
// before it.
class TSubscriber {
public:
    TSubscriber(quint16 port, const QStringList& patterns) {
        FHost.moveToThread(&FThread);
        FThread.start();
        QMetaObject::invokeMethod(
            &FHost, [this, port, patterns] { Open(port, patterns); }, Qt::BlockingQueuedConnection);
    }
    ~TSubscriber() {
        QMetaObject::invokeMethod(
            &FHost, [this] { delete FSocket; }, Qt::BlockingQueuedConnection);
        FThread.quit();
        FThread.wait();
    }
    bool Subscribed() const { return FSubscribed.load(); }
    // When the event announcing volume A = `level` arrived (the latest such), or -1.
    std::int64_t ArrivalOf(double level) const {
        const std::lock_guard<std::mutex> lock(FMutex);
        for (auto it = FLevels.rbegin(); it != FLevels.rend(); ++it)
            if (it->first == level)
                return it->second;
        return -1;
    }
    int Events() const {
        const std::lock_guard<std::mutex> lock(FMutex);
        return int(FLevels.size());
    }

private:
    // On the subscriber's thread.
    void Open(quint16 port, const QStringList& patterns) {
        FSocket = new QWebSocket;
        QObject::connect(
            FSocket, &QWebSocket::textMessageReceived, &FHost, [this, patterns](const QString& text) {
                const std::int64_t now = ProcStats::NowNs();
                const QJsonObject message = QJsonDocument::fromJson(text.toUtf8()).object();
                const QString type = message.value(QLatin1String("type")).toString();
                if (type == QLatin1String("hello")) {
                    FSocket->sendTextMessage(QString::fromUtf8(
                        QJsonDocument(
                            QJsonObject{{QStringLiteral("type"), QStringLiteral("subscribe")},
                                        {QStringLiteral("patterns"), QJsonArray::fromStringList(patterns)},
                                        {QStringLiteral("rate"), 10}})
                            .toJson(QJsonDocument::Compact)));
                } else if (type == QLatin1String("subscribed")) {
                    FSubscribed.store(true);
                } else if (type == QLatin1String("change") &&
                           message.value(QLatin1String("change")) == "group_level" &&
                           message.value(QLatin1String("field")) == "volume_a") {
                    const std::lock_guard<std::mutex> lock(FMutex);
                    FLevels.push_back({message.value(QLatin1String("new")).toDouble(), now});
                }
            });
        QNetworkRequest request(QUrl(QStringLiteral("ws://127.0.0.1:%1/api/v1/events").arg(port)));
        request.setRawHeader("Authorization", "Bearer " + kToken);
        FSocket->open(request);
    }

    QThread FThread;
    QObject FHost;
    QWebSocket* FSocket = nullptr; // lives on FThread
    std::atomic<bool> FSubscribed{false};
    mutable std::mutex FMutex;
    std::vector<std::pair<double, std::int64_t>> FLevels;
};

struct TOptions {
    int Size = 1000;
    int Changes = 50;
    int SteadyS = 20;
    int Block = 110;
    int SimNice = -10;
    QString Ampsim;
};

class TApiBench {
public:
    TApiBench(const TOptions& options, TFleet& fleet, TSimProcess& sim, TApiService& api)
        : FOptions(options), FFleet(fleet), FSim(sim), FApi(api) {
        FOsc.bind(QHostAddress::LocalHost, 0);
        // When the write reached the model: splits the echo into the way in and the way out.
        QObject::connect(fleet.Group(), &TGroup::LevelChanged, fleet.Group(),
                         [this](TGroup*, TLevel level, double, double, const TChangeSource&) {
                             if (level == TLevel::Volume_A)
                                 FChangedNs = ProcStats::NowNs();
                         });
    }

    void Put(const QByteArray& method, const QString& path, const QJsonObject& body) {
        QNetworkRequest request(QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(FApi.Port()).arg(path)));
        request.setRawHeader("Authorization", "Bearer " + kToken);
        request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
        QNetworkReply* reply =
            FNetwork.sendCustomRequest(request, method, QJsonDocument(body).toJson(QJsonDocument::Compact));
        QObject::connect(reply, &QNetworkReply::finished, reply, [this, reply] {
            (reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() == 200 ? FOk : FRefused)++;
            reply->deleteLater();
        });
    }

    void Osc(double level) {
        FOsc.writeDatagram(
            TOscDispatcher::FloatMessage(QStringLiteral("/fadelink/v1/group/%1/volume_a").arg(kGroup), level),
            QHostAddress::LocalHost, FApi.OscPort());
    }

    // `changes` writes of volume A, each waited for at the subscriber and at every amplifier.
    void Changes(bool osc, TSubscriber& subscriber) {
        std::vector<std::int64_t> echoes;
        std::vector<std::int64_t> inward;
        std::vector<std::int64_t> outward;
        std::vector<std::int64_t> arrivals;
        int missing = 0;
        std::mt19937 random{osc ? 2u : 1u};
        for (int i = 0; i < FOptions.Changes; ++i) {
            const double level = (osc ? -50 : -30) + 0.5 * (i % 40);
            FSim.Expect(LevelCode(level));
            const std::int64_t sent = ProcStats::NowNs();
            if (osc)
                Osc(level);
            else
                Put("PUT", QStringLiteral("/api/v1/groups/%1").arg(kGroup),
                    {{QStringLiteral("volume_a"), level}});
            const int size = FOptions.Size;
            BenchUtil::RunUntil([&] { return subscriber.ArrivalOf(level) >= sent && FSim.Arrived() == size; },
                                kArrivalMs);
            const std::int64_t echo = subscriber.ArrivalOf(level);
            if (echo >= sent) {
                echoes.push_back(echo - sent);
                if (FChangedNs >= sent && FChangedNs <= echo) {
                    inward.push_back(FChangedNs - sent);
                    outward.push_back(echo - FChangedNs);
                }
            }
            for (std::int64_t arrival : FSim.Arrivals()) {
                if (arrival < 0)
                    ++missing;
                else
                    arrivals.push_back(arrival - sent);
            }
            BenchUtil::RunFor(200 + int(random() % 400));
        }
        const QString via = osc ? QStringLiteral("OSC ") : QStringLiteral("HTTP");
        Print(QStringLiteral("%1 echo to a subscriber: %2; %3 of %4 echoed")
                  .arg(via, Figures(echoes))
                  .arg(echoes.size())
                  .arg(FOptions.Changes));
        Print(QStringLiteral("%1   of which write sent -> model changed: %2").arg(via, Figures(inward)));
        Print(QStringLiteral("%1   of which model changed -> event received: %2").arg(via, Figures(outward)));
        Print(QStringLiteral("%1 arrival at the amplifiers: %2; %3 missing")
                  .arg(via, Figures(arrivals))
                  .arg(missing));
    }

    // 100 steps of +0.5 dB at 50 a second from -60 dB: every amplifier ends at -10 dB.
    void Steps(TSubscriber& subscriber) {
        FSim.Expect(LevelCode(-60));
        Put("PUT", QStringLiteral("/api/v1/groups/%1").arg(kGroup), {{QStringLiteral("volume_a"), -60}});
        BenchUtil::RunUntil([&] { return FSim.Arrived() == FOptions.Size; }, kArrivalMs);
        BenchUtil::RunFor(500);
        FOk = FRefused = 0;
        const int eventsBefore = subscriber.Events();
        FSim.Expect(LevelCode(-10));
        QTimer pace;
        pace.setTimerType(Qt::PreciseTimer);
        int sent = 0;
        const std::int64_t start = ProcStats::NowNs();
        QObject::connect(&pace, &QTimer::timeout, [&] {
            Put("POST", QStringLiteral("/api/v1/groups/%1/step").arg(kGroup),
                {{QStringLiteral("volume_a"), 0.5}});
            if (++sent == 100)
                pace.stop();
        });
        pace.start(20);
        BenchUtil::RunUntil([&] { return sent == 100 && FOk + FRefused == 100; }, 30000);
        const double seconds = Ms(ProcStats::NowNs() - start) / 1000;
        BenchUtil::RunUntil([&] { return FSim.Arrived() == FOptions.Size; }, kArrivalMs);
        Print(
            QStringLiteral("100 steps of +0.5 dB in %1 s: %2 answered 200, %3 refused; group volume A %4 dB "
                           "(expected -10); %5 step events; -10 dB arrived at %6 of %7 amplifiers")
                .arg(seconds, 0, 'f', 2)
                .arg(FOk)
                .arg(FRefused)
                .arg(FFleet.Group()->Volume_A())
                .arg(subscriber.Events() - eventsBefore)
                .arg(FSim.Arrived())
                .arg(FOptions.Size));
    }

    // The status interval p99 over the steady time, with a volume change every second.
    double StatusP99(const QString& label) {
        FFleet.TakeIntervals();
        FFleet.SetRecording(true);
        for (int s = 0; s < FOptions.SteadyS; ++s) {
            Put("PUT", QStringLiteral("/api/v1/groups/%1").arg(kGroup),
                {{QStringLiteral("volume_a"), -40.0 - s % 2}});
            BenchUtil::RunFor(1000);
        }
        FFleet.SetRecording(false);
        const std::vector<std::int64_t> intervals = FFleet.TakeIntervals();
        const double p99 = Ms(BenchUtil::Percentile(intervals, 99));
        Print(QStringLiteral("status interval, %1: p50 %2 ms, p99 %3 ms (%4 intervals)")
                  .arg(label)
                  .arg(Ms(BenchUtil::Percentile(intervals, 50)), 0, 'f', 1)
                  .arg(p99, 0, 'f', 1)
                  .arg(intervals.size()));
        return p99;
    }

private:
    const TOptions& FOptions;
    TFleet& FFleet;
    TSimProcess& FSim;
    TApiService& FApi;
    QNetworkAccessManager FNetwork;
    QUdpSocket FOsc;
    int FOk = 0;
    int FRefused = 0;
    std::int64_t FChangedNs = 0;
};
} // namespace

int main(int argc, char** argv) {
    SetLoopbackOnly(true);
    ProcStats::RaiseDescriptorLimit();
    TMeteredApplication app(argc, argv);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Control API benchmark against N simulated amplifiers."));
    parser.addHelpOption();
    parser.addOption(
        {QStringLiteral("size"), QStringLiteral("Amplifiers."), QStringLiteral("n"), QStringLiteral("1000")});
    parser.addOption({QStringLiteral("changes"),
                      QStringLiteral("Level changes through HTTP and through OSC each."), QStringLiteral("n"),
                      QStringLiteral("50")});
    parser.addOption({QStringLiteral("steady"), QStringLiteral("Seconds of each status interval phase."),
                      QStringLiteral("s"), QStringLiteral("20")});
    parser.addOption({QStringLiteral("block"), QStringLiteral("First address block: 127.0.B.x."),
                      QStringLiteral("B"), QStringLiteral("110")});
    parser.addOption({QStringLiteral("ampsim"), QStringLiteral("The ampsim program."), QStringLiteral("path"),
                      QStringLiteral(AMPSIM_PROGRAM)});
    parser.process(app);
    TOptions options;
    options.Size = std::max(1, parser.value(QStringLiteral("size")).toInt());
    options.Changes = std::max(1, parser.value(QStringLiteral("changes")).toInt());
    options.SteadyS = std::max(1, parser.value(QStringLiteral("steady")).toInt());
    options.Block = parser.value(QStringLiteral("block")).toInt();
    options.Ampsim = parser.value(QStringLiteral("ampsim"));
    if (options.Block < 100 || options.Block + (options.Size - 1) / 250 > 199) {
        Print(QStringLiteral("the blocks must lie within 127.0.100-199.x"));
        return 2;
    }

    Print(QStringLiteral("machine: %1").arg(BenchUtil::MachineLine()));
    const QStringList addresses = BenchUtil::FleetAddresses(options.Size, options.Block);
    TSimProcess sim(options.Ampsim, addresses, kGroup, kName);
    QString error;
    if (!sim.Start(60000, options.SimNice, error)) {
        Print(error);
        return 1;
    }
    TFleet fleet(addresses, kGroup, kName, -40);
    if (!BenchUtil::RunUntil([&fleet] { return fleet.Settled(); }, 180000)) {
        Print(QStringLiteral("N=%1: the fleet did not settle").arg(options.Size));
        return 1;
    }
    Print(QStringLiteral("N=%1 settled").arg(options.Size));

    QTemporaryDir dir;
    TApiOptions apiOptions;
    apiOptions.Api = true;
    apiOptions.Port = 0;
    apiOptions.Osc = true;
    apiOptions.OscPort = 0;
    apiOptions.TokensFile = dir.filePath(QStringLiteral("tokens"));
    {
        QFile tokens(apiOptions.TokensFile);
        if (!tokens.open(QIODevice::WriteOnly) || tokens.write("bench control " + kToken + "\n") < 0) {
            Print(QStringLiteral("cannot write the tokens file"));
            return 1;
        }
        tokens.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    }
    TApiService api(fleet.Session());
    api.Start(apiOptions);
    Print(api.Description());

    TApiBench bench(options, fleet, sim, api);
    TSubscriber watcher(api.Port(), {QStringLiteral("group/*")});
    BenchUtil::RunUntil([&] { return watcher.Subscribed(); }, 10000);
    bench.Changes(false, watcher);
    bench.Changes(true, watcher);
    bench.Steps(watcher);

    const double none = bench.StatusP99(QStringLiteral("no subscriber"));
    double ten = 0;
    {
        std::vector<std::unique_ptr<TSubscriber>> clients;
        for (int i = 0; i < 10; ++i)
            clients.push_back(std::make_unique<TSubscriber>(
                api.Port(), QStringList{QStringLiteral("group/*"), QStringLiteral("device/*"),
                                        QStringLiteral("global"), QStringLiteral("meters")}));
        BenchUtil::RunUntil(
            [&] {
                return std::all_of(clients.begin(), clients.end(),
                                   [](const auto& c) { return c->Subscribed(); });
            },
            10000);
        ten = bench.StatusP99(QStringLiteral("10 subscribers (group/*, device/*, global, meters at 10/s)"));
    }
    const double noneAgain = bench.StatusP99(QStringLiteral("no subscriber, again"));
    Print(
        QStringLiteral("status interval p99 ratio, 10 subscribers / none: %1 (to the first run), %2 (to the "
                       "mean of both)")
            .arg(ten / none, 0, 'f', 3)
            .arg(2 * ten / (none + noneAgain), 0, 'f', 3));
    Print(QStringLiteral("machine at the end: %1").arg(BenchUtil::MachineLine()));
    api.Stop();
    return 0;
}
