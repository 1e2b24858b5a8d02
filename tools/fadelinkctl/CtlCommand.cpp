#include "tools/fadelinkctl/CtlCommand.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>
#include <QUrl>

namespace {
QString Segment(const QString& text) {
    return QString::fromLatin1(QUrl::toPercentEncoding(text));
}

QJsonValue FieldValue(const QString& field, const QString& text) {
    if (field.endsWith(QLatin1String("_lock")) || field.startsWith(QLatin1String("mute"))) {
        const QString word = text.toLower();
        if (word == QLatin1String("on") || word == QLatin1String("true") || word == QLatin1String("1"))
            return true;
        if (word == QLatin1String("off") || word == QLatin1String("false") || word == QLatin1String("0"))
            return false;
        throw ECtlUsage(QStringLiteral("%1 takes on or off, not '%2'").arg(field, text));
    }
    bool ok = false;
    const double number = QLocale::c().toDouble(text, &ok);
    if (!ok)
        throw ECtlUsage(QStringLiteral("%1 takes a number, not '%2'").arg(field, text));
    return number;
}

// FIELD VALUE pairs from `from` on.
QJsonObject Fields(const QStringList& words, int from) {
    if (words.size() <= from || (words.size() - from) % 2 != 0)
        throw ECtlUsage(
            QStringLiteral("expected FIELD VALUE pairs after '%1'").arg(words.mid(0, from).join(' ')));
    QJsonObject fields;
    for (int i = from; i + 1 < words.size(); i += 2)
        fields.insert(words[i], FieldValue(words[i], words[i + 1]));
    return fields;
}

QString Scalar(const QJsonValue& value) {
    switch (value.type()) {
    case QJsonValue::Null:
    case QJsonValue::Undefined:
        return QStringLiteral("-");
    case QJsonValue::Bool:
        return value.toBool() ? QStringLiteral("on") : QStringLiteral("off");
    case QJsonValue::Double:
        return QLocale::c().toString(value.toDouble(), 'g', 10);
    case QJsonValue::String:
        return value.toString();
    default:
        return QString::fromUtf8(
            QJsonDocument::fromVariant(value.toVariant()).toJson(QJsonDocument::Compact));
    }
}

void Lines(const QString& prefix, const QJsonValue& value, QStringList& out) {
    if (value.isObject()) {
        const QJsonObject object = value.toObject();
        for (auto it = object.begin(); it != object.end(); ++it)
            Lines(prefix.isEmpty() ? it.key() : prefix + QLatin1Char('.') + it.key(), it.value(), out);
    } else if (value.isArray()) {
        const QJsonArray array = value.toArray();
        const bool flat = std::all_of(array.begin(), array.end(),
                                      [](const QJsonValue& v) { return !v.isObject() && !v.isArray(); });
        if (flat) {
            QStringList items;
            for (const QJsonValue& item : array)
                items.append(Scalar(item));
            out.append((prefix.isEmpty() ? QString() : prefix + QLatin1Char(' ')) +
                       items.join(QLatin1Char(' ')));
        } else {
            for (int i = 0; i < array.size(); ++i)
                Lines(prefix.isEmpty() ? QString::number(i) : prefix + QLatin1Char('.') + QString::number(i),
                      array[i], out);
        }
    } else {
        out.append((prefix.isEmpty() ? QString() : prefix + QLatin1Char(' ')) + Scalar(value));
    }
}
} // namespace

