#include "api/RateLimiter.h"

#include <algorithm>

namespace {
// A client idle this long has its whole budget back: its entry can go.
constexpr qint64 kForgetAfterMs = 10000;
} // namespace

TRateLimiter::TRateLimiter(int perSecond) : FPerSecond(perSecond) {
    FTimer.start();
}

bool TRateLimiter::Admit(const QString& client) {
    const qint64 now = NowMs();
    if (now - FLastForgetMs > kForgetAfterMs)
        Forget(now);
    auto found = FBuckets.find(client);
    if (found == FBuckets.end())
        found = FBuckets.insert(client, TBucket{FPerSecond, now});
    TBucket& bucket = *found;
    bucket.Tokens = std::min(FPerSecond, bucket.Tokens + double(now - bucket.LastMs) * FPerSecond / 1000.0);
    bucket.LastMs = now;
    if (bucket.Tokens < 1.0)
        return false;
    bucket.Tokens -= 1.0;
    return true;
}

void TRateLimiter::Forget(qint64 now) {
    FLastForgetMs = now;
    for (auto it = FBuckets.begin(); it != FBuckets.end();)
        it = now - it->LastMs > kForgetAfterMs ? FBuckets.erase(it) : std::next(it);
}
