#include "api/ApiOptions.h"

#include "model/Errors.h"

#include <QCommandLineParser>

namespace {
const QString kApi = QStringLiteral("api");
const QString kTokens = QStringLiteral("api-tokens");
const QString kCert = QStringLiteral("api-cert");
const QString kKey = QStringLiteral("api-key");
const QString kInsecure = QStringLiteral("api-insecure");
const QString kOsc = QStringLiteral("osc");
const QString kOscAllow = QStringLiteral("osc-allow");

bool ParsePort(const QString& text, quint16& port) {
    bool ok = false;
    const uint value = text.toUInt(&ok);
    if (!ok || value > 65535)
        return false;
    port = quint16(value);
    return true;
}

bool ParseAddress(QString text, QHostAddress& address) {
    if (text.startsWith(QLatin1Char('[')) && text.endsWith(QLatin1Char(']')))
        text = text.mid(1, text.size() - 2);
    QHostAddress parsed;
    if (text.isEmpty() || !parsed.setAddress(text) || !parsed.scopeId().isEmpty())
        return false;
    address = parsed;
    return true;
}
} // namespace

bool ParseEndpoint(const QString& text, QHostAddress& address, quint16& port, QString* error) {
    const auto fail = [&] {
        if (error)
            *error =
                QStringLiteral("'%1' is not ADDRESS:PORT, ADDRESS or PORT (a literal address)").arg(text);
        return false;
    };
    if (text.isEmpty())
        return fail();
    const int colon = text.lastIndexOf(QLatin1Char(':'));
    const bool bracketed = text.startsWith(QLatin1Char('['));
    // A bare IPv6 address has colons but no port.
    if (colon < 0 || (!bracketed && text.count(QLatin1Char(':')) > 1)) {
        if (ParsePort(text, port))
            return true;
        return ParseAddress(text, address) || fail();
    }
    const QString host = text.left(colon);
    if (!ParsePort(text.mid(colon + 1), port))
        return fail();
    return host.isEmpty() || ParseAddress(host, address) || fail();
}

bool ParseSubnet(const QString& text, TSubnet& subnet) {
    const int slash = text.indexOf(QLatin1Char('/'));
    QHostAddress network;
    if (!ParseAddress(slash < 0 ? text : text.left(slash), network))
        return false;
    const int bits = network.protocol() == QAbstractSocket::IPv4Protocol ? 32 : 128;
    int prefix = bits;
    if (slash >= 0) {
        bool ok = false;
        prefix = text.mid(slash + 1).toInt(&ok);
        if (!ok || prefix < 0 || prefix > bits)
            return false;
    }
    subnet.Network = network;
    subnet.Prefix = prefix;
    return true;
}

void AddApiOptions(QCommandLineParser& parser) {
    parser.addOption(
        {kApi, QStringLiteral("Serve the control API on ADDR:PORT (127.0.0.1:8411 when a part is left out)."),
         QStringLiteral("ADDR:PORT")});
    parser.addOption(
        {kTokens,
         QStringLiteral("Accept the tokens in FILE: one 'NAME monitor|control TOKEN' a line; the "
                        "file must not be readable by group or others."),
         QStringLiteral("FILE")});
    parser.addOption(
        {kCert, QStringLiteral("Serve the API over TLS with this PEM certificate."), QStringLiteral("FILE")});
    parser.addOption({kKey, QStringLiteral("The PEM private key of --api-cert."), QStringLiteral("FILE")});
    parser.addOption(
        {kInsecure, QStringLiteral("Allow the API without TLS, and OSC, on an address other than "
                                   "loopback.")});
    parser.addOption({kOsc, QStringLiteral("Receive OSC over UDP on [ADDR:]PORT (127.0.0.1 when left out)."),
                      QStringLiteral("PORT")});
    parser.addOption({kOscAllow,
                      QStringLiteral("Accept OSC only from this address block (repeatable; loopback when not "
                                     "given)."),
                      QStringLiteral("CIDR")});
}

TApiOptions ApiOptionsFrom(const QCommandLineParser& parser) {
    TApiOptions options;
    QString error;
    if (parser.isSet(kApi)) {
        options.Api = true;
        if (!ParseEndpoint(parser.value(kApi), options.Address, options.Port, &error))
            throw EFadelinkError(QStringLiteral("--api: ") + error);
    }
    options.TokensFile = parser.value(kTokens);
    options.CertFile = parser.value(kCert);
    options.KeyFile = parser.value(kKey);
    options.Insecure = parser.isSet(kInsecure);
    if (parser.isSet(kOsc)) {
        options.Osc = true;
        if (!ParseEndpoint(parser.value(kOsc), options.OscAddress, options.OscPort, &error))
            throw EFadelinkError(QStringLiteral("--osc: ") + error);
    }
    for (const QString& value : parser.values(kOscAllow))
        for (const QString& part : value.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            TSubnet subnet;
            if (!ParseSubnet(part.trimmed(), subnet))
                throw EFadelinkError(QStringLiteral("--osc-allow: '%1' is not an address block such as "
                                                    "192.168.1.0/24")
                                         .arg(part));
            options.OscAllow.append(subnet);
        }
    CheckApiOptions(options);
    return options;
}

void CheckApiOptions(const TApiOptions& options) {
    if (!options.Api &&
        (!options.TokensFile.isEmpty() || !options.CertFile.isEmpty() || !options.KeyFile.isEmpty()))
        throw EFadelinkError(QStringLiteral("--api-tokens, --api-cert and --api-key need --api"));
    if (!options.Osc && !options.OscAllow.isEmpty())
        throw EFadelinkError(QStringLiteral("--osc-allow needs --osc"));
    if (options.CertFile.isEmpty() != options.KeyFile.isEmpty())
        throw EFadelinkError(QStringLiteral("--api-cert and --api-key go together"));
    if (options.Api && !options.Address.isLoopback()) {
        const QString where = options.Address.toString();
        if (options.TokensFile.isEmpty())
            throw EFadelinkError(
                QStringLiteral("The API on %1, beyond this computer, needs --api-tokens").arg(where));
        if (!options.Tls() && !options.Insecure)
            throw EFadelinkError(
                QStringLiteral("The API on %1, beyond this computer, needs TLS (--api-cert and "
                               "--api-key), or --api-insecure to go without")
                    .arg(where));
    }
    if (options.Osc && !options.OscAddress.isLoopback() && !options.Insecure)
        throw EFadelinkError(
            QStringLiteral("OSC on %1, beyond this computer, has neither tokens nor TLS: give "
                           "--api-insecure to allow it")
                .arg(options.OscAddress.toString()));
}
