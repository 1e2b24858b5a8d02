#include "model/FindIPUnit.h"

#include "device/DeviceUnit.h"
#include "model/GroupUnit.h"
#include "model/GroupsUnit.h"

bool IPAddressInUse(const TGroups& registry, const QString& text) {
    for (const TGroup* group : registry.Groups())
        for (const TDevice* device : group->Devices())
            if (device->IPAddress() == text)
                return true;
    return false;
}
