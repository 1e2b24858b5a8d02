#include "device/HostLookup.h"

#include "device/LoopbackGuard.h"
#include "device/Protocol.h"
#include "device/StopToken.h"
#include "device/ThreadName.h"
#include "model/logging.h"

#include <QStringList>

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <unordered_map>

namespace {
using TClock = std::chrono::steady_clock;

// How often a caller waiting for a look-up looks at its stop request.
constexpr auto WaitSlice = std::chrono::milliseconds(StopCheckSliceMs);
// Beyond this many kept answers, those that ran out are dropped.
constexpr std::size_t PruneAbove = 256;

std::atomic<TNameLookup> gLookup{nullptr};
std::atomic<int> gWaitLimitMs{NameWaitMs};

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

bool SystemLookUp(const QByteArray& name, std::uint32_t& networkOrderAddress) {
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

// The kept answers of name look-ups, and the look-ups under way.
class TNameCache {
public:
    static TNameCache& Instance() {
        // Never destroyed: a look-up thread may still be waiting for the resolver at exit.
        static TNameCache* const instance = new TNameCache;
        return *instance;
    }

    bool Resolve(const QByteArray& name, std::uint32_t& networkOrderAddress);
    void Forget();

private:
    struct TAnswer {
        bool Known = false; // some look-up has answered
        bool Found = false;
        std::uint32_t Address = 0;
        TClock::time_point Expires;
        bool InFlight = false;
    };
    using TAnswerPtr = std::shared_ptr<TAnswer>;

    void StartLocked(const QByteArray& name, const TAnswerPtr& answer);
    void Store(const TAnswerPtr& answer, bool found, std::uint32_t address);
    void PruneLocked(TClock::time_point now);

    std::mutex FMutex;
    std::condition_variable FAnswered;
    std::unordered_map<std::string, TAnswerPtr> FAnswers;
};

void TNameCache::Store(const TAnswerPtr& answer, bool found, std::uint32_t address) {
    std::lock_guard<std::mutex> lock(FMutex);
    answer->Known = true;
    answer->Found = found;
    answer->Address = found ? address : 0;
    answer->Expires = TClock::now() + std::chrono::seconds(found ? NameKeepSeconds : NameFailureKeepSeconds);
    answer->InFlight = false;
    FAnswered.notify_all();
}

void TNameCache::StartLocked(const QByteArray& name, const TAnswerPtr& answer) {
    answer->InFlight = true;
    const TNameLookup lookup = gLookup.load();
    try {
        std::thread([this, name, answer, lookup] {
            NameThisThread(QStringLiteral("dns:") + QString::fromUtf8(name));
            std::uint32_t address = 0;
            const bool found = lookup ? lookup(name, address) : SystemLookUp(name, address);
            Store(answer, found, address);
        }).detach();
    } catch (const std::system_error& error) {
        // No thread to spare: a failed look-up, tried again when the failure runs out.
        qCDebug(lcProbe, "%s not looked up: no thread for the look-up (%s)", name.constData(),
                error.code().message().c_str());
        answer->Known = true;
        answer->Found = false;
        answer->Expires = TClock::now() + std::chrono::seconds(NameFailureKeepSeconds);
        answer->InFlight = false;
    }
}

void TNameCache::PruneLocked(TClock::time_point now) {
    if (FAnswers.size() <= PruneAbove)
        return;
    for (auto it = FAnswers.begin(); it != FAnswers.end();) {
        if (!it->second->InFlight && it->second->Expires <= now)
            it = FAnswers.erase(it);
        else
            ++it;
    }
}

bool TNameCache::Resolve(const QByteArray& name, std::uint32_t& networkOrderAddress) {
    const auto deadline = TClock::now() + std::chrono::milliseconds(gWaitLimitMs.load());
    std::unique_lock<std::mutex> lock(FMutex);
    const auto now = TClock::now();
    TAnswerPtr& slot = FAnswers[name.toStdString()];
    if (!slot) {
        PruneLocked(now);
        slot = std::make_shared<TAnswer>();
    }
    const TAnswerPtr answer = slot; // the slot itself may go with a prune or Forget
    if (answer->Known && now < answer->Expires) {
        networkOrderAddress = answer->Address;
        return answer->Found;
    }
    if (!answer->InFlight)
        StartLocked(name, answer);
    if (answer->Known && answer->Found) {
        // Out of date but found before: used while the fresh look-up runs.
        networkOrderAddress = answer->Address;
        return true;
    }
    while (answer->InFlight) {
        const auto at = TClock::now();
        if (StopToken::Requested() || at >= deadline)
            return false;
        FAnswered.wait_until(lock, std::min(deadline, at + WaitSlice));
    }
    networkOrderAddress = answer->Address;
    return answer->Found;
}

void TNameCache::Forget() {
    std::lock_guard<std::mutex> lock(FMutex);
    FAnswers.clear();
}
} // namespace

bool SplitHostPort(const QString& text, QString& host, quint16& port) {
    const qsizetype colon = text.indexOf(QLatin1Char(':'));
    host = colon < 0 ? text : text.left(colon);
    port = 80;
    if (host.isEmpty())
        return false;
    if (colon < 0)
        return true;
    const QString portText = text.mid(colon + 1);
    if (portText.isEmpty() || portText.size() > 5)
        return false;
    int number = 0;
    for (QChar c : portText) {
        if (c.unicode() < '0' || c.unicode() > '9')
            return false;
        number = number * 10 + (c.unicode() - '0');
    }
    if (number < 1 || number > 65535)
        return false;
    port = static_cast<quint16>(number);
    return true;
}

bool ResolveIPv4(const QString& host, std::uint32_t& networkOrderAddress) {
    std::uint32_t address = 0;
    if (!ParseDottedQuad(host, address)) {
        // The system's resolver may ask a name server: under the guard only a replacement, which
        // asks none, may answer for a name.
        if (LoopbackOnly() && !gLookup.load()) {
            qCDebug(lcProbe, "%s not looked up: a name, under the loopback guard", qPrintable(host));
            return false;
        }
        const QByteArray name = host.toUtf8();
        if (name.isEmpty() || name.contains('\0') || !TNameCache::Instance().Resolve(name, address)) {
            qCDebug(lcProbe, "%s not resolved: no such name, no answer within %d ms, or a stop requested",
                    qPrintable(host), gWaitLimitMs.load());
            return false;
        }
    }
    if (LoopbackOnly() && (ntohl(address) >> 24) != 127) {
        qCDebug(lcProbe, "%s refused: outside 127.0.0.0/8, under the loopback guard", qPrintable(host));
        return false;
    }
    networkOrderAddress = address;
    return true;
}

void SetNameLookup(TNameLookup lookup) {
    gLookup.store(lookup);
    TNameCache::Instance().Forget();
}

void SetNameWaitLimitMs(int milliseconds) {
    gWaitLimitMs.store(milliseconds < 1 ? NameWaitMs : milliseconds);
}
