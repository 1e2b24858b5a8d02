#include "device/LoopbackGuard.h"

#include <QHostAddress>

namespace {
std::atomic<bool> gLoopbackOnly{false};
}

void SetLoopbackOnly(bool on) {
    gLoopbackOnly.store(on);
}

bool LoopbackOnly() {
    return gLoopbackOnly.load();
}

bool IsLoopbackAddress(const QString& host) {
    // Strictly four dotted decimal parts: QHostAddress would also take forms such as "127.1"
    // or "0x7f.1", which a resolver might treat differently.
    const QStringList parts = host.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return false;
    int values[4];
    for (int i = 0; i < 4; ++i) {
        const QString& p = parts[i];
        if (p.isEmpty() || p.size() > 3)
            return false;
        for (QChar c : p)
            if (c.unicode() < '0' || c.unicode() > '9')
                return false;
        values[i] = p.toInt();
        if (values[i] > 255)
            return false;
    }
    return values[0] == 127;
}
