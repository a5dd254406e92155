#include "exchange_log.h"

#include <algorithm>
#include <cstring>

#include "hex_text.h"
#include "log.h"
#include "transport_serial_types11.h"

namespace
{

// Each byte takes two digits and a separator (the last one the terminating NUL).
constexpr size_t kHEX_TEXT_SIZE = 3 * kFRAME485_MAX_SIZE;
// The function the records of an outcome name.
const char* const kOUTCOME_FUNC = "exec";

void _T_hex(const char* aFunc, const char* aLabel, const exchange_note& aNote)
{
    char text[kHEX_TEXT_SIZE];
    HexText__Format(aNote.bytes, std::min(aNote.size, kFRAME485_MAX_SIZE), text);
    LogWrite(__FILE__, __LINE__, aFunc, 4, "data: %s <%s>", aLabel, text);
}

} // namespace

// A half-duplex adapter hands the program's own frame back; with group 17017 (0x4279) its
// messages even look like replies. A late reply to an earlier query names another parameter.
void ExchangeLog__Note(void* /*aArg*/, const exchange_note* aNote)
{
    switch (aNote->kind)
    {
    case kEXCHANGE_NOTE_TX:
        _T_hex("sendBatch", "tx", *aNote);
        break;
    case kEXCHANGE_NOTE_RX:
        _T_hex("acceptReply", "rx", *aNote);
        break;
    case kEXCHANGE_NOTE_ECHO:
        LogWrite(__FILE__, __LINE__, "endBlock", 4, "data: echo of the query ignored");
        break;
    case kEXCHANGE_NOTE_FOREIGN:
        LogWrite(__FILE__, __LINE__, "endBlock", 4,
                 "data: reply for another parameter ignored (group:%u, array:%u)",
                 static_cast<unsigned>(aNote->group), static_cast<unsigned>(aNote->array));
        break;
    }
}

void ExchangeLog__Outcome(const exchange_outcome* aOutcome, int aToutMs)
{
    switch (aOutcome->status)
    {
    case kEXCHANGE_NO_INPUT:
    case kEXCHANGE_HUNG_UP:
        LogWrite(__FILE__, __LINE__, kOUTCOME_FUNC, 1, "fail: no input within %d ms", aToutMs);
        break;
    case kEXCHANGE_NO_REPLY:
        LogWrite(__FILE__, __LINE__, kOUTCOME_FUNC, 1, "fail: no reply within %d ms",
                 aOutcome->deadline_ms);
        break;
    case kEXCHANGE_LINK_LOST:
        LogWrite(__FILE__, __LINE__, kOUTCOME_FUNC, 1, "fail: read data <connection lost>");
        break;
    case kEXCHANGE_POLL_ERROR:
        LogWrite(__FILE__, __LINE__, kOUTCOME_FUNC, 1, "Error on poll(): %s",
                 std::strerror(aOutcome->error));
        break;
    case kEXCHANGE_READ_ERROR:
        LogWrite(__FILE__, __LINE__, kOUTCOME_FUNC, 1, "fail: read data <%s>",
                 std::strerror(aOutcome->error));
        break;
    case kEXCHANGE_WRITE_ERROR:
        LogWrite(__FILE__, __LINE__, kOUTCOME_FUNC, 1, "fail: send query <%s>",
                 std::strerror(aOutcome->error));
        break;
    case kEXCHANGE_STOPPED:
        LogWrite(__FILE__, __LINE__, kOUTCOME_FUNC, 1, "fail: interrupted by signal %d",
                 aOutcome->signal);
        break;
    case kEXCHANGE_ACCEPTED:
    case kEXCHANGE_REFUSED:
    case kEXCHANGE_READBACK_DIFFERS:
    case kEXCHANGE_RECEIVED:
        break;
    }
}
