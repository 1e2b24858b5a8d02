// One OSC datagram of arbitrary bytes, as an allowed sender may send it, decoded by liblo and acted
// on by the control API's OSC dispatch.
//
// Besides not crashing: every answer is an OSC message liblo can read back, levels stay within the
// faders' ranges, locked pairs equal, and every change names the sender as its source.
#include "api/OscDispatch.h"
#include "fuzz/ApiFuzzModel.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static TApiFuzzModel fixture;
    static TOscDispatcher dispatcher(fixture.Model);
    FuzzCheck(dispatcher.Valid(), "the OSC decoder starts");
    fixture.Reset();
    const QByteArray datagram(reinterpret_cast<const char*>(data), qsizetype(size));
    const TOscOutcome outcome = dispatcher.Handle(datagram, QStringLiteral("osc@127.0.0.1"));
    for (QByteArray reply : outcome.Replies) {
        int result = 0;
        lo_message message = lo_message_deserialise(reply.data(), size_t(reply.size()), &result);
        FuzzCheck(message != nullptr, "every answer is a readable OSC message");
        lo_message_free(message);
    }
    fixture.CheckInvariants(QStringLiteral("osc@127.0.0.1"));
    return 0;
}
