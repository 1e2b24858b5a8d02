#pragma once

#include <QByteArray>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QStringList>

#include <array>
#include <memory>
#include <optional>
#include <thread>

// An amplifier the search found: where it is, what it calls itself, and what it plays (levels in
// dB and limiters in volts as it reports them, and its mutes).
struct TFoundDevice {
    QString IPAddress;
    QString Model;      // "KV-20", "KV-30" or "KV-40"
    QString GroupCode;  // as reported, blanks included
    QString DeviceName; // as reported, blanks included
    double Volume_A = 0;
    double Volume_B = 0;
    double Sensitivity_A = 0;
    double Sensitivity_B = 0;
    double Limiter_A = 0;
    double Limiter_B = 0;
    bool Mute_A = false;
    bool Mute_B = false;

    // The line the search lists: "address X<model> [<group code>] [<device name>]".
    QString Line() const;
};
Q_DECLARE_METATYPE(TFoundDevice)

// What the amplifier at `address` answered to the status request: an amplifier when `body` is a
// status block of a known model, else nothing and `why` (when given) says what it was instead.
std::optional<TFoundDevice> FoundDeviceOf(const QString& address, const QByteArray& body,
                                          QString* why = nullptr);

// What a search says at its end: "Search finished: 3 amplifiers found", "Search stopped: 1
// amplifier found".
QString SearchEndText(int found, bool stopped);

// The addresses a search walks: prefix[0].prefix[1].prefix[2].n for n from first to last,
// ascending; none when last < first.
QStringList SearchAddresses(const std::array<int, 3>& prefix, int first, int last);

// The addresses of a range written FIRST-LAST: "127.0.14.1-127.0.14.9", or with the last number
// alone, "127.0.14.1-9". Each number is 0 ... 255 in one to three decimal digits; both ends share
// their first three numbers (so a range holds at most 256 addresses) and LAST is not below FIRST.
// Nothing, with `error` saying why, for anything else.
std::optional<QStringList> ParseAddressRange(const QString& text, QString* error = nullptr);

// The device search: walks a list of addresses, one after the other, on a thread of its own. It
// probes each address and asks every one that answers for its status block, and reports each
// amplifier of a known model it finds. Lives on the user-interface thread, where its signals
// arrive; it never runs a nested event loop.
class TDeviceSearch : public QObject {
    Q_OBJECT
public:
    explicit TDeviceSearch(QObject* parent = nullptr);
    // Stops a walk under way and waits for its thread, which abandons its address within about
    // 100 ms; no signal comes afterwards.
    ~TDeviceSearch() override;

    // Starts walking `addresses` in order. False, and nothing starts, while a walk is running (up to
    // its Finished). Raises EFadelinkError when the system refuses the thread.
    bool Start(const QStringList& addresses);
    // Asks the walk to stop and returns at once: the address under way is abandoned within about
    // 100 ms, no later one is probed, and Finished(found, true) follows.
    void Stop();
    bool Running() const { return FRunning; }

signals:
    // The walk has come to `address`.
    void Probing(const QString& address);
    void Found(const TFoundDevice& device);
    // The walk has ended: `found` amplifiers reported, `stopped` when Stop cut it short.
    void Finished(int found, bool stopped);

private:
    struct TWalk;
    // The thread's work.
    static void Walk(const std::shared_ptr<TWalk>& walk);

    std::shared_ptr<TWalk> FWalk;
    std::thread FThread;
    bool FRunning = false;
};
