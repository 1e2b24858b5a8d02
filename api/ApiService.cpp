#include "api/ApiService.h"

#include "api/ApiServer.h"
#include "api/ChangeEvent.h"
#include "api/EventHub.h"
#include "api/OscServer.h"
#include "device/WorkQueue.h"
#include "journal/Journal.h"
#include "journal/JournalQueryThread.h"
#include "model/Errors.h"
#include "model/Session.h"

#include <QFile>
#include <QPointer>
#include <QSslCertificate>
#include <QSslKey>
#include <QSslSocket>

#include <utility>

namespace {
QSslConfiguration TlsConfiguration(const TApiOptions& options) {
    if (!QSslSocket::supportsSsl())
        throw EFadelinkError(
            QStringLiteral("TLS is not available: %1").arg(QSslSocket::sslLibraryVersionString()));
    QFile certFile(options.CertFile);
    QFile keyFile(options.KeyFile);
    if (!certFile.open(QIODevice::ReadOnly))
        throw EFadelinkError(QStringLiteral("Cannot read the certificate %1: %2")
                                 .arg(options.CertFile, certFile.errorString()));
    if (!keyFile.open(QIODevice::ReadOnly))
        throw EFadelinkError(
            QStringLiteral("Cannot read the key %1: %2").arg(options.KeyFile, keyFile.errorString()));
    const QList<QSslCertificate> chain = QSslCertificate::fromData(certFile.readAll(), QSsl::Pem);
    if (chain.isEmpty())
        throw EFadelinkError(QStringLiteral("%1 holds no PEM certificate").arg(options.CertFile));
    const QByteArray keyBytes = keyFile.readAll();
    QSslKey key(keyBytes, QSsl::Rsa, QSsl::Pem);
    if (key.isNull())
        key = QSslKey(keyBytes, QSsl::Ec, QSsl::Pem);
    if (key.isNull())
        throw EFadelinkError(
            QStringLiteral("%1 holds no unencrypted PEM key (RSA or EC)").arg(options.KeyFile));
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setLocalCertificateChain(chain);
    tls.setPrivateKey(key);
    tls.setPeerVerifyMode(QSslSocket::VerifyNone);
    tls.setProtocol(QSsl::TlsV1_2OrLater);
    return tls;
}
} // namespace

namespace {
constexpr int kJournalBatch = 1000;
}

TApiService::TApiService(TSession& session, QObject* parent)
    : QObject(parent), FSession(session), FModel([&session] { return session.Registry(); }) {
    // Status blocks come ten times a second from every amplifier: the meters topic reads them at
    // its own rate instead.
    FFeed.SetStatusBlocks(false);
    connect(&session, &TSession::RegistryReplacing, this, [this] { FFeed.Follow(nullptr); });
    connect(&session, &TSession::RegistryReplaced, this, [this](TGroups* registry) {
        if (Running())
            FFeed.Follow(registry);
    });
    connect(&FFeed, &TChangeFeed::Changed, this, &TApiService::Forward);
}

TApiService::~TApiService() {
    Stop();
    SetJournal(nullptr);
}

void TApiService::Forward(const TModelChange& change) {
    const QString topic = ChangeTopic(change);
    if (FHub && FHub->Wants(topic))
        FHub->Publish(topic, ChangeEventJson(change));
    if (FOsc && FOsc->Wants(topic))
        for (const QByteArray& message : OscFeedback(change))
            FOsc->Publish(topic, message);
}

void TApiService::SetJournal(TJournal* journal) {
    for (const QMetaObject::Connection& connection : std::as_const(FJournalConnections))
        disconnect(connection);
    FJournalConnections.clear();
    // Waits for a read in progress; its answer, queued to this object, finds the state reset.
    FJournalThread.reset();
    FJournalReading = false;
    FJournalAgain = false;
    FJournalAfter = 0;
    FModel.Journal().SetJournal(journal);
    if (!journal)
        return;
    FJournalConnections.append(connect(journal, &TJournal::AlarmsChanged, this, &TApiService::PublishAlarms));
    FJournalConnections.append(connect(journal, &TJournal::EntriesWritten, this, &TApiService::ReadJournal));
    FJournalThread = std::make_unique<TJournalQueryThread>(journal->Path());
    // Entries written before now are not news: the first read starts after the newest.
    FJournalReading = true;
    TJournalQueryThread* thread = FJournalThread.get();
    // Answers come back through the work queue, whose lock both threads take (a queued call's
    // capture would be ordered only by Qt's uninstrumented queue lock); `self` finds the service gone.
    TWorkQueue* back = &UserInterfaceQueue();
    const QPointer<TApiService> self(this);
    thread->Post([self, back, thread](TJournalReader& reader) {
        const std::vector<TJournalEntry> newest = reader.Entries(TJournalFilter(), 0, 1);
        const qint64 after = newest.empty() ? 0 : newest.front().Id;
        back->Post([self, thread, after] {
            if (!self || self->FJournalThread.get() != thread)
                return;
            self->FJournalAfter = after;
            self->FJournalReading = false;
            if (std::exchange(self->FJournalAgain, false))
                self->ReadJournal();
        });
    });
}

