#include "device/DeviceSearch.h"

#include "device/DeviceStatus.h"
#include "device/DeviceUnit.h"
#include "device/HttpGet.h"
#include "device/Protocol.h"
#include "device/StopToken.h"
#include "device/ThreadName.h"
#include "device/WorkQueue.h"
#include "device/pingunit.h"
#include "model/Errors.h"
#include "model/logging.h"

#include <QRegularExpression>

#include <atomic>
#include <functional>
#include <system_error>

struct TDeviceSearch::TWalk {
    QStringList Addresses; // set before the thread starts, only read afterwards
    std::atomic<bool> Stop{false};
    TDeviceSearch* Owner = nullptr; // user-interface thread only; cleared when the owner goes
};

namespace {
// Runs `work` with the search on the user-interface thread, unless the search is gone by then.
template <typename TWalkPtr> void Deliver(const TWalkPtr& walk, std::function<void(TDeviceSearch&)> work) {
    UserInterfaceQueue().Post([walk, work = std::move(work)] {
        if (walk->Owner)
            work(*walk->Owner);
    });
}

// The probe and the status request of one address (search thread).
std::optional<TFoundDevice> ProbeAddress(const QString& address) {
    if (!PingHost(address)) {
        qCDebug(lcSearch, "%s not found: no answer to the probe", qPrintable(address));
        return std::nullopt;
    }
    QByteArray body;
    if (StopToken::Requested() || !HttpGet(address + StatusPath, body)) {
        qCDebug(lcSearch, "%s not found: no status block (the fetch failed or was stopped)",
                qPrintable(address));
        return std::nullopt;
    }
    QString why;
    std::optional<TFoundDevice> device = FoundDeviceOf(address, body, &why);
    if (!device)
        qCDebug(lcSearch, "%s not found: %s", qPrintable(address), qPrintable(why));
    return device;
}

// A number of an address: one to three decimal digits, 0 ... 255.
std::optional<int> AddressNumber(const QString& text) {
    static const QRegularExpression digits(QStringLiteral("^[0-9]{1,3}$"));
    if (!digits.match(text).hasMatch())
        return std::nullopt;
    const int value = text.toInt();
    return value <= 255 ? std::optional<int>(value) : std::nullopt;
}

// The four numbers of a dotted address.
std::optional<std::array<int, 4>> AddressNumbers(const QString& text) {
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return std::nullopt;
    std::array<int, 4> numbers{};
    for (int i = 0; i < 4; ++i) {
        const std::optional<int> number = AddressNumber(parts[i]);
        if (!number)
            return std::nullopt;
        numbers[size_t(i)] = *number;
    }
    return numbers;
}
} // namespace

QString TFoundDevice::Line() const {
    return IPAddress + QStringLiteral(" X") + Model + QStringLiteral(" [") + GroupCode +
           QStringLiteral("] [") + DeviceName + QStringLiteral("]");
}

std::optional<TFoundDevice> FoundDeviceOf(const QString& address, const QByteArray& body, QString* why) {
    TDeviceStatus status = TDeviceStatus::Initial();
    if (!TDeviceStatus::FromBody(body, status)) {
        if (why)
            *why = QStringLiteral("a body of %1 bytes is no status block").arg(body.size());
        return std::nullopt;
    }
    if (!FindModelLimits(status.PD_Model.Bytes())) {
        if (why)
            *why = QStringLiteral("model \"%1\" is none the program knows").arg(status.PD_Model.Text());
        return std::nullopt;
    }
    TFoundDevice found;
    found.IPAddress = address;
    found.Model = status.PD_Model.Text();
    found.GroupCode = status.PD_GroupName.Text();
    found.DeviceName = status.PD_DeviceName.Text();
    found.Volume_A = LevelFromCode(status.PD_CHA_Volume);
    found.Volume_B = LevelFromCode(status.PD_CHB_Volume);
    found.Sensitivity_A = LevelFromCode(status.PD_CHA_Sensitivity);
    found.Sensitivity_B = LevelFromCode(status.PD_CHB_Sensitivity);
    found.Limiter_A = status.PD_CHA_Limiter;
    found.Limiter_B = status.PD_CHB_Limiter;
    found.Mute_A = status.PD_CHA_Mute_Off == 0;
    found.Mute_B = status.PD_CHB_Mute_Off == 0;
    return found;
}

