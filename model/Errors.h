#pragma once

#include <QString>

#include <stdexcept>

// Every error an operator command can meet carries its exact message text; one central handler
// shows it (see ShowErrorMessage in the user interface).
class EFadelinkError : public std::runtime_error {
public:
    explicit EFadelinkError(const QString& message)
        : std::runtime_error(message.toStdString()), Message(message) {}
    const QString Message;
};

// A text that is not a number or a boolean.
class EConvertError : public EFadelinkError {
public:
    using EFadelinkError::EFadelinkError;
};

// A file that cannot be created, written or read.
class EFileError : public EFadelinkError {
public:
    using EFadelinkError::EFadelinkError;
};

// The text the program shows for an error: the message, with a "." appended when its last
// character's code is above that of ".".
inline QString DisplayMessage(const QString& message) {
    if (!message.isEmpty() && message.back().unicode() > u'.')
        return message + QLatin1Char('.');
    return message;
}
