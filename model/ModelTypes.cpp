#include "model/ModelTypes.h"

const char* FieldName(TLevel level) {
    switch (level) {
    case TLevel::Volume_A:
        return "Volume_A";
    case TLevel::Volume_B:
        return "Volume_B";
    case TLevel::Sensitivity_A:
        return "Sensitivity_A";
    case TLevel::Sensitivity_B:
        return "Sensitivity_B";
    case TLevel::Limiter_A:
        return "Limiter_A";
    case TLevel::Limiter_B:
        return "Limiter_B";
    }
    return "";
}

const char* FieldName(TChannel channel) {
    return channel == TChannel::A ? "Mute_CHA" : "Mute_CHB";
}

const char* FieldName(TLock lock) {
    switch (lock) {
    case TLock::Volume:
        return "Volume_Lock";
    case TLock::Sensitivity:
        return "Sensitivity_Lock";
    case TLock::Limiter:
        return "Limiter_Lock";
    }
    return "";
}

const char* FieldName(TDeviceText text) {
    switch (text) {
    case TDeviceText::LongName:
        return "LongName";
    case TDeviceText::ShortName:
        return "ShortName";
    case TDeviceText::IPAddress:
        return "IPAddress";
    }
    return "";
}

const char* FieldName(TGroupText text) {
    return text == TGroupText::LongName ? "LongName" : "ShortName";
}
