#pragma once

#include "api/ApiRequest.h"

#include <QByteArray>
#include <QString>

#include <optional>

// The web panel's files (HTML, style sheet, scripts, icon), compiled into the program and served
// at `/` beside the API. They need no token: the panel asks for one and sends it with every API
// call, which is where the data is.
namespace WebPanel {

// The answer for a path outside /api/v1: the file with its content type and the panel's security
// headers, 404 for a name the panel does not have, 405 for a method other than GET.
// Nothing for a path under /api/v1.
std::optional<TApiResponse> Respond(const QByteArray& method, const QString& encodedPath);

// The content type of a panel file, by its name's ending.
QByteArray ContentType(const QString& fileName);

// What the browser may do with the panel's pages: load from this origin only, connect to this
// origin only (HTTP and WebSocket), never be framed.
inline constexpr char ContentSecurityPolicy[] =
    "default-src 'self'; script-src 'self'; style-src 'self'; img-src 'self'; connect-src 'self'; "
    "object-src 'none'; base-uri 'none'; form-action 'self'; frame-ancestors 'none'";

} // namespace WebPanel
