#include "model/FindIPUnit.h"

#include "device/DeviceUnit.h"
#include "model/GroupUnit.h"
#include "model/GroupsUnit.h"

#include <QPointer>

namespace {
QPointer<TGroups> gCurrent;
}

void SetCurrentRegistry(TGroups* registry) {
    gCurrent = registry;
}

TGroups* CurrentRegistry() {
    return gCurrent.data();
}

bool IPAddressInUse(const QString& text) {
    const TGroups* registry = CurrentRegistry();
    if (!registry)
        return false;
    for (const TGroup* group : registry->Groups())
        for (const TDevice* device : group->Devices())
            if (device->IPAddress() == text)
                return true;
    return false;
}
