#include "device/HostLookup.h"

#include "device/LoopbackGuard.h"

#include <QStringList>

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

namespace {
// Four decimal parts, as IsLoopbackAddress reads them: the resolver would read "010" as octal.
bool ParseDottedQuad(const QString& host, std::uint32_t& networkOrderAddress) {
    const QStringList parts = host.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return false;
    std::uint32_t value = 0;
    for (const QString& part : parts) {
        if (part.isEmpty() || part.size() > 3)
            return false;
        int number = 0;
        for (QChar c : part) {
            if (c.unicode() < '0' || c.unicode() > '9')
                return false;
            number = number * 10 + (c.unicode() - '0');
        }
        if (number > 255)
            return false;
        value = (value << 8) | static_cast<std::uint32_t>(number);
    }
    networkOrderAddress = htonl(value);
    return true;
}

bool LookUpName(const QString& host, std::uint32_t& networkOrderAddress) {
    const QByteArray name = host.toUtf8();
    if (name.isEmpty() || name.contains('\0'))
        return false;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(name.constData(), nullptr, &hints, &found) != 0 || !found)
        return false;
    bool ok = false;
    for (const addrinfo* entry = found; entry; entry = entry->ai_next) {
        if (entry->ai_family == AF_INET && entry->ai_addr) {
            networkOrderAddress = reinterpret_cast<const sockaddr_in*>(entry->ai_addr)->sin_addr.s_addr;
            ok = true;
            break;
        }
    }
    freeaddrinfo(found);
    return ok;
}
} // namespace

bool ResolveIPv4(const QString& host, std::uint32_t& networkOrderAddress) {
    if (!HostAllowed(host))
        return false;
    std::uint32_t address = 0;
    if (!ParseDottedQuad(host, address)) {
        // A name is never looked up under the guard, whatever HostAllowed says.
        if (LoopbackOnly() || !LookUpName(host, address))
            return false;
    }
    if (LoopbackOnly() && (ntohl(address) >> 24) != 127)
        return false;
    networkOrderAddress = address;
    return true;
}