QString SearchEndText(int found, bool stopped) {
    return (stopped ? QStringLiteral("Search stopped: ") : QStringLiteral("Search finished: ")) +
           QString::number(found) +
           (found == 1 ? QStringLiteral(" amplifier found") : QStringLiteral(" amplifiers found"));
}

QStringList SearchAddresses(const std::array<int, 3>& prefix, int first, int last) {
    QStringList addresses;
    const QString head = QStringLiteral("%1.%2.%3.").arg(prefix[0]).arg(prefix[1]).arg(prefix[2]);
    for (int n = first; n <= last; ++n)
        addresses.append(head + QString::number(n));
    return addresses;
}

std::optional<QStringList> ParseAddressRange(const QString& text, QString* error) {
    const auto fail = [error](const QString& reason) {
        if (error)
            *error = reason;
        return std::nullopt;
    };
    const QStringList ends = text.split(QLatin1Char('-'));
    const std::optional<std::array<int, 4>> first = ends.size() == 2 ? AddressNumbers(ends[0]) : std::nullopt;
    if (!first)
        return fail(QStringLiteral("a range is FIRST-LAST, such as 127.0.14.1-127.0.14.9 or 127.0.14.1-9"));
    std::optional<std::array<int, 4>> last = AddressNumbers(ends[1]);
    if (!last) {
        const std::optional<int> number = AddressNumber(ends[1]);
        if (!number)
            return fail(
                QStringLiteral("a range is FIRST-LAST, such as 127.0.14.1-127.0.14.9 or 127.0.14.1-9"));
        last = std::array<int, 4>{(*first)[0], (*first)[1], (*first)[2], *number};
    }
    if ((*first)[0] != (*last)[0] || (*first)[1] != (*last)[1] || (*first)[2] != (*last)[2])
        return fail(QStringLiteral("both ends of a range must share their first three numbers"));
    if ((*last)[3] < (*first)[3])
        return fail(QStringLiteral("the last address of a range may not be below the first"));
    return SearchAddresses({(*first)[0], (*first)[1], (*first)[2]}, (*first)[3], (*last)[3]);
}

TDeviceSearch::TDeviceSearch(QObject* parent) : QObject(parent) {
    UserInterfaceQueue(); // made on this thread, where the results are to arrive
}

TDeviceSearch::~TDeviceSearch() {
    if (FWalk) {
        FWalk->Owner = nullptr;
        FWalk->Stop.store(true, std::memory_order_release);
    }
    if (FThread.joinable())
        FThread.join();
}

bool TDeviceSearch::Start(const QStringList& addresses) {
    if (FRunning)
        return false;
    if (FThread.joinable())
        FThread.join(); // the last walk has delivered its end and is leaving
    auto walk = std::make_shared<TWalk>();
    walk->Addresses = addresses;
    walk->Owner = this;
    try {
        FThread = std::thread(&TDeviceSearch::Walk, walk);
    } catch (const std::system_error& error) {
        const QString reason = QString::fromLocal8Bit(error.code().message().c_str());
        qCDebug(lcSearch, "no search: the system refused a new thread (%s)", qPrintable(reason));
        throw EFadelinkError(
            QStringLiteral("The search could not start: the system refused a new thread (%1)").arg(reason));
    }
    FWalk = std::move(walk);
    FRunning = true;
    return true;
}

void TDeviceSearch::Stop() {
    if (FWalk)
        FWalk->Stop.store(true, std::memory_order_release);
}

void TDeviceSearch::Walk(const std::shared_ptr<TWalk>& walk) {
    StopToken::SetCurrent(&walk->Stop);
    int found = 0;
    for (const QString& address : walk->Addresses) {
        if (StopToken::Requested())
            break;
        NameThisThread(QStringLiteral("s:") + address);
        Deliver(walk, [address](TDeviceSearch& search) { emit search.Probing(address); });
        if (std::optional<TFoundDevice> device = ProbeAddress(address)) {
            ++found;
            Deliver(walk,
                    [device = std::move(*device)](TDeviceSearch& search) { emit search.Found(device); });
        }
    }
    const bool stopped = StopToken::Requested();
    StopToken::SetCurrent(nullptr);
    Deliver(walk, [found, stopped](TDeviceSearch& search) {
        search.FRunning = false;
        emit search.Finished(found, stopped);
    });
}
