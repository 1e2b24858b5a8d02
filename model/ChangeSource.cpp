#include "model/ChangeSource.h"

QString TChangeSource::Text() const {
    switch (Kind) {
    case TSourceKind::UserInterface:
        return QStringLiteral("ui");
    case TSourceKind::ProjectFile:
        return QStringLiteral("project");
    case TSourceKind::RemoteClient:
        return QStringLiteral("remote:") + Client;
    case TSourceKind::Schedule:
        return QStringLiteral("schedule");
    case TSourceKind::Amplifier:
        return QStringLiteral("amplifier");
    }
    return QString();
}
