#include "model/logging.h"

Q_LOGGING_CATEGORY(lcPoll, "fadelink.poll", QtInfoMsg)
Q_LOGGING_CATEGORY(lcProbe, "fadelink.probe", QtInfoMsg)
Q_LOGGING_CATEGORY(lcHttp, "fadelink.http", QtInfoMsg)
Q_LOGGING_CATEGORY(lcSearch, "fadelink.search", QtInfoMsg)
Q_LOGGING_CATEGORY(lcProject, "fadelink.project", QtInfoMsg)
Q_LOGGING_CATEGORY(lcSession, "fadelink.session", QtInfoMsg)
Q_LOGGING_CATEGORY(lcTrace, "fadelink.trace", QtWarningMsg)

void Trace(const QString& text) {
    qCDebug(lcTrace).noquote() << text;
}
