#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// What a token lets its holder do: read and subscribe, or also write.
enum class TApiRole { Monitor, Control };

struct TApiToken {
    QString Name; // the client's name, journalled with every write it makes
    TApiRole Role = TApiRole::Monitor;
    QByteArray Secret;
};

// The tokens a server accepts. Every request but the API description names one of them in
// "Authorization: Bearer SECRET".
class TApiTokens {
public:
    static constexpr int MinSecretLength = 16;

    // Reads a tokens file: one "NAME ROLE SECRET" a line (ROLE monitor or control), blank lines
    // and lines starting with "#" passed over. Raises EFadelinkError with the reason when the file
    // cannot be read, can be read or written by group or others, holds a line of another form, a
    // secret shorter than MinSecretLength, or a name or secret twice.
    static TApiTokens Load(const QString& fileName);
    // One random control token named "local", written to `fileName` (created anew, owner only),
    // for a server started without a tokens file. Raises EFadelinkError when it cannot be written.
    static TApiTokens Generate(const QString& fileName);

    // The token with this secret, or nullptr; every secret is compared in full, so that the time
    // taken tells nothing about how much of a guess was right.
    const TApiToken* Find(const QByteArray& secret) const;
    bool IsEmpty() const { return FTokens.isEmpty(); }
    const QList<TApiToken>& Tokens() const { return FTokens; }

    // Adds a token (tests, and the generated one).
    void Add(const TApiToken& token) { FTokens.append(token); }

private:
    QList<TApiToken> FTokens;
};

// Where a server on `port` without a tokens file keeps the token it generated, and where
// fadelinkctl looks for it: $XDG_RUNTIME_DIR/fadelink/api-token-PORT (the user's runtime folder),
// or under /tmp/fadelink-UID without one.
QString DefaultTokenFile(quint16 port);

// "monitor" or "control".
QString RoleName(TApiRole role);
