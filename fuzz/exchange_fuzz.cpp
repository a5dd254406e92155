// Arbitrary byte streams through the exchange: a link whose reads the fuzzer feeds, in pieces it
// chooses, through the real block decoder into the exchange's block handler and state machine.
// A model that watches every decoder event beside the exchange checks that the batch goes out
// once, exactly at the end of the first intact block; that what is printed is the first whole
// reply of a later intact block that is not an echo of the batch and whose messages 1 and 3 (when
// present) name the queried parameter, and nothing else; that the exchange stops reading after
// it; and that the operation throws unless that reply's result is 0 and, for a set-and-read-back,
// its value is the one written.
// Input: flags (bit 0: the link echoes the frame sent, bits 1-3: the operation), group and
// identifier (2 bytes each, low first), value (4 bytes), piece seed, then the stream.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include <sys/mman.h>
#include <unistd.h>

#include "block_decoder11.h"
#include "exceptions.hpp"
#include "fuzz_support.hpp"
#include "transport_serial11.h"
#include "transport_serial_types11.h"
#include "uat4/api_seam.hpp"

const char* const vesk11_fuzz::kSUBJECT = "exchange";

namespace
{

using vesk11_fuzz::require;

using bytes_t = std::vector<uint8_t>;
using Orvo::Support::Vesk11Cli::Uat4::api_sp_t;

constexpr size_t kHEADER_SIZE = 10;
constexpr size_t kBATCH_SIZE = 33;

struct message
{
    uint16_t ident;
    uint8_t size;
    uint8_t data[8];
};

// What the exchange must do, from the events alone.
struct model
{
    unsigned kind = 0; // the operation, as _T_operate numbers them
    uint16_t group = 0;
    uint16_t id = 0;
    uint32_t value = 0;
    bool sent = false;
    bytes_t batch;              // the body sent
    std::vector<message> block; // messages of the current block
    bool accepted = false;
    std::string printed; // what the accepted reply prints
    bool reply_ok = false;

    bool is_echo() const
    {
        bytes_t body;
        for (const message& msg : block)
        {
            body.push_back(static_cast<uint8_t>(msg.ident >> 8));
            body.push_back(static_cast<uint8_t>(msg.ident));
            body.push_back(msg.size);
            body.insert(body.end(), msg.data, msg.data + msg.size);
        }
        return body == batch;
    }

    // The first whole message of the block with this udt_index.
    const message* first(uint8_t aUdtLow) const
    {
        for (const message& msg : block)
        {
            if (msg.size == 8 && msg.data[0] == aUdtLow && msg.data[1] == 0x42)
                return &msg;
        }
        return nullptr;
    }
    const message* reply() const { return first(0x79); }

    // The parameter the query is about: group and identifier, dimensions 0 and 0. Commands and
    // the configuration commands go to their own group and identifier.
    bool names_query() const
    {
        uint16_t wantGroup = group;
        uint16_t wantId = id;
        if (kind == 7)
        {
            wantGroup = 1000;
            wantId = 346;
        }
        const message* msg1 = first(0x78);
        const message* msg3 = first(0x7A);
        const bool msg1Ok = msg1 == nullptr || (msg1->data[4] == (wantGroup & 0xFF) &&
                                                msg1->data[5] == (wantGroup >> 8) &&
                                                msg1->data[6] == (wantId & 0xFF) &&
                                                msg1->data[7] == (wantId >> 8));
        const bool msg3Ok = msg3 == nullptr || (msg3->data[4] == 0 && msg3->data[5] == 0);
        return msg1Ok && msg3Ok;
    }

    // A set-and-read-back must read back what it wrote: integers bit for bit, floats as floats.
    bool read_back_ok(uint32_t aBits) const
    {
        if (kind == 4)
            return aBits == value;
        if (kind != 5)
            return true;
        float got;
        float wrote;
        std::memcpy(&got, &aBits, sizeof got);
        std::memcpy(&wrote, &value, sizeof wrote);
        return got == wrote;
    }

