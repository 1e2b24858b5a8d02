#include "tools/ampsim/AmpOptions.h"

#include "device/DeviceUnit.h"
#include "device/LoopbackGuard.h"

#include <QLocale>

#include <algorithm>
#include <cmath>
#include <numeric>

namespace {
const QString kDefaultName = QStringLiteral("AMP");

struct TEndpoint {
    QString Address;
    quint16 Port = 80;
};

// "a.b.c.d" or "a.b.c.d:port"; false with `error` set otherwise.
bool ParseEndpoint(const QString& text, TEndpoint& out, QString& error) {
    const int colon = text.indexOf(QLatin1Char(':'));
    out.Address = colon < 0 ? text : text.left(colon);
    if (colon >= 0) {
        bool ok = false;
        const uint port = text.mid(colon + 1).toUInt(&ok);
        if (!ok || port < 1 || port > 65535) {
            error = QStringLiteral("'%1': the port must be a number from 1 to 65535").arg(text);
            return false;
        }
        out.Port = quint16(port);
    }
    if (IsLoopbackAddress(out.Address))
        return true;
    if (IsLoopbackAddress(QStringLiteral("127.") + out.Address.section(QLatin1Char('.'), 1)))
        error = QStringLiteral("'%1' is outside 127.0.0.0/8; ampsim only listens on loopback addresses")
                    .arg(text);
    else
        error = QStringLiteral("'%1' is not an address of the form a.b.c.d or a.b.c.d:port").arg(text);
    return false;
}

// A stable serial number per address, so that an amplifier keeps its identity between runs.
QByteArray SerialFor(const TEndpoint& endpoint) {
    const QStringList parts = endpoint.Address.split(QLatin1Char('.'));
    const int value = (parts[2].toInt() * 256 + parts[3].toInt()) % 100000;
    return QByteArray::number(value).rightJustified(5, '0');
}

std::uint32_t SeedFor(const TEndpoint& endpoint) {
    const QStringList parts = endpoint.Address.split(QLatin1Char('.'));
    return std::accumulate(
        parts.begin(), parts.end(), std::uint32_t(endpoint.Port),
        [](std::uint32_t seed, const QString& part) { return seed * 257 + part.toUInt(); });
}
} // namespace

QByteArray NumberedShortName(const QString& name, int number, int count) {
    const QString base = NormaliseShortName(name);
    if (count <= 1)
        return base.toLatin1();
    const QString digits = QString::number(number);
    return NormaliseShortName(base.trimmed().left(5 - int(digits.size())) + digits).toLatin1();
}

QString AmpSimHelpText() {
    return QStringLiteral(
        "Usage: ampsim [options] ADDRESS...\n"
        "Simulates one networked two-channel power amplifier per ADDRESS, answering HTTP/1.0\n"
        "like a real one, until interrupted (Ctrl-C or SIGTERM).\n"
        "\n"
        "ADDRESS is a.b.c.d (port 80) or a.b.c.d:port, and must lie in 127.0.0.0/8.\n"
        "\n"
        "Options:\n"
        "  --model MODEL     KV-20, KV-30 or KV-40 (default KV-30)\n"
        "  --group CODE      group short name the amplifiers start with (default blank)\n"
        "  --name NAME       device short name (default AMP). With several addresses the\n"
        "                    names are numbered in address order, NAME1, NAME2, ..., with\n"
        "                    NAME cut so that name and number fit five characters:\n"
        "                    --name STAGE gives STAG1, STAG2, ... STA10. Names and codes\n"
        "                    are upper-cased, and characters other than A-Z and 0-9\n"
        "                    become spaces.\n"
        "  --fault A|B       put channel A or B in FAULT (repeat for both)\n"
        "  --time-scale N    run simulated time N times faster (default 1), so that the\n"
        "                    100-minute histories fill in 100/N minutes\n"
        "  --log             print \"ADDRESS PATH\" on standard output for every request\n"
        "  --help            show this text\n"
        "  --version         show the version\n"
        "\n"
        "Exit status: 0 when ended by a signal, 1 on a runtime failure (such as an address\n"
        "that cannot be bound), 2 on a usage error.\n");
}

