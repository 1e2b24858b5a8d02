#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QString>

// A budget of requests per client and second: each client may burst up to `perSecond` requests,
// and gains them back at `perSecond` a second. Clients not seen for a while are forgotten, so that
// the table stays as small as the set of recent clients.
class TRateLimiter {
public:
    explicit TRateLimiter(int perSecond);
    // Spends one request of `client`; false when its budget is spent.
    bool Admit(const QString& client);
    // Milliseconds from the start of the limiter: a test moves time with its own clock.
    void SetClock(qint64 (*clock)()) { FClock = clock; }

private:
    struct TBucket {
        double Tokens = 0;
        qint64 LastMs = 0;
    };
    qint64 NowMs() const { return FClock ? FClock() : FTimer.elapsed(); }
    void Forget(qint64 now);

    const double FPerSecond;
    QHash<QString, TBucket> FBuckets;
    QElapsedTimer FTimer;
    qint64 FLastForgetMs = 0;
    qint64 (*FClock)() = nullptr;
};
