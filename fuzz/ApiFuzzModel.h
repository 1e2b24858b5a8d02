#pragma once

// The project the control API fuzz targets drive: two groups (MAIN with its volumes locked), two
// devices without poll threads, and the checks that every request must leave true.

#include "api/ApiModel.h"
#include "device/DeviceUnit.h"
#include "fuzz/FuzzSupport.h"
#include "model/ChangeFeed.h"
#include "model/GroupUnit.h"
#include "model/GroupsUnit.h"

#include <QString>

#include <memory>

struct TApiFuzzModel {
    TApiFuzzModel() {
        HoldToLoopbackWithoutPollThreads();
        QObject::connect(&Feed, &TChangeFeed::Changed,
                         [this](const TModelChange& c) { Sources.append(c.Source); });
        Reset();
    }
    // A fresh project for each input, so that one input never depends on the one before.
    void Reset() {
        Registry = std::make_unique<TGroups>();
        TGroup* main = Registry->FindOrAddGroup(QStringLiteral("Main"), QStringLiteral("MAIN"));
        main->SetVolume_Lock(true);
        main->SetVolume_A(-20);
        main->SetVolume_B(-20);
        main->SetLimiter_A(100);
        main->SetLimiter_B(100);
        new TDevice(main, QStringLiteral("127.0.0.5"), QStringLiteral("Amp"), QStringLiteral("AMP01"));
        TGroup* side = Registry->FindOrAddGroup(QStringLiteral("Side"), QStringLiteral("SIDE"));
        new TDevice(side, QStringLiteral("127.0.0.6"), QStringLiteral("Amp"), QStringLiteral("AMP02"));
        Feed.Follow(Registry.get());
        Sources.clear();
    }
    // Everything a client can change, as one text.
    QString State() const {
        QString text = QString::number(Registry->Volume()) + QString::number(Registry->Mute());
        for (const TGroup* g : Registry->Groups())
            text += QStringLiteral("|%1 %2 %3 %4 %5 %6 %7%8%9")
                        .arg(g->Volume_A())
                        .arg(g->Volume_B())
                        .arg(g->Sensitivity_A())
                        .arg(g->Sensitivity_B())
                        .arg(g->Limiter_A())
                        .arg(g->Limiter_B())
                        .arg(g->Volume_Lock())
                        .arg(g->Sensitivity_Lock())
                        .arg(g->Limiter_Lock()) +
                    QString::number(g->Mute());
        for (const TGroup* g : Registry->Groups())
            for (const TDevice* d : g->Devices())
                text += QStringLiteral("|%1%2").arg(d->Mute_CHA()).arg(d->Mute_CHB());
        return text;
    }
    // Levels within the faders' ranges, locked pairs equal, and every change made by `client`
    // through the model's setters.
    void CheckInvariants(const QString& client) const {
        for (const TChangeSource& source : Sources)
            FuzzCheck(source == TChangeSource::Remote(client), "every change carries the client's name");
        FuzzCheck(Registry->Volume() >= TApiModel::MinGlobalVolume &&
                      Registry->Volume() <= TApiModel::MaxGlobalVolume,
                  "the global volume stays within the global fader's range");
        for (const TGroup* g : Registry->Groups()) {
            for (double level : {g->Volume_A(), g->Volume_B(), g->Sensitivity_A(), g->Sensitivity_B()})
                FuzzCheck(level >= TApiModel::MinLevel && level <= TApiModel::MaxLevel,
                          "levels stay within -95.5 ... 0");
            for (double limiter : {g->Limiter_A(), g->Limiter_B()})
                FuzzCheck(limiter >= TApiModel::MinLimiter && limiter <= TApiModel::MaxLimiter,
                          "limiters stay within 10 ... 170");
            FuzzCheck(!g->Volume_Lock() || g->Volume_A() == g->Volume_B(),
                      "a locked volume pair stays equal");
            FuzzCheck(!g->Sensitivity_Lock() || g->Sensitivity_A() == g->Sensitivity_B(),
                      "a locked sensitivity pair stays equal");
            FuzzCheck(!g->Limiter_Lock() || g->Limiter_A() == g->Limiter_B(),
                      "a locked limiter pair stays equal");
        }
    }
    std::unique_ptr<TGroups> Registry;
    TChangeFeed Feed;
    QList<TChangeSource> Sources;
    TApiModel Model{[this] { return Registry.get(); }};
};