    void accept(const message& aReply)
    {
        accepted = true;
        const unsigned result = aReply.data[3];
        const uint32_t bits = static_cast<uint32_t>(aReply.data[4]) |
                              static_cast<uint32_t>(aReply.data[5]) << 8 |
                              static_cast<uint32_t>(aReply.data[6]) << 16 |
                              static_cast<uint32_t>(aReply.data[7]) << 24;
        float asFloat;
        std::memcpy(&asFloat, &bits, sizeof asFloat);
        char text[256];
        const int n = std::snprintf(
            text, sizeof text,
            "param_result     %u (0x%x)\nparam_data_int   %d (0x%x)\nparam_data_float %f (%a)\n",
            result, result, static_cast<int32_t>(bits), bits, static_cast<double>(asFloat),
            static_cast<double>(asFloat));
        printed.assign(text, static_cast<size_t>(n));
        reply_ok = result == 0 && read_back_ok(bits);
    }
};

// The link and the checks around the exchange's handler.
struct fuzz_link
{
    std::deque<bytes_t> reads;
    bool echo = false;
    block_decoder11_t decoder{};
    transport_handler_fn handler = nullptr;
    void* handler_arg = nullptr;
    int poll_fd = -1;
    model expect;
    uint8_t event = 0; // the event being handled, 0 outside the handler
    int sends = 0;
    bytes_t frame;             // the frame last sent
    bool done_reading = false; // the model's reply was accepted during the last read
};

fuzz_link* activeLink = nullptr;
int stdoutFd = -1;

size_t _T_stdout_size()
{
    std::fflush(stdout);
    return static_cast<size_t>(lseek(stdoutFd, 0, SEEK_END));
}

std::string _T_stdout()
{
    const off_t size = static_cast<off_t>(_T_stdout_size());
    std::string text(static_cast<size_t>(size), '\0');
    require(pread(stdoutFd, &text[0], text.size(), 0) == size, "standard output unreadable");
    return text;
}

void _T_observe(void* aUserData, uint64_t aBlockTs, uint8_t aStat, uint16_t aMsgIdent,
                void* aMsgPayloadData, uint8_t aMsgPayloadSize)
{
    fuzz_link* self = static_cast<fuzz_link*>(aUserData);
    model& expect = self->expect;
    const int sendsBefore = self->sends;
    const bool wasSent = expect.sent;
    bool acceptNow = false;
    switch (aStat)
    {
    case kBLOCKDECODER11_STAT_INIT:
    case kBLOCKDECODER11_STAT_FINI_FAIL:
        expect.block.clear();
        break;
    case kBLOCKDECODER11_STAT_MSG:
    {
        message msg{aMsgIdent, aMsgPayloadSize, {}};
        std::memcpy(msg.data, aMsgPayloadData, aMsgPayloadSize);
        expect.block.push_back(msg);
        break;
    }
    case kBLOCKDECODER11_STAT_FINI_OK:
        if (!expect.sent)
            expect.sent = true;
        else if (!expect.accepted && !expect.is_echo() && expect.reply() != nullptr &&
                 expect.names_query())
            acceptNow = true;
        break;
    }
    self->event = aStat;
    self->handler(self->handler_arg, aBlockTs, aStat, aMsgIdent, aMsgPayloadData, aMsgPayloadSize);
    self->event = 0;
    require(self->sends == sendsBefore + (wasSent == expect.sent ? 0 : 1),
            "the batch went out other than once, at the end of the first intact block");
    if (acceptNow)
    {
        expect.accept(*expect.reply());
        self->done_reading = true;
    }
    // Nothing is printed while the exchange runs: the outcome is printed once it is over.
    require(_T_stdout_size() == 0, "printed during the exchange");
    if (aStat == kBLOCKDECODER11_STAT_FINI_OK || aStat == kBLOCKDECODER11_STAT_FINI_FAIL)
        expect.block.clear();
}

void _T_destroy(void* aSelf)
{
    BlockDecoder11__Deinit(&static_cast<fuzz_link*>(aSelf)->decoder);
}

int _T_open(void* /*aSelf*/)
{
    return 0;
}

int _T_close(void* /*aSelf*/)
{
    return 0;
}

int _T_rx(void* aSelf)
{
    fuzz_link* self = static_cast<fuzz_link*>(aSelf);
    require(!self->done_reading, "read on after the reply");
    if (self->reads.empty())
        return 0;
    const bytes_t piece = self->reads.front();
    self->reads.pop_front();
    BlockDecoder11__AddBuffer(&self->decoder, piece.data(), piece.size());
    return static_cast<int>(piece.size());
}

int _T_tx(void* aSelf, iovec* aBufferList, int aBufferCount)
{
    fuzz_link* self = static_cast<fuzz_link*>(aSelf);
    require(self->event == kBLOCKDECODER11_STAT_FINI_OK, "sent outside the end of a block");
    require(aBufferCount == 1 && aBufferList[0].iov_len == kBATCH_SIZE, "not one 33-byte body");
    ++self->sends;
    const uint8_t* body = static_cast<const uint8_t*>(aBufferList[0].iov_base);
    self->expect.batch.assign(body, body + kBATCH_SIZE);
    self->frame.resize(kFRAME485_MAX_SIZE);
    self->frame.resize(
        Block485__EncodeFrame(self->frame.data(), self->frame.size(), body, kBATCH_SIZE));
    if (self->echo)
        self->reads.push_front(self->frame);
    return static_cast<int>(self->frame.size());
}

int _T_tx_rest(void* aSelf, transport_tx_progress* aProgress)
{
    const bytes_t& frame = static_cast<fuzz_link*>(aSelf)->frame;
    *aProgress = transport_tx_progress{frame.data(), frame.size(), frame.size()};
    return 0;
}

int _T_link_handle(void* aSelf)
{
    return static_cast<fuzz_link*>(aSelf)->poll_fd;
}

void _T_reconnect_args(uint32_t* /*aMinTout*/, uint32_t* /*aMaxTout*/, double* /*aToutMult*/) {}

int _T_init(transport_t* aHandle, const com_transport_args* /*aComArgs*/,
            transport_handler_fn aHandler, void* aHandlerArg)
{
    activeLink->handler = aHandler;
    activeLink->handler_arg = aHandlerArg;
    if (!BlockDecoder11__Init(&activeLink->decoder, _T_observe, activeLink))
        return -1;
    aHandle->self = activeLink;
    aHandle->vtable = {_T_destroy,     _T_open,           _T_close, _T_rx,     _T_tx,
                       _T_link_handle, _T_reconnect_args, nullptr,  _T_tx_rest};
    return 0;
}

// One operation of every kind of action.
void _T_operate(const api_sp_t& aApi, unsigned aKind, uint16_t aGroup, uint16_t aId,
                uint32_t aValue)
{
    float valueF32;
    std::memcpy(&valueF32, &aValue, sizeof valueF32);
    switch (aKind)
    {
    case 0:
        return aApi->getParamI32(aGroup, aId);
    case 1:
        return aApi->getParamF32(aGroup, aId);
    case 2:
        return aApi->getStatusI32(aGroup, aId);
    case 3:
        return aApi->getStatusF32(aGroup, aId);
    case 4:
        return aApi->setParamI32(aGroup, aId, static_cast<int32_t>(aValue));
    case 5:
        return aApi->setParamF32(aGroup, aId, valueF32);
    case 6:
        return aApi->execCommand(aGroup, aId, aValue);
    default:
        return aApi->resetFlashConf(aValue);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/)
{
    // Standard output goes to a memory file the checks read back.
    stdoutFd = memfd_create("exchange-stdout", 0);
    require(stdoutFd >= 0 && dup2(stdoutFd, STDOUT_FILENO) == STDOUT_FILENO,
            "no memory file for standard output");
    vesk11_fuzz::open_log("exchange_fuzz");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t aSize)
{
    if (aSize < kHEADER_SIZE)
        return 0;
    static int pollPipe[2] = {-1, -1};
    if (pollPipe[0] < 0)
        require(pipe(pollPipe) == 0 && write(pollPipe[1], "x", 1) == 1, "no pipe");
    fuzz_link state;
    activeLink = &state;
    state.poll_fd = pollPipe[0]; // always readable: every wait ends at once
    state.echo = (aData[0] & 1) != 0;
    const unsigned kind = (aData[0] >> 1) & 7u;
    const uint16_t group = static_cast<uint16_t>(aData[1] | aData[2] << 8);
    const uint16_t id = static_cast<uint16_t>(aData[3] | aData[4] << 8);
    const uint32_t value = static_cast<uint32_t>(aData[5]) | static_cast<uint32_t>(aData[6]) << 8 |
                           static_cast<uint32_t>(aData[7]) << 16 |
                           static_cast<uint32_t>(aData[8]) << 24;
    state.expect.kind = kind;
    state.expect.group = group;
    state.expect.id = id;
    state.expect.value = value;
    uint32_t seed = aData[9];
    const size_t maxPiece = seed % 64 + 1;
    for (size_t at = kHEADER_SIZE; at < aSize;)
    {
        seed = seed * 1103515245u + 12345u;
        const size_t piece = std::min<size_t>(aSize - at, (seed >> 16) % maxPiece + 1);
        state.reads.emplace_back(aData + at, aData + at + piece);
        at += piece;
    }

    // A time-out of a minute: the deadline never ends a run, the stream always does.
    const api_sp_t api = Orvo::Support::Vesk11Cli::Uat4::Api__CreateOver("fuzz", 60000, _T_init);
    bool threw = false;
    try
    {
        _T_operate(api, kind, group, id, value);
    }
    catch (const Orvo::internal_error&)
    {
        threw = true;
    }
    require(threw != (state.expect.accepted && state.expect.reply_ok),
            "outcome differs from the reply accepted");
    require(_T_stdout() == state.expect.printed, "printed other than the accepted reply");
    require(state.decoder.self == nullptr, "link not released");
    std::fflush(stdout);
    require(ftruncate(stdoutFd, 0) == 0 && lseek(stdoutFd, 0, SEEK_SET) == 0,
            "standard output not reset");
    activeLink = nullptr;
    return 0;
}
