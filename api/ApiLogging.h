#pragma once

#include <QLoggingCategory>

// The control API's diagnostics: refusals, failed listens, dropped clients, with the peer and the
// reason, at debug level. QT_LOGGING_RULES="fadelink.api.debug=true" shows them.
Q_DECLARE_LOGGING_CATEGORY(lcApi)
