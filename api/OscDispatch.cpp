#include "api/OscDispatch.h"

#include "api/ApiError.h"
#include "api/ApiLogging.h"
#include "api/ApiModel.h"
#include "api/EventHub.h"
#include "model/Errors.h"

#include <QJsonObject>

#include <cmath>
#include <cstdlib>

namespace {
const QString kPrefix = QString::fromLatin1(TOscDispatcher::Prefix);

const QStringList& kLevels = TApiModel::LevelWords();
const QStringList kPairs{QStringLiteral("volume"), QStringLiteral("sensitivity"), QStringLiteral("limiter")};
const QStringList kLocks{QStringLiteral("volume_lock"), QStringLiteral("sensitivity_lock"),
                         QStringLiteral("limiter_lock")};

// An argument list of exactly one number.
bool NumberArgument(const char* types, lo_arg** argv, int argc, double& value) {
    if (argc != 1 || !lo_is_numerical_type(lo_type(types[0])))
        return false;
    value = double(lo_hires_val(lo_type(types[0]), argv[0]));
    return std::isfinite(value);
}

// An argument list of exactly one on/off: a number (not zero: on) or True / False.
bool FlagArgument(const char* types, lo_arg** argv, int argc, bool& on) {
    if (argc != 1)
        return false;
    if (types[0] == LO_TRUE || types[0] == LO_FALSE) {
        on = types[0] == LO_TRUE;
        return true;
    }
    double value = 0;
    if (!NumberArgument(types, argv, argc, value))
        return false;
    on = value != 0;
    return true;
}

QByteArray Serialised(lo_message message, const QString& path) {
    const QByteArray address = path.toUtf8();
    size_t size = 0;
    void* data = lo_message_serialise(message, address.constData(), nullptr, &size);
    QByteArray bytes = data ? QByteArray(static_cast<const char*>(data), qsizetype(size)) : QByteArray();
    std::free(data);
    lo_message_free(message);
    return bytes;
}

// The answer to a message that cannot be acted on: its address and the reason.
QByteArray ErrorMessage(const QString& path, const QString& reason) {
    lo_message message = lo_message_new();
    const QByteArray address = path.toUtf8();
    const QByteArray detail = reason.toUtf8();
    lo_message_add_string(message, address.constData());
    lo_message_add_string(message, detail.constData());
    return Serialised(message, kPrefix + QStringLiteral("error"));
}

// liblo reports undecodable datagrams here: they are the sender's problem, noted at debug level.
void DecodeError(int number, const char* message, const char* where) {
    qCDebug(lcApi) << "OSC datagram refused:" << number << message << (where ? where : "");
}
} // namespace

QByteArray TOscDispatcher::FloatMessage(const QString& path, double value) {
    lo_message message = lo_message_new();
    lo_message_add_float(message, float(value));
    return Serialised(message, path);
}

QByteArray TOscDispatcher::IntMessage(const QString& path, int value) {
    lo_message message = lo_message_new();
    lo_message_add_int32(message, value);
    return Serialised(message, path);
}

QByteArray TOscDispatcher::StringMessage(const QString& path, const QString& value) {
    lo_message message = lo_message_new();
    const QByteArray text = value.toUtf8();
    lo_message_add_string(message, text.constData());
    return Serialised(message, path);
}

TOscDispatcher::TOscDispatcher(const TApiModel& model) : FModel(model) {
    // liblo decodes and dispatches only for a server, and its servers open a socket: this one is
    // a local socket in a private folder that nothing sends to. The datagrams come from the
    // caller's own socket, which (unlike liblo's) can listen on one address only.
    if (!FDir.isValid()) {
        FError = QStringLiteral("no private folder for the OSC decoder: %1").arg(FDir.errorString());
        return;
    }
    const QByteArray path = QFile::encodeName(FDir.filePath(QStringLiteral("osc")));
    FDecoder = lo_server_new_with_proto(path.constData(), LO_UNIX, DecodeError);
    if (!FDecoder) {
        FError = QStringLiteral("liblo could not start its decoder");
        return;
    }
    // Bundles are acted on at once, whatever time they name.
    lo_server_enable_queue(FDecoder, 0, 1);
    lo_server_add_method(FDecoder, nullptr, nullptr, &TOscDispatcher::OnMessage, this);
}

