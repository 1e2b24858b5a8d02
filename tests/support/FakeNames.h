#pragma once

// Host names answered without any name server, for tests of addresses given by name:
// "A.B.C.D.test" is the address A.B.C.D; "stuck.A.B.C.D.test" answers the same only once Release
// is called (or after 30 s); any other name is unknown. Installed for the fixture's lifetime.

#include "device/HostLookup.h"

#include <QHostAddress>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

struct TFakeNames {
    TFakeNames() {
        Free = false;
        Count = 0;
        SetNameLookup(&Lookup);
    }
    ~TFakeNames() {
        Release();
        SetNameLookup(nullptr);
        SetNameWaitLimitMs(0);
    }
    static void Release() {
        std::lock_guard<std::mutex> lock(Mutex);
        Free = true;
        Released.notify_all();
    }
    static int Lookups() { return Count; }

    static bool Lookup(const QByteArray& name, std::uint32_t& networkOrderAddress) {
        ++Count;
        QByteArray text = name;
        if (text.startsWith("stuck.")) {
            std::unique_lock<std::mutex> lock(Mutex);
            Released.wait_for(lock, std::chrono::seconds(30), [] { return Free.load(); });
            text = text.mid(6);
        }
        if (!text.endsWith(".test"))
            return false;
        bool ok = false;
        networkOrderAddress = htonl(QHostAddress(QString::fromLatin1(text.chopped(5))).toIPv4Address(&ok));
        return ok;
    }
    static inline std::mutex Mutex;
    static inline std::condition_variable Released;
    static inline std::atomic<bool> Free{false};
    static inline std::atomic<int> Count{0};
};
