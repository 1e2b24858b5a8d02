#include "device/pingunit.h"

#include "device/EchoSocket.h"
#include "device/HostLookup.h"
#include "device/Protocol.h"
#include "device/SocketWait.h"
#include "device/StopToken.h"
#include "model/logging.h"

#include <QtGlobal>

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <netinet/in.h>
#include <netinet/ip_icmp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>

namespace {
using TClock = TSocketClock;

constexpr auto ProbeTimeout = std::chrono::milliseconds(ProbeTimeoutMs);

std::atomic<TPingFunction> gPingFunction{nullptr};
std::atomic<TPingMethod> gPingMethod{TPingMethod::Automatic};
std::atomic<bool> gTcpFallbackLogged{false};
std::atomic<std::uint32_t> gSequence{0};

// Refusals that mean "this kind of socket is not for this user", as opposed to a shortage.
bool IsPermissionRefusal(int error) {
    return error == EACCES || error == EPERM || error == EPROTONOSUPPORT || error == ESOCKTNOSUPPORT ||
           error == EAFNOSUPPORT;
}

sockaddr_in Target(std::uint32_t address, std::uint16_t port) {
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_addr.s_addr = address;
    target.sin_port = htons(port);
    return target;
}

// One echo request on an ICMP datagram socket of its own. Such a socket receives only the
// replies to its own identifier (the kernel chooses it), without the IP header.
TEchoOutcome DatagramEcho(std::uint32_t address, TClock::time_point deadline) {
    TSocketFd socket(::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_ICMP));
    if (!socket.Valid())
        return IsPermissionRefusal(errno) ? TEchoOutcome::NotPermitted : TEchoOutcome::NoReply;

    const std::uint16_t sequence = static_cast<std::uint16_t>(gSequence.fetch_add(1) + 1);
    unsigned char request[EchoHeaderSize];
    BuildEchoRequest(request, static_cast<std::uint16_t>(::getpid()), sequence);

    const sockaddr_in target = Target(address, 0);
    if (::sendto(socket.Get(), request, sizeof request, 0, reinterpret_cast<const sockaddr*>(&target),
                 sizeof target) < 0)
        return IsPermissionRefusal(errno) ? TEchoOutcome::NotPermitted : TEchoOutcome::NoReply;

    unsigned char reply[128];
    while (WaitForSocket(socket.Get(), POLLIN, deadline)) {
        for (;;) {
            const ssize_t got = ::recv(socket.Get(), reply, sizeof reply, 0);
            if (got < 0) {
                if (errno == EINTR)
                    continue;
                if (errno == EAGAIN || errno == EWOULDBLOCK)
                    break;
                return TEchoOutcome::NoReply;
            }
            if (static_cast<std::size_t>(got) < EchoHeaderSize)
                continue;
            if (reply[0] != ICMP_ECHOREPLY ||
                static_cast<std::uint16_t>(reply[6] << 8 | reply[7]) != sequence)
                continue;
            return TEchoOutcome::Reply;
        }
    }
    return TEchoOutcome::NoReply;
}

// For users who may open no ICMP socket at all: a connection attempt to the amplifier's port
// that is accepted or refused shows the host is there.
bool TcpProbe(std::uint32_t address, std::uint16_t port, TClock::time_point deadline) {
    TSocketFd socket(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!socket.Valid())
        return false;
    const sockaddr_in target = Target(address, port);
    if (::connect(socket.Get(), reinterpret_cast<const sockaddr*>(&target), sizeof target) == 0)
        return true;
    if (errno == ECONNREFUSED)
        return true;
    if (errno != EINPROGRESS)
        return false;
    if (!WaitForSocket(socket.Get(), POLLOUT, deadline))
        return false;
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(socket.Get(), SOL_SOCKET, SO_ERROR, &error, &length) != 0)
        return false;
    return error == 0 || error == ECONNREFUSED;
}

bool Probe(std::uint32_t address, std::uint16_t port, TClock::time_point deadline) {
    switch (gPingMethod.load()) {
    case TPingMethod::IcmpDatagram:
        return DatagramEcho(address, deadline) == TEchoOutcome::Reply;
    case TPingMethod::IcmpRaw:
        return SharedRawEcho(address, deadline) == TEchoOutcome::Reply;
    case TPingMethod::TcpConnect:
        return TcpProbe(address, port, deadline);
    case TPingMethod::Automatic:
        break;
    }
    TEchoOutcome outcome = DatagramEcho(address, deadline);
    if (outcome == TEchoOutcome::NotPermitted)
        outcome = SharedRawEcho(address, deadline);
    if (outcome != TEchoOutcome::NotPermitted)
        return outcome == TEchoOutcome::Reply;
    if (!gTcpFallbackLogged.exchange(true))
        qCWarning(lcProbe, "ICMP echo is not permitted for this user; reachability is probed by a TCP "
                           "connection to the amplifier's port instead");
    return TcpProbe(address, port, deadline);
}
} // namespace

bool PingHost(const QString& address) {
    if (StopToken::Requested())
        return false;
    QString host;
    quint16 port = 80;
    std::uint32_t target = 0;
    if (!SplitHostPort(address, host, port)) {
        qCDebug(lcProbe, "%s not probed: not a host with an optional port", qPrintable(address));
        return false;
    }
    if (!ResolveIPv4(host, target)) {
        qCDebug(lcProbe, "%s not probed: no address for the host", qPrintable(address));
        return false;
    }
    // The limit starts once the address is known: a name's look-up has its own.
    const bool answered = Probe(target, port, TClock::now() + ProbeTimeout);
    if (!answered)
        qCDebug(lcProbe, "%s %s", qPrintable(address),
                StopToken::Requested() ? "probe abandoned: stop requested"
                                       : "no answer to the probe within 100 ms");
    return answered;
}

void SetPingFunction(TPingFunction function) {
    gPingFunction.store(function);
}

bool ProbeHost(const QString& address) {
    const TPingFunction function = gPingFunction.load();
    return function ? function(address) : PingHost(address);
}

void SetPingMethod(TPingMethod method) {
    gPingMethod.store(method);
}
