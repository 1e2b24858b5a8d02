// fadelinkctl: reads and drives a running Fadelink through its control API, for scripts.
#include "api/ApiOptions.h"
#include "api/ApiTokens.h"
#include "model/Errors.h"
#include "tools/fadelinkctl/CtlClient.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QLocale>

#include <cstdio>

namespace {
// The token of a server on this computer that generated one: the file it wrote for its port.
QByteArray LocalToken(const QUrl& url) {
    const QString file = DefaultTokenFile(quint16(url.port(TApiOptions::DefaultPort)));
    if (!QFile::exists(file))
        return QByteArray();
    try {
        return TApiTokens::Load(file).Tokens().first().Secret;
    } catch (const EFadelinkError&) {
        return QByteArray();
    }
}
} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("fadelinkctl"));
    QCoreApplication::setApplicationVersion(QStringLiteral("4.0"));
    QLocale::setDefault(QLocale::c());
    QTextStream out(stdout);
    QTextStream err(stderr);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Reads and drives a running Fadelink (the program or fadelink-headless) through its control API.\n"
        "\n"
        "Commands:\n"
        "  get project | get devices | get global | get group NAME | get device ADDRESS\n"
        "  get alarms | get journal | ack ALARM-ID\n"
        "  set group NAME FIELD VALUE [FIELD VALUE ...]   e.g. set group MAIN volume -12\n"
        "  set global volume DB | set global mute on|off\n"
        "  step group NAME FIELD DELTA [...]              e.g. step group MAIN volume -1.5\n"
        "  step global DELTA\n"
        "  mute global on|off | mute group NAME on|off | mute device ADDRESS a|b on|off\n"
        "  watch PATTERN [PATTERN ...]                    e.g. watch 'group/*' 'device/192.168.1.20'\n"
        "FIELDs: volume, sensitivity, limiter (both channels) or volume_a, volume_b, ..., limiter_b;\n"
        "volume_lock, sensitivity_lock, limiter_lock and mute take on/off.\n"
        "\n"
        "The token comes from --token, else FADELINK_TOKEN, else the file a server on this computer\n"
        "without a tokens file wrote for its port. Exit status: 0 done, 1 refused or no answer,\n"
        "2 wrong usage."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption urlOption(
        QStringList{QStringLiteral("url")},
        QStringLiteral("The server (default http://127.0.0.1:8411, or FADELINK_URL)."),
        QStringLiteral("URL"));
    const QCommandLineOption tokenOption(QStringList{QStringLiteral("token")},
                                         QStringLiteral("The token to send."), QStringLiteral("TOKEN"));
    const QCommandLineOption jsonOption(QStringList{QStringLiteral("json")},
                                        QStringLiteral("Print answers and events as JSON."));
    const QCommandLineOption countOption(QStringList{QStringLiteral("count")},
                                         QStringLiteral("watch: end after N events."), QStringLiteral("N"));
    const QCommandLineOption rateOption(QStringList{QStringLiteral("rate")},
                                        QStringLiteral("watch: meter messages a second, 1 to 10."),
                                        QStringLiteral("N"));
    const QCommandLineOption caOption(QStringList{QStringLiteral("cacert")},
                                      QStringLiteral("With https: trust this PEM certificate."),
                                      QStringLiteral("FILE"));
    parser.addOptions({urlOption, tokenOption, jsonOption, countOption, rateOption, caOption});
    parser.addPositionalArgument(QStringLiteral("COMMAND"), QStringLiteral("What to do (see above)."));
    // Negative numbers ("-12") are values, not options.
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    if (!parser.parse(QCoreApplication::arguments())) {
        err << "fadelinkctl: " << parser.errorText() << '\n';
        return 2;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        out << parser.helpText();
        return 0;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        out << "fadelinkctl 4.0\n";
        return 0;
    }

    TCtlSettings settings;
    const QString url = parser.isSet(urlOption)
                            ? parser.value(urlOption)
                            : qEnvironmentVariable("FADELINK_URL", QStringLiteral("http://127.0.0.1:8411"));
    settings.Url = QUrl(url, QUrl::StrictMode);
    if (!settings.Url.isValid() ||
        (settings.Url.scheme() != QLatin1String("http") && settings.Url.scheme() != QLatin1String("https"))) {
        err << "fadelinkctl: --url takes http://HOST:PORT or https://HOST:PORT, not '" << url << "'\n";
        return 2;
    }
    settings.Json = parser.isSet(jsonOption);
    bool ok = true;
    if (parser.isSet(countOption))
        settings.Count = parser.value(countOption).toInt(&ok);
    if (!ok || settings.Count == 0 || settings.Count < -1) {
        err << "fadelinkctl: --count takes a number of events\n";
        return 2;
    }
    if (parser.isSet(rateOption))
        settings.Rate = parser.value(rateOption).toInt(&ok);
    if (!ok || settings.Rate < 0) {
        err << "fadelinkctl: --rate takes 1 to 10\n";
        return 2;
    }
    if (parser.isSet(caOption)) {
        QFile file(parser.value(caOption));
        settings.TrustedCerts = file.open(QIODevice::ReadOnly) ? QSslCertificate::fromData(file.readAll())
                                                               : QList<QSslCertificate>();
        if (settings.TrustedCerts.isEmpty()) {
            err << "fadelinkctl: --cacert: no PEM certificate in " << parser.value(caOption) << '\n';
            return 2;
        }
    }
    settings.Token = parser.isSet(tokenOption) ? parser.value(tokenOption).toUtf8()
                                               : qEnvironmentVariable("FADELINK_TOKEN").toUtf8();
    if (settings.Token.isEmpty())
        settings.Token = LocalToken(settings.Url);

    TCtlRequest request;
    try {
        request = ParseCtlCommand(parser.positionalArguments());
    } catch (const ECtlUsage& e) {
        err << "fadelinkctl: " << e.Message << " (see --help)\n";
        return 2;
    }
    return RunCtlRequest(settings, request, out, err);
}