TOscDispatcher::~TOscDispatcher() {
    if (FDecoder)
        lo_server_free(FDecoder);
}

TOscOutcome TOscDispatcher::Handle(const QByteArray& datagram, const QString& client) {
    TOscOutcome outcome;
    if (!FDecoder || datagram.isEmpty())
        return outcome;
    FOutcome = &outcome;
    FClient = client;
    // liblo reads the buffer only, but takes it as not const.
    QByteArray copy = datagram;
    lo_server_dispatch_data(FDecoder, copy.data(), size_t(copy.size()));
    FOutcome = nullptr;
    return outcome;
}

int TOscDispatcher::OnMessage(const char* path, const char* types, lo_arg** argv, int argc, lo_message,
                              void* self) {
    auto* dispatcher = static_cast<TOscDispatcher*>(self);
    if (dispatcher->FOutcome)
        dispatcher->Act(QString::fromUtf8(path), types ? types : "", argv, argc);
    return 0;
}

void TOscDispatcher::Act(const QString& path, const char* types, lo_arg** argv, int argc) {
    try {
        if (!path.startsWith(kPrefix))
            throw EApiError(404, QStringLiteral("no such address"));
        const QStringList s = path.mid(kPrefix.size()).split(QLatin1Char('/'));
        const int n = int(s.size());
        if (s.last() == QLatin1String("get")) {
            Get(path.chopped(4), s.mid(0, n - 1));
            return;
        }
        if ((s[0] == QLatin1String("subscribe") || s[0] == QLatin1String("unsubscribe")) && n == 1) {
            QStringList patterns;
            for (int i = 0; i < argc; ++i) {
                // A string argument is its characters, where the argument begins; argv[i] is only
                // 4-byte aligned, so it is not read through the union's members.
                const QString pattern = types[i] == LO_STRING || types[i] == LO_SYMBOL
                                            ? QString::fromUtf8(reinterpret_cast<const char*>(argv[i]))
                                            : QString();
                if (TEventHub::NormalisedPattern(pattern).isEmpty())
                    throw EApiError(400, QStringLiteral("takes patterns: group/*, group/NAME, device/*, "
                                                        "device/ADDRESS, global"));
                patterns.append(pattern);
            }
            (s[0] == QLatin1String("subscribe") ? FOutcome->Subscribe : FOutcome->Unsubscribe) += patterns;
            return;
        }
        double number = 0;
        bool on = false;
        if (s[0] == QLatin1String("group") && n == 3 && (kLevels.contains(s[2]) || kPairs.contains(s[2]))) {
            if (!NumberArgument(types, argv, argc, number))
                throw EApiError(400, QStringLiteral("takes one number"));
            FModel.WriteGroup(FModel.FindGroup(s[1]), {{s[2], number}}, FClient);
        } else if (s[0] == QLatin1String("group") && n == 3) {
            if (!FlagArgument(types, argv, argc, on))
                throw EApiError(400, QStringLiteral("takes one on/off value"));
            FModel.WriteGroup(FModel.FindGroup(s[1]), {{s[2], on}}, FClient);
        } else if (s[0] == QLatin1String("group") && n == 4 && s[2] == QLatin1String("step")) {
            if (!NumberArgument(types, argv, argc, number))
                throw EApiError(400, QStringLiteral("takes one number"));
            FModel.StepGroup(FModel.FindGroup(s[1]), {{s[3], number}}, FClient);
        } else if (s[0] == QLatin1String("device") && n == 3 &&
                   (s[2] == QLatin1String("mute_a") || s[2] == QLatin1String("mute_b"))) {
            if (!FlagArgument(types, argv, argc, on))
                throw EApiError(400, QStringLiteral("takes one on/off value"));
            FModel.WriteDevice(FModel.FindDevice(s[1]), {{s[2], on}}, FClient);
        } else if (s[0] == QLatin1String("global") && n == 2 && s[1] == QLatin1String("volume")) {
            if (!NumberArgument(types, argv, argc, number))
                throw EApiError(400, QStringLiteral("takes one number"));
            FModel.WriteGlobal({{s[1], number}}, FClient);
        } else if (s[0] == QLatin1String("global") && n == 2 && s[1] == QLatin1String("mute")) {
            if (!FlagArgument(types, argv, argc, on))
                throw EApiError(400, QStringLiteral("takes one on/off value"));
            FModel.WriteGlobal({{s[1], on}}, FClient);
        } else if (s[0] == QLatin1String("global") && n == 3 && s[1] == QLatin1String("step")) {
            if (!NumberArgument(types, argv, argc, number))
                throw EApiError(400, QStringLiteral("takes one number"));
            FModel.StepGlobal({{s[2], number}}, FClient);
        } else {
            throw EApiError(404, QStringLiteral("no such address"));
        }
    } catch (const EApiError& e) {
        FOutcome->Replies.append(ErrorMessage(path, e.Detail));
    } catch (const EFadelinkError& e) {
        FOutcome->Replies.append(ErrorMessage(path, e.Message));
    }
}

