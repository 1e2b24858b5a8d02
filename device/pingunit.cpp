#include "device/pingunit.h"

#include "device/HostLookup.h"
#include "device/SocketWait.h"
#include "device/StopToken.h"

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

constexpr std::size_t EchoHeaderSize = 8;
constexpr auto ProbeTimeout = std::chrono::milliseconds(100);

std::atomic<TPingFunction> gPingFunction{nullptr};
std::atomic<TPingMethod> gPingMethod{TPingMethod::Automatic};
std::atomic<bool> gTcpFallbackLogged{false};
std::atomic<std::uint32_t> gSequence{0};

enum class TOutcome { Reply, NoReply, NotPermitted };

// Refusals that mean "this kind of socket is not for this user", as opposed to a shortage.
bool IsPermissionRefusal(int error) {
    return error == EACCES || error == EPERM || error == EPROTONOSUPPORT || error == ESOCKTNOSUPPORT ||
           error == EAFNOSUPPORT;
}

void StoreWord(unsigned char* bytes, std::uint16_t value) {
    bytes[0] = static_cast<unsigned char>(value >> 8);
    bytes[1] = static_cast<unsigned char>(value & 0xff);
}

// The Internet checksum of an ICMP message, stored big-endian at bytes 2 and 3.
void StoreChecksum(unsigned char* message, std::size_t length) {
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i + 1 < length; i += 2)
        sum += static_cast<std::uint32_t>(message[i] << 8 | message[i + 1]);
    if (length % 2)
        sum += static_cast<std::uint32_t>(message[length - 1] << 8);
    while (sum >> 16)
        sum = (sum & 0xffff) + (sum >> 16);
    StoreWord(message + 2, static_cast<std::uint16_t>(~sum & 0xffff));
}

std::uint16_t Word(const unsigned char* bytes) {
    return static_cast<std::uint16_t>(bytes[0] << 8 | bytes[1]);
}

sockaddr_in Target(std::uint32_t address, std::uint16_t port) {
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_addr.s_addr = address;
    target.sin_port = htons(port);
    return target;
}

// One echo request with no payload. A datagram socket receives only the replies to its own
// identifier (the kernel chooses it) without the IP header; a raw socket receives every ICMP
// message of the host with the IP header, so there identifier, sequence and sender are checked.
TOutcome IcmpEcho(std::uint32_t address, bool raw, TClock::time_point deadline) {
    TSocketFd socket(
        ::socket(AF_INET, (raw ? SOCK_RAW : SOCK_DGRAM) | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_ICMP));
    if (!socket.Valid())
        return IsPermissionRefusal(errno) ? TOutcome::NotPermitted : TOutcome::NoReply;

    const std::uint16_t identifier = static_cast<std::uint16_t>(::getpid());
    const std::uint16_t sequence = static_cast<std::uint16_t>(gSequence.fetch_add(1) + 1);
    // Type, code, checksum, identifier, sequence; no payload.
    unsigned char request[EchoHeaderSize] = {ICMP_ECHO};
    StoreWord(request + 4, identifier);
    StoreWord(request + 6, sequence);
    StoreChecksum(request, sizeof request);

    const sockaddr_in target = Target(address, 0);
    if (::sendto(socket.Get(), request, sizeof request, 0, reinterpret_cast<const sockaddr*>(&target),
                 sizeof target) < 0)
        return IsPermissionRefusal(errno) && !raw ? TOutcome::NotPermitted : TOutcome::NoReply;

    unsigned char reply[128];
    while (WaitForSocket(socket.Get(), POLLIN, deadline)) {
        for (;;) {
            sockaddr_in from{};
            socklen_t fromLength = sizeof from;
            const ssize_t got = ::recvfrom(socket.Get(), reply, sizeof reply, 0,
                                           reinterpret_cast<sockaddr*>(&from), &fromLength);
            if (got < 0) {
                if (errno == EINTR)
                    continue;
                if (errno == EAGAIN || errno == EWOULDBLOCK)
                    break;
                return TOutcome::NoReply;
            }
            std::size_t offset = 0;
            if (raw) {
                if (got < 1)
                    continue;
                offset = static_cast<std::size_t>(reply[0] & 0x0f) * 4;
                if (from.sin_addr.s_addr != address)
                    continue;
            }
            if (static_cast<std::size_t>(got) < offset + EchoHeaderSize)
                continue;
            const unsigned char* answer = reply + offset;
            if (answer[0] != ICMP_ECHOREPLY || Word(answer + 6) != sequence)
                continue;
            if (raw && Word(answer + 4) != identifier)
                continue;
            return TOutcome::Reply;
        }
    }
    return TOutcome::NoReply;
}

// For users who may open no ICMP socket at all: a connection attempt to port 80 that is
// accepted or refused shows the host is there.
bool TcpProbe(std::uint32_t address, TClock::time_point deadline) {
    TSocketFd socket(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!socket.Valid())
        return false;
    const sockaddr_in target = Target(address, 80);
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

bool Probe(std::uint32_t address, TClock::time_point deadline) {
    switch (gPingMethod.load()) {
    case TPingMethod::IcmpDatagram:
        return IcmpEcho(address, false, deadline) == TOutcome::Reply;
    case TPingMethod::IcmpRaw:
        return IcmpEcho(address, true, deadline) == TOutcome::Reply;
    case TPingMethod::TcpConnect:
        return TcpProbe(address, deadline);
    case TPingMethod::Automatic:
        break;
    }
    TOutcome outcome = IcmpEcho(address, false, deadline);
    if (outcome == TOutcome::NotPermitted)
        outcome = IcmpEcho(address, true, deadline);
    if (outcome != TOutcome::NotPermitted)
        return outcome == TOutcome::Reply;
    if (!gTcpFallbackLogged.exchange(true))
        qWarning("ICMP echo is not permitted for this user; reachability is probed by a TCP "
                 "connection to port 80 instead");
    return TcpProbe(address, deadline);
}
} // namespace

bool PingHost(const QString& address) {
    if (StopToken::Requested())
        return false;
    std::uint32_t target = 0;
    if (!ResolveIPv4(address, target))
        return false;
    return Probe(target, TClock::now() + ProbeTimeout);
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