TAmpSimOptions ParseAmpSimArguments(const QStringList& arguments) {
    TAmpSimOptions options;
    auto fail = [&options](const QString& error) {
        options.Action = TAmpSimOptions::EAction::UsageError;
        options.Error = error;
        return options;
    };

    QByteArray model = "KV-30";
    QString group;
    QString name = kDefaultName;
    bool faultA = false, faultB = false;
    double timeScale = 1;
    QList<TEndpoint> endpoints;
    bool optionsEnded = false;

    for (int i = 1; i < arguments.size(); ++i) {
        QString arg = arguments[i];
        if (optionsEnded || !arg.startsWith(QLatin1Char('-'))) {
            TEndpoint endpoint;
            QString error;
            if (!ParseEndpoint(arg, endpoint, error))
                return fail(error);
            if (std::any_of(endpoints.begin(), endpoints.end(), [&endpoint](const TEndpoint& e) {
                    return e.Address == endpoint.Address && e.Port == endpoint.Port;
                }))
                return fail(QStringLiteral("'%1' is given twice").arg(arg));
            endpoints.append(endpoint);
            continue;
        }
        if (arg == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
            options.Action = TAmpSimOptions::EAction::Help;
            return options;
        }
        if (arg == QLatin1String("--version")) {
            options.Action = TAmpSimOptions::EAction::Version;
            return options;
        }
        if (arg == QLatin1String("--log")) {
            options.Log = true;
            continue;
        }
        // The options with a value take it as the next argument or after "=".
        QString value;
        const int eq = arg.indexOf(QLatin1Char('='));
        if (eq > 0) {
            value = arg.mid(eq + 1);
            arg = arg.left(eq);
        } else if (i + 1 < arguments.size()) {
            value = arguments[++i];
        } else if (arg == QLatin1String("--model") || arg == QLatin1String("--group") ||
                   arg == QLatin1String("--name") || arg == QLatin1String("--fault") ||
                   arg == QLatin1String("--time-scale")) {
            return fail(QStringLiteral("%1 needs a value").arg(arg));
        } else {
            return fail(QStringLiteral("unknown option '%1'").arg(arg));
        }

        if (arg == QLatin1String("--model")) {
            if (!FindModelLimits(value.toLatin1()))
                return fail(QStringLiteral("unknown model '%1' (KV-20, KV-30 or KV-40)").arg(value));
            model = value.toLatin1();
        } else if (arg == QLatin1String("--group")) {
            group = value;
        } else if (arg == QLatin1String("--name")) {
            name = value;
        } else if (arg == QLatin1String("--fault")) {
            if (value.compare(QLatin1String("A"), Qt::CaseInsensitive) == 0)
                faultA = true;
            else if (value.compare(QLatin1String("B"), Qt::CaseInsensitive) == 0)
                faultB = true;
            else
                return fail(QStringLiteral("--fault takes A or B, not '%1'").arg(value));
        } else if (arg == QLatin1String("--time-scale")) {
            bool ok = false;
            timeScale = QLocale::c().toDouble(value, &ok);
            if (!ok || !std::isfinite(timeScale) || timeScale <= 0)
                return fail(QStringLiteral("--time-scale takes a number above 0, not '%1'").arg(value));
        } else {
            return fail(QStringLiteral("unknown option '%1'").arg(arg));
        }
    }
    if (endpoints.isEmpty())
        return fail(QStringLiteral("no address given"));

    for (int i = 0; i < endpoints.size(); ++i) {
        TAmpConfig config = TAmpConfig::At(endpoints[i].Address, endpoints[i].Port);
        config.State.Model = model;
        config.State.DeviceName = NumberedShortName(name, i + 1, int(endpoints.size()));
        config.State.GroupName = NormaliseShortName(group).toLatin1();
        config.State.SerialNumber = SerialFor(endpoints[i]);
        config.State.ChannelOkA = !faultA;
        config.State.ChannelOkB = !faultB;
        config.Meters.Seed = SeedFor(endpoints[i]);
        config.TimeScale = timeScale;
        options.Amps.append(config);
    }
    return options;
}