void TOscDispatcher::Get(const QString& path, const QStringList& s) {
    const int n = int(s.size());
    QList<QByteArray>& replies = FOutcome->Replies;
    if (n >= 2 && n <= 3 && s[0] == QLatin1String("group")) {
        const TGroup& group = FModel.FindGroup(s[1]);
        const QJsonObject json = FModel.GroupJson(group);
        const QString base = kPrefix + QStringLiteral("group/") + s[1] + QLatin1Char('/');
        QStringList fields = kLevels + kLocks;
        fields.append(QStringLiteral("mute"));
        if (n == 3) {
            if (!fields.contains(s[2]) && !kPairs.contains(s[2]))
                throw EApiError(404, QStringLiteral("no such address"));
            fields = QStringList{kPairs.contains(s[2]) ? s[2] + QLatin1String("_a") : s[2]};
        }
        for (const QString& field : std::as_const(fields)) {
            const QJsonValue value = json.value(field);
            const QString address = n == 3 ? path : base + field;
            replies.append(value.isBool() ? IntMessage(address, value.toBool() ? 1 : 0)
                                          : FloatMessage(address, value.toDouble()));
        }
    } else if (n >= 1 && n <= 2 && s[0] == QLatin1String("global")) {
        const QJsonObject json = FModel.GlobalJson();
        const QString base = kPrefix + QStringLiteral("global/");
        if (n == 1 || s[1] == QLatin1String("volume"))
            replies.append(FloatMessage(base + QStringLiteral("volume"),
                                        json.value(QLatin1String("volume")).toDouble()));
        if (n == 1 || s[1] == QLatin1String("mute"))
            replies.append(
                IntMessage(base + QStringLiteral("mute"), json.value(QLatin1String("mute")).toBool()));
        if (replies.isEmpty())
            throw EApiError(404, QStringLiteral("no such address"));
    } else if (n == 3 && s[0] == QLatin1String("device")) {
        const QJsonObject json = FModel.DeviceJson(FModel.FindDevice(s[1]));
        if (s[2] == QLatin1String("mute_a") || s[2] == QLatin1String("mute_b"))
            replies.append(
                IntMessage(path, json.value(QLatin1String("wanted")).toObject().value(s[2]).toBool()));
        else if (s[2] == QLatin1String("state"))
            replies.append(StringMessage(path, json.value(QLatin1String("state")).toString()));
        else
            throw EApiError(404, QStringLiteral("no such address"));
    } else {
        throw EApiError(404, QStringLiteral("no such address"));
    }
}