TCtlRequest ParseCtlCommand(const QStringList& words) {
    if (words.isEmpty())
        throw ECtlUsage(QStringLiteral("no command: get, set, step, mute, ack or watch"));
    const QString verb = words[0];
    const QString what = words.value(1);
    TCtlRequest request;
    if (verb == QLatin1String("get")) {
        if ((what == QLatin1String("project") || what == QLatin1String("devices") ||
             what == QLatin1String("global") || what == QLatin1String("alarms") ||
             what == QLatin1String("journal")) &&
            words.size() == 2)
            request.Path = QStringLiteral("/api/v1/") + what;
        else if (what == QLatin1String("group") && words.size() == 3)
            request.Path = QStringLiteral("/api/v1/groups/") + Segment(words[2]);
        else if (what == QLatin1String("device") && words.size() == 3)
            request.Path = QStringLiteral("/api/v1/devices/") + Segment(words[2]);
        else
            throw ECtlUsage(
                QStringLiteral("get project | get devices | get global | get group NAME | get device "
                               "ADDRESS | get alarms | get journal"));
    } else if (verb == QLatin1String("set") || verb == QLatin1String("step")) {
        const bool step = verb == QLatin1String("step");
        request.Method = step ? "POST" : "PUT";
        request.HasBody = true;
        if (what == QLatin1String("group") && words.size() >= 3) {
            request.Path = QStringLiteral("/api/v1/groups/") + Segment(words[2]) +
                           (step ? QStringLiteral("/step") : QString());
            request.Body = Fields(words, 3);
        } else if (what == QLatin1String("global")) {
            request.Path = step ? QStringLiteral("/api/v1/global/step") : QStringLiteral("/api/v1/global");
            // "step global -3" names no field: the global volume is the only one.
            if (step && words.size() == 3)
                request.Body =
                    QJsonObject{{QStringLiteral("volume"), FieldValue(QStringLiteral("volume"), words[2])}};
            else
                request.Body = Fields(words, 2);
        } else {
            throw ECtlUsage(
                QStringLiteral("%1 group NAME FIELD VALUE ... | %1 global FIELD VALUE ...").arg(verb));
        }
    } else if (verb == QLatin1String("mute")) {
        request.Method = "PUT";
        request.HasBody = true;
        const QString channel = words.value(3).toLower();
        if (what == QLatin1String("global") && words.size() == 3) {
            request.Path = QStringLiteral("/api/v1/global");
            request.Body =
                QJsonObject{{QStringLiteral("mute"), FieldValue(QStringLiteral("mute"), words[2])}};
        } else if (what == QLatin1String("group") && words.size() == 4) {
            request.Path = QStringLiteral("/api/v1/groups/") + Segment(words[2]);
            request.Body =
                QJsonObject{{QStringLiteral("mute"), FieldValue(QStringLiteral("mute"), words[3])}};
        } else if (what == QLatin1String("device") && words.size() == 5 &&
                   (channel == QLatin1String("a") || channel == QLatin1String("b"))) {
            const QString field = QStringLiteral("mute_") + channel;
            request.Path = QStringLiteral("/api/v1/devices/") + Segment(words[2]);
            request.Body = QJsonObject{{field, FieldValue(field, words[4])}};
        } else {
            throw ECtlUsage(QStringLiteral(
                "mute global on|off | mute group NAME on|off | mute device ADDRESS a|b on|off"));
        }
    } else if (verb == QLatin1String("ack")) {
        if (words.size() != 2)
            throw ECtlUsage(QStringLiteral("ack ALARM-ID"));
        request.Method = "POST";
        request.Path = QStringLiteral("/api/v1/alarms/") + Segment(words[1]) + QStringLiteral("/acknowledge");
    } else if (verb == QLatin1String("watch")) {
        if (words.size() < 2)
            throw ECtlUsage(QStringLiteral("watch PATTERN [PATTERN ...], e.g. watch 'group/*'"));
        request.Watch = true;
        request.Path = QStringLiteral("/api/v1/events");
        request.Patterns = words.mid(1);
    } else {
        throw ECtlUsage(QStringLiteral("unknown command '%1': get, set, step, mute, ack or watch").arg(verb));
    }
    return request;
}

QString PlainText(const QJsonValue& value) {
    QStringList lines;
    Lines(QString(), value, lines);
    return lines.join(QLatin1Char('\n'));
}

QString PlainEvent(const QJsonObject& event) {
    const QString type = event.value(QLatin1String("type")).toString();
    QJsonObject rest = event;
    rest.remove(QStringLiteral("type"));
    QStringList lines;
    Lines(QString(), rest, lines);
    return type + QLatin1Char(' ') + lines.join(QLatin1Char(' '));
}