void TApiService::PublishAlarms() {
    if (!FHub || !FHub->Wants(QStringLiteral("alarms")))
        return;
    QJsonObject event = FModel.Journal().AlarmsJson();
    event.insert(QStringLiteral("type"), QStringLiteral("alarms"));
    event.insert(QStringLiteral("topic"), QStringLiteral("alarms"));
    FHub->Publish(QStringLiteral("alarms"), event);
}

void TApiService::ReadJournal() {
    if (!FJournalThread)
        return;
    if (FJournalReading) {
        FJournalAgain = true;
        return;
    }
    if (!FHub || !FHub->Wants(QStringLiteral("journal"))) {
        // Nobody listens: what is written now is skipped, not queued for later.
        FJournalAfter = -1;
    }
    FJournalReading = true;
    const qint64 after = FJournalAfter;
    TJournalQueryThread* thread = FJournalThread.get();
    TWorkQueue* back = &UserInterfaceQueue();
    const QPointer<TApiService> self(this);
    thread->Post([self, back, thread, after](TJournalReader& reader) {
        std::vector<TJournalEntry> entries;
        qint64 last = after;
        if (after < 0) {
            const std::vector<TJournalEntry> newest = reader.Entries(TJournalFilter(), 0, 1);
            last = newest.empty() ? 0 : newest.front().Id;
        } else {
            entries = reader.EntriesAfter(TJournalFilter(), after, kJournalBatch);
            if (!entries.empty())
                last = entries.back().Id;
        }
        back->Post([self, thread, last, entries = std::move(entries)] {
            if (!self || self->FJournalThread.get() != thread)
                return;
            self->FJournalAfter = last;
            self->FJournalReading = false;
            for (const TJournalEntry& entry : entries)
                if (self->FHub)
                    self->FHub->Publish(
                        QStringLiteral("journal"),
                        QJsonObject{{QStringLiteral("type"), QStringLiteral("journal")},
                                    {QStringLiteral("topic"), QStringLiteral("journal")},
                                    {QStringLiteral("entry"), TApiJournal::EntryJson(entry)}});
            // A full batch means more is waiting.
            if (std::exchange(self->FJournalAgain, false) || int(entries.size()) == kJournalBatch)
                self->ReadJournal();
        });
    });
}

void TApiService::Start(const TApiOptions& options) {
    Stop();
    CheckApiOptions(options);
    try {
        if (options.Api) {
            std::optional<QSslConfiguration> tls;
            if (options.Tls())
                tls = TlsConfiguration(options);
            if (!options.TokensFile.isEmpty())
                FTokens = TApiTokens::Load(options.TokensFile);
            FHub = std::make_unique<TEventHub>(FModel, FTokens);
            FServer = std::make_unique<TApiServer>(FModel, FTokens, *FHub);
            FServer->Listen(options.Address, options.Port, std::move(tls));
            if (options.TokensFile.isEmpty()) {
                FTokenFile = DefaultTokenFile(FServer->Port());
                FTokens = TApiTokens::Generate(FTokenFile);
            }
        }
        if (options.Osc) {
            FOsc = std::make_unique<TOscServer>(FModel);
            FOsc->Listen(options.OscAddress, options.OscPort, options.OscAllow);
        }
    } catch (...) {
        Stop();
        throw;
    }
    FOptions = options;
    FFeed.Follow(FSession.Registry());
}

void TApiService::Stop() {
    FFeed.Follow(nullptr);
    FOsc.reset();
    FServer.reset();
    FHub.reset();
    if (!FTokenFile.isEmpty())
        QFile::remove(FTokenFile);
    FTokenFile.clear();
    FTokens = TApiTokens();
    FOptions = TApiOptions();
}

bool TApiService::Running() const {
    return FServer || FOsc;
}

quint16 TApiService::Port() const {
    return FServer ? FServer->Port() : 0;
}

quint16 TApiService::OscPort() const {
    return FOsc ? FOsc->Port() : 0;
}

QString TApiService::Description() const {
    if (!Running())
        return QStringLiteral("control API off");
    QStringList parts;
    if (FServer) {
        const QString host = FOptions.Address.protocol() == QAbstractSocket::IPv6Protocol
                                 ? QLatin1Char('[') + FOptions.Address.toString() + QLatin1Char(']')
                                 : FOptions.Address.toString();
        parts.append(QStringLiteral("control API on %1://%2:%3/api/v1")
                         .arg(FOptions.Tls() ? QStringLiteral("https") : QStringLiteral("http"), host)
                         .arg(Port()));
        if (!FTokenFile.isEmpty())
            parts.append(QStringLiteral("token in %1").arg(FTokenFile));
    }
    if (FOsc)
        parts.append(QStringLiteral("OSC on %1:%2").arg(FOptions.OscAddress.toString()).arg(OscPort()));
    return parts.join(QStringLiteral("; "));
}
