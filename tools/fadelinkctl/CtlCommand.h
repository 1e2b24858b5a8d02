#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QStringList>

#include <stdexcept>

// A command line that does not say something fadelinkctl can do; the message says why.
class ECtlUsage : public std::runtime_error {
public:
    explicit ECtlUsage(const QString& message)
        : std::runtime_error(message.toStdString()), Message(message) {}
    const QString Message;
};

// What a command asks of the server: one HTTP request, or a watch of event patterns.
struct TCtlRequest {
    QByteArray Method = "GET";
    QString Path; // below the server's URL, percent-encoded
    QJsonObject Body;
    bool HasBody = false;
    bool Watch = false;
    QStringList Patterns;
};

// The words after the options:
//   get project | get devices | get global | get group NAME | get device ADDRESS
//   set group NAME FIELD VALUE [FIELD VALUE ...] | set global FIELD VALUE [...]
//   step group NAME FIELD DELTA [...] | step global [volume] DELTA
//   mute global on|off | mute group NAME on|off | mute device ADDRESS a|b on|off
//   get alarms | get journal | ack ALARM-ID
//   watch PATTERN [PATTERN ...]
// A FIELD ending in "_lock", or "mute" ("mute_a", "mute_b"), takes on/off; any other a number with "." as
// decimal separator. Raises ECtlUsage.
TCtlRequest ParseCtlCommand(const QStringList& words);

// The plain form of an answer: "name value" lines, nested objects as "outer.inner value", lists
// of names as one line, null as "-".
QString PlainText(const QJsonValue& value);
// One line for an event of the WebSocket.
QString PlainEvent(const QJsonObject& event);
