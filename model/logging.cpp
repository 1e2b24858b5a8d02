#include "model/logging.h"

Q_LOGGING_CATEGORY(lcTrace, "fadelink.trace", QtWarningMsg)

void Trace(const QString& text) {
    qCDebug(lcTrace).noquote() << text;
}
