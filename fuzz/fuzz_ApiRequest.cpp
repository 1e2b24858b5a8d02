// One request to the control API's JSON handling, as a client with a token may send it. Input
// layout: the first byte picks the method (low two bits: GET, PUT, POST, DELETE) and the token's
// role (bit 2: monitor), then the path up to the first newline (below /api/v1/ unless it starts
// with "/"), then the body.
//
// Besides not crashing: the answer is a JSON document; a refusal is {"error", "detail"} with the
// word of its status, one of those the API documents, and changes nothing; a monitor token never
// changes anything; levels stay within the faders' ranges and locked pairs equal; every change
// names the token's client as its source.
#include "api/ApiError.h"
#include "api/ApiRequest.h"
#include "api/ApiTokens.h"
#include "fuzz/ApiFuzzModel.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static TApiFuzzModel fixture;
    if (size == 0)
        return 0;
    fixture.Reset();
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    static const char* const kMethods[] = {"GET", "PUT", "POST", "DELETE"};
    const bool monitor = (input[0] & 4) != 0;
    TApiToken token;
    token.Name = QStringLiteral("fuzz");
    token.Role = monitor ? TApiRole::Monitor : TApiRole::Control;
    const qsizetype newline = input.indexOf('\n', 1);
    QByteArray path = input.mid(1, newline < 0 ? -1 : newline - 1);
    if (!path.startsWith('/'))
        path.prepend("/api/v1/");
    TApiCall call;
    call.Method = kMethods[input[0] & 3];
    call.Path = QString::fromUtf8(path);
    call.Body = newline < 0 ? QByteArray() : input.mid(newline + 1);
    call.Token = &token;

    const QString before = fixture.State();
    const TApiResponse response = HandleApiCall(fixture.Model, call);
    const QString after = fixture.State();

    static const int kStatuses[] = {200, 400, 403, 404, 405, 409, 503};
    FuzzCheck(std::find(std::begin(kStatuses), std::end(kStatuses), response.Status) != std::end(kStatuses),
              "the status is one the API documents");
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(response.Body, &error);
    FuzzCheck(error.error == QJsonParseError::NoError, "the answer is JSON");
    if (response.Status != 200) {
        FuzzCheck(document.object().value(QLatin1String("error")).toString() == ErrorWord(response.Status) &&
                      document.object().value(QLatin1String("detail")).isString(),
                  "a refusal is {error, detail} with the word of its status");
        FuzzCheck(before == after, "a refused request changes nothing");
    }
    FuzzCheck(!monitor || before == after, "a monitor token changes nothing");
    fixture.CheckInvariants(token.Name);
    return 0;
}
