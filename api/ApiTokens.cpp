#include "api/ApiTokens.h"

#include "model/Errors.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSet>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
bool SameSecret(const QByteArray& a, const QByteArray& b) {
    // Length is not secret; the contents are compared without an early exit.
    if (a.size() != b.size())
        return false;
    unsigned char difference = 0;
    for (qsizetype i = 0; i < a.size(); ++i)
        difference |= static_cast<unsigned char>(a[i] ^ b[i]);
    return difference == 0;
}
} // namespace

QString RoleName(TApiRole role) {
    return role == TApiRole::Control ? QStringLiteral("control") : QStringLiteral("monitor");
}

TApiTokens TApiTokens::Load(const QString& fileName) {
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        throw EFadelinkError(
            QStringLiteral("Cannot read the tokens file %1: %2").arg(fileName, file.errorString()));
    // The permissions of what was opened, not of what the name leads to a moment later.
    struct stat info = {};
    if (::fstat(file.handle(), &info) != 0 || !S_ISREG(info.st_mode))
        throw EFadelinkError(QStringLiteral("The tokens file %1 is not a regular file").arg(fileName));
    if (info.st_mode & (S_IRGRP | S_IWGRP | S_IROTH | S_IWOTH))
        throw EFadelinkError(
            QStringLiteral("The tokens file %1 can be read or written by group or others (mode %2): "
                           "make it private with chmod 600")
                .arg(fileName)
                .arg(info.st_mode & 0777, 4, 8, QLatin1Char('0')));

    static const QRegularExpression kName(QStringLiteral("^[A-Za-z0-9._@-]{1,64}$"));
    TApiTokens tokens;
    QSet<QString> names;
    QSet<QByteArray> secrets;
    int lineNumber = 0;
    // A tokens file is a few lines; a larger one is a mistake, not something to hold.
    const QByteArray text = file.read(1 << 20);
    for (const QByteArray& raw : text.split('\n')) {
        ++lineNumber;
        const QByteArray line = raw.trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const QList<QByteArray> parts = line.simplified().split(' ');
        const auto refuse = [&](const QString& why) {
            return EFadelinkError(
                QStringLiteral("The tokens file %1, line %2: %3").arg(fileName).arg(lineNumber).arg(why));
        };
        if (parts.size() != 3)
            throw refuse(QStringLiteral("expected NAME ROLE TOKEN"));
        TApiToken token;
        token.Name = QString::fromUtf8(parts[0]);
        if (!kName.match(token.Name).hasMatch())
            throw refuse(QStringLiteral("a name is 1 to 64 of A-Z a-z 0-9 . _ @ -"));
        if (parts[1] == "control")
            token.Role = TApiRole::Control;
        else if (parts[1] == "monitor")
            token.Role = TApiRole::Monitor;
        else
            throw refuse(QStringLiteral("the role is monitor or control"));
        token.Secret = parts[2];
        if (token.Secret.size() < MinSecretLength)
            throw refuse(QStringLiteral("a token has at least %1 characters").arg(MinSecretLength));
        if (names.contains(token.Name) || secrets.contains(token.Secret))
            throw refuse(QStringLiteral("a name or token appears twice"));
        names.insert(token.Name);
        secrets.insert(token.Secret);
        tokens.Add(token);
    }
    if (tokens.IsEmpty())
        throw EFadelinkError(QStringLiteral("The tokens file %1 holds no token").arg(fileName));
    return tokens;
}

TApiTokens TApiTokens::Generate(const QString& fileName) {
    QByteArray random(32, '\0');
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32*>(random.data()), random.size() / 4);
    TApiToken token;
    token.Name = QStringLiteral("local");
    token.Role = TApiRole::Control;
    token.Secret = random.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);

    // Created private from the first byte: never a moment in which others could read it.
    const QString folder = QFileInfo(fileName).path();
    QDir().mkpath(folder);
    QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    const QByteArray path = QFile::encodeName(fileName);
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    const QByteArray line = token.Name.toUtf8() + " control " + token.Secret + '\n';
    const bool written = fd >= 0 && ::fchmod(fd, 0600) == 0 &&
                         ::write(fd, line.constData(), size_t(line.size())) == ssize_t(line.size());
    const int error = errno;
    if (fd >= 0)
        ::close(fd);
    if (!written)
        throw EFadelinkError(QStringLiteral("Cannot write the token file %1: %2")
                                 .arg(fileName, QString::fromLocal8Bit(strerror(error))));
    TApiTokens tokens;
    tokens.Add(token);
    return tokens;
}

const TApiToken* TApiTokens::Find(const QByteArray& secret) const {
    const TApiToken* found = nullptr;
    for (const TApiToken& token : FTokens)
        if (SameSecret(token.Secret, secret) && !found)
            found = &token;
    return found;
}

QString DefaultTokenFile(quint16 port) {
    // The user's runtime folder; without one, a folder of the user's own in the temporary folder.
    QString folder = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        folder = QDir::tempPath() + QStringLiteral("/fadelink-%1").arg(::getuid());
    return folder + QStringLiteral("/fadelink/api-token-%1").arg(port);
}
