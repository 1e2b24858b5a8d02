#pragma once

// Host names answered without any name server, for tests of addresses given by name.
// "A.B.C.D.test" is the address A.B.C.D; a name that starts with "stuck." answers the same way,
// but only once the fixture lets it go (or after 30 s); any other name is unknown.

#include "device/HostLookup.h"

#include <QByteArray>
#include <QHostAddress>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

class TFakeNames {
public:
    TFakeNames() {
        {
            std::lock_guard<std::mutex> lock(Mutex);
            Free = false;
        }
        Count.store(0);
        SetNameLookup(&Lookup);
    }
    ~TFakeNames() {
        Release();
        SetNameLookup(nullptr);
        SetNameWaitLimitMs(0);
    }
    TFakeNames(const TFakeNames&) = delete;
    TFakeNames& operator=(const TFakeNames&) = delete;

    static void Release() {
        {
            std::lock_guard<std::mutex> lock(Mutex);
            Free = true;
        }
        Released.notify_all();
    }
    // Look-ups started, and the thread of the last one.
    static int Lookups() { return Count.load(); }
    static std::thread::id LastThread() {
        std::lock_guard<std::mutex> lock(Mutex);
        return Thread;
    }

private:
    static bool Lookup(const QByteArray& name, std::uint32_t& networkOrderAddress) {
        Count.fetch_add(1);
        std::unique_lock<std::mutex> lock(Mutex);
        Thread = std::this_thread::get_id();
        QByteArray text = name;
        if (text.startsWith("stuck.")) {
            Released.wait_for(lock, std::chrono::seconds(30), [] { return Free; });
            text = text.mid(6);
        }
        if (!text.endsWith(".test"))
            return false;
        bool ok = false;
        const QHostAddress address(QString::fromLatin1(text.chopped(5)));
        const quint32 value = address.toIPv4Address(&ok);
        if (ok)
            networkOrderAddress = htonl(value);
        return ok;
    }

    static inline std::mutex Mutex;
    static inline std::condition_variable Released;
    static inline bool Free = false;
    static inline std::atomic<int> Count{0};
    static inline std::thread::id Thread;
};
