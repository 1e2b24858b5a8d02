#pragma once

#include <QLoggingCategory>
#include <QString>

// One logging category per component. Each failure is logged at debug level with the address (or
// file) and the reason; debug output is off by default and switched on per component, for
// example QT_LOGGING_RULES="fadelink.poll.debug=true;fadelink.http.debug=true", or
// "fadelink.*.debug=true" for all of them. Warnings are on by default.
Q_DECLARE_LOGGING_CATEGORY(lcPoll)    // fadelink.poll: the poll threads and what they hand over
Q_DECLARE_LOGGING_CATEGORY(lcProbe)   // fadelink.probe: the reachability probe and address look-ups
Q_DECLARE_LOGGING_CATEGORY(lcHttp)    // fadelink.http: the HTTP exchanges
Q_DECLARE_LOGGING_CATEGORY(lcSearch)  // fadelink.search: the device search
Q_DECLARE_LOGGING_CATEGORY(lcProject) // fadelink.project: loading and saving project files
Q_DECLARE_LOGGING_CATEGORY(lcSession) // fadelink.session: the run of a project, its end

// The trace facility: constructors, destructors and the poll threads call it with fixed texts
// such as "TGroup.Create Begin". It maps to the debug level of fadelink.trace, off by default;
// enable it with QT_LOGGING_RULES="fadelink.trace.debug=true".
Q_DECLARE_LOGGING_CATEGORY(lcTrace)

void Trace(const QString& text);
