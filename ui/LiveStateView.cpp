#include "ui/LiveStateView.h"

#include <array>

const QIcon& LiveStateIcon(TLiveState state) {
    static const std::array<QIcon, 5> icons{
        QIcon(QStringLiteral(":/tree/state_warning.svg")), QIcon(QStringLiteral(":/tree/state_ok.svg")),
        QIcon(QStringLiteral(":/tree/state_fault.svg")),   QIcon(QStringLiteral(":/tree/state_noanswer.svg")),
        QIcon(QStringLiteral(":/tree/state_offline.svg")),
    };
    return icons[size_t(state)];
}

QString SinceText(const QDateTime& at) {
    if (!at.isValid())
        return QStringLiteral("?");
    // The operator reads the clock on the wall: local time.
    const QDateTime time = at.toLocalTime();
    const QDateTime now = TDeviceClock::Current().WallTime().toLocalTime();
    if (time.date() == now.date())
        return time.toString(QStringLiteral("HH:mm:ss"));
    return time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString LiveStateText(const TDevice& device) {
    switch (device.LiveState()) {
    case TLiveState::NoStatusYet:
        return QStringLiteral("No status report yet");
    case TLiveState::Online:
        return QStringLiteral("On-line");
    case TLiveState::ChannelFault: {
        const bool a = device.Status().PD_CHA_Status == 0;
        const bool b = device.Status().PD_CHB_Status == 0;
        return a && b ? QStringLiteral("Channels A and B in FAULT")
                      : QStringLiteral("Channel %1 in FAULT").arg(a ? QLatin1Char('A') : QLatin1Char('B'));
    }
    case TLiveState::NotAnswering:
        return QStringLiteral("No answer since ") + SinceText(device.LastStatusTime());
    case TLiveState::Offline: {
        QString text = QStringLiteral("Off-line since ") + SinceText(device.OfflineSince());
        const QString reason = device.OfflineReason();
        if (!reason.isEmpty())
            text += QStringLiteral(": ") + reason;
        return text;
    }
    }
    return QString();
}
