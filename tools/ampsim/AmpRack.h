#pragma once

#include "tools/ampsim/AmpSim.h"

#include <QString>

#include <functional>
#include <memory>
#include <vector>

class QThread;
class TWorkQueue;
class TAmpServer;

// A set of simulated amplifiers whose servers all run on one dedicated thread with its own
// event loop, so that a busy or stalled caller never stalls them. Start and stop it from one
// thread (a test's main thread, a program's main); the amplifiers themselves (Amp) may be read
// and changed from any thread. Only addresses in 127.0.0.0/8 are served.
class TAmpRack {
public:
    TAmpRack();
    ~TAmpRack(); // stops the rack

    TAmpRack(const TAmpRack&) = delete;
    TAmpRack& operator=(const TAmpRack&) = delete;

    // Adds an amplifier; only while the rack is stopped.
    TAmpSim& Add(const TAmpConfig& config);

    // Starts the simulator thread and listens on every amplifier's address. On any failure
    // (an address outside loopback, a port that cannot be bound) nothing keeps running, the
    // result is false and ErrorString says why.
    bool Start();
    // Closes every listener and connection and ends the thread. Idempotent.
    void Stop();
    bool Running() const;
    QString ErrorString() const { return FError; }

    int Count() const { return int(FAmps.size()); }
    TAmpSim& Amp(int index) const { return *FAmps.at(size_t(index)); }

    // Makes amplifier `index` stop answering (its port refuses connections and open ones are
    // dropped) or answer again. Returns false when listening again failed or the rack is stopped.
    bool SetAnswering(int index, bool on);
    bool Answering(int index) const;

private:
    std::vector<std::unique_ptr<TAmpSim>> FAmps;
    std::unique_ptr<QThread> FThread;
    // Runs `work` on the simulator thread and waits for it.
    void RunOnRackThread(const std::function<void()>& work) const;

    TWorkQueue* FHost = nullptr; // lives on the simulator thread; parent of the servers
    std::vector<TAmpServer*> FServers;
    QString FError;
};
