#include "device/EchoSocket.h"

#include "device/Protocol.h"
#include "device/StopToken.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <linux/icmp.h>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <unordered_map>
#include <vector>

namespace {
// How long one probe reads the socket, or sleeps while another reads it, before it looks at its
// stop request and its deadline again.
constexpr auto Slice = std::chrono::milliseconds(StopCheckSliceMs);
// Room for the replies that arrive while no probe happens to be reading.
constexpr int ReceiveBufferBytes = 1 << 20;

void StoreWord(unsigned char* bytes, std::uint16_t value) {
    bytes[0] = static_cast<unsigned char>(value >> 8);
    bytes[1] = static_cast<unsigned char>(value & 0xff);
}

std::uint16_t Word(const unsigned char* bytes) {
    return static_cast<std::uint16_t>(bytes[0] << 8 | bytes[1]);
}

bool IsPermissionRefusal(int error) {
    return error == EACCES || error == EPERM || error == EPROTONOSUPPORT || error == ESOCKTNOSUPPORT ||
           error == EAFNOSUPPORT;
}

struct TReply {
    std::uint16_t Sequence;
    std::uint32_t Sender;
};

class TSharedEchoSocket {
public:
    static TSharedEchoSocket& Instance() {
        // Never destroyed: a poll thread may still be probing while the process exits.
        static TSharedEchoSocket* const instance = new TSharedEchoSocket;
        return *instance;
    }

    TEchoOutcome Echo(std::uint32_t address, TSocketClock::time_point deadline);

private:
    struct TWaiter {
        std::uint32_t Address = 0;
        bool Replied = false;
        std::condition_variable Wake;
    };

    bool OpenLocked(int& error);
    // Reads every reply waiting in the socket; when there is none, waits for one until `until`.
    std::vector<TReply> Read(int fd, std::uint16_t identifier, TSocketClock::time_point until) const;
    void DeliverLocked(const std::vector<TReply>& replies);

    std::mutex FMutex;
    int FFd = -1;
    pid_t FOwner = 0;      // the process that opened FFd: a forked child opens its own
    bool FReading = false; // a probe is reading the socket
    std::uint16_t FLastSequence = 0;
    std::unordered_map<std::uint16_t, TWaiter*> FWaiters;
};

bool TSharedEchoSocket::OpenLocked(int& error) {
    const pid_t self = ::getpid();
    if (FFd >= 0 && FOwner == self)
        return true;
    if (FFd >= 0) {
        // Inherited through a fork: the parent's probes read it; this process needs its own.
        ::close(FFd);
        FFd = -1;
        FWaiters.clear();
        FReading = false;
    }
    const int fd = ::socket(AF_INET, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd < 0) {
        error = errno;
        return false;
    }
    // Only echo replies: the kernel drops every other kind before queuing it here.
    icmp_filter filter{};
    filter.data = ~(1U << ICMP_ECHOREPLY);
    ::setsockopt(fd, SOL_RAW, ICMP_FILTER, &filter, sizeof filter);
    const int size = ReceiveBufferBytes;
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) != 0)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    FFd = fd;
    FOwner = self;
    return true;
}

std::vector<TReply> TSharedEchoSocket::Read(int fd, std::uint16_t identifier,
                                            TSocketClock::time_point until) const {
    std::vector<TReply> replies;
    bool waited = false;
    for (;;) {
        unsigned char message[128];
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        const ssize_t got =
            ::recvfrom(fd, message, sizeof message, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK)
                return replies;
            if (!replies.empty() || waited)
                return replies;
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(until - TSocketClock::now());
            pollfd entry{fd, POLLIN, 0};
            if (left.count() > 0)
                ::poll(&entry, 1, static_cast<int>(left.count()));
            waited = true;
            continue;
        }
        // The raw socket hands over the IP header too.
        if (got < 1)
            continue;
        const std::size_t offset = static_cast<std::size_t>(message[0] & 0x0f) * 4;
        if (static_cast<std::size_t>(got) < offset + EchoHeaderSize)
            continue;
        const unsigned char* answer = message + offset;
        if (answer[0] != ICMP_ECHOREPLY || Word(answer + 4) != identifier)
            continue;
        replies.push_back({Word(answer + 6), from.sin_addr.s_addr});
    }
}

void TSharedEchoSocket::DeliverLocked(const std::vector<TReply>& replies) {
    for (const TReply& reply : replies) {
        const auto found = FWaiters.find(reply.Sequence);
        if (found == FWaiters.end() || found->second->Address != reply.Sender || found->second->Replied)
            continue;
        found->second->Replied = true;
        found->second->Wake.notify_one();
    }
}

TEchoOutcome TSharedEchoSocket::Echo(std::uint32_t address, TSocketClock::time_point deadline) {
    std::unique_lock<std::mutex> lock(FMutex);
    int error = 0;
    if (!OpenLocked(error))
        return IsPermissionRefusal(error) ? TEchoOutcome::NotPermitted : TEchoOutcome::NoReply;
    const int fd = FFd;
    const std::uint16_t identifier = static_cast<std::uint16_t>(::getpid());
    // A sequence number no waiting probe holds, so that every reply has one owner.
    std::uint16_t sequence = FLastSequence;
    do
        ++sequence;
    while (FWaiters.count(sequence));
    FLastSequence = sequence;
    TWaiter self;
    self.Address = address;
    FWaiters.emplace(sequence, &self);
    lock.unlock();

    unsigned char request[EchoHeaderSize];
    BuildEchoRequest(request, identifier, sequence);
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_addr.s_addr = address;
    const bool sent = ::sendto(fd, request, sizeof request, 0, reinterpret_cast<const sockaddr*>(&target),
                               sizeof target) == static_cast<ssize_t>(sizeof request);

    lock.lock();
    while (sent && !self.Replied && !StopToken::Requested()) {
        const auto now = TSocketClock::now();
        if (now >= deadline)
            break;
        const auto until = std::min(deadline, now + Slice);
        if (FReading) {
            self.Wake.wait_until(lock, until);
            continue;
        }
        FReading = true;
        lock.unlock();
        const std::vector<TReply> replies = Read(fd, identifier, until);
        lock.lock();
        FReading = false;
        DeliverLocked(replies);
    }
    FWaiters.erase(sequence);
    // A probe still waiting may be asleep while nobody reads: one of them takes over.
    if (!FReading && !FWaiters.empty())
        FWaiters.begin()->second->Wake.notify_one();
    return self.Replied ? TEchoOutcome::Reply : TEchoOutcome::NoReply;
}
} // namespace

void BuildEchoRequest(unsigned char (&request)[EchoHeaderSize], std::uint16_t identifier,
                      std::uint16_t sequence) {
    std::fill(std::begin(request), std::end(request), 0);
    request[0] = ICMP_ECHO;
    StoreWord(request + 4, identifier);
    StoreWord(request + 6, sequence);
    // The Internet checksum over the whole message, stored at bytes 2 and 3.
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i + 1 < EchoHeaderSize; i += 2)
        sum += Word(request + i);
    while (sum >> 16)
        sum = (sum & 0xffff) + (sum >> 16);
    StoreWord(request + 2, static_cast<std::uint16_t>(~sum & 0xffff));
}

TEchoOutcome SharedRawEcho(std::uint32_t address, TSocketClock::time_point deadline) {
    return TSharedEchoSocket::Instance().Echo(address, deadline);
}
