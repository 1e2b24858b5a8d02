#include "api/ApiService.h"

#include "api/ApiServer.h"
#include "api/EventHub.h"
#include "api/OscServer.h"
#include "model/Errors.h"

#include <QFile>
#include <QSslCertificate>
#include <QSslKey>
#include <QSslSocket>

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

TApiService::TApiService(TApiModel::TRegistryProvider registry, QObject* parent)
    : QObject(parent), FModel(std::move(registry)) {}

TApiService::~TApiService() {
    Stop();
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
}

void TApiService::Stop() {
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
