#include "device/ThreadName.h"

#include <pthread.h>

namespace {
// The kernel's limit, without the terminating NUL.
constexpr int kMaxNameBytes = 15;
} // namespace

void NameThisThread(const QString& name) {
    QByteArray bytes = name.toUtf8();
    if (bytes.size() > kMaxNameBytes) {
        // Cut before the first byte that does not fit, or before the start of the character
        // that byte continues.
        int cut = kMaxNameBytes;
        while (cut > 0 && (static_cast<unsigned char>(bytes.at(cut)) & 0xC0) == 0x80)
            --cut;
        bytes.truncate(cut);
    }
    pthread_setname_np(pthread_self(), bytes.constData());
}

QString ThisThreadName() {
    char name[kMaxNameBytes + 1] = {};
    if (pthread_getname_np(pthread_self(), name, sizeof name) != 0)
        return QString();
    return QString::fromUtf8(name);
}
