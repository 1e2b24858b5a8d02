#pragma once

// Simulated amplifiers for the tests of the device search: one per entry, each on
// BLOCK<Host>:80 with the identity, settings and faults the entry gives.

#include "tools/ampsim/AmpRack.h"

#include <QList>
#include <QStringList>

#include <array>
#include <memory>

struct TAmp {
    int Host;
    QByteArray Model = "KV-30";
    QByteArray Group = "STAGE";
    QByteArray Name = "AMP01";
    int BodySize = -1; // the status block cut or padded to this size when >= 0
    std::array<std::uint8_t, 6> Settings{{151, 151, 191, 191, 100, 100}};
    bool MuteA = false;
    bool Garbage = false;     // answers bytes that are not HTTP
    bool NeverAnswer = false; // reads the request and never answers
};

// Starts the amplifiers on `block` (such as "127.0.14."); a test cannot go on without them.
inline std::unique_ptr<TAmpRack> StartRack(const QString& block, const QList<TAmp>& amps) {
    auto rack = std::make_unique<TAmpRack>();
    for (const TAmp& amp : amps) {
        TAmpConfig config = TAmpConfig::At(block + QString::number(amp.Host));
        config.State.Model = amp.Model;
        config.State.GroupName = amp.Group;
        config.State.DeviceName = amp.Name;
        config.State.Settings = amp.Settings;
        config.State.MuteA = amp.MuteA;
        config.TimeScale = 0;
        TAmpSim& sim = rack->Add(config);
        TAmpFaults faults;
        faults.StatusBodySize = amp.BodySize;
        faults.Garbage = amp.Garbage;
        faults.NeverAnswer = amp.NeverAnswer;
        sim.SetFaults(faults);
    }
    if (!rack->Start())
        qFatal("the simulated amplifiers did not start: %s", qPrintable(rack->ErrorString()));
    return rack;
}

// How many requests each amplifier of the rack received, in rack order.
inline QList<int> RequestCounts(const TAmpRack& rack) {
    QList<int> counts;
    for (int i = 0; i < rack.Count(); ++i)
        counts << rack.Amp(i).RequestCount();
    return counts;
}
