// Block decoder throughput over a stream of realistic frames, fed as the transport feeds it
// (reads of up to 256 bytes) and byte by byte, beside a baseline that only walks the same bytes;
// then the same frames each behind a false header that swallows its start byte, so that every
// frame is found only by searching an abandoned header again.
// Heap allocations are counted through the malloc family, which operator new also goes through.
#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include <benchmark/benchmark.h>

#include "block_decoder11.h"
#include "transport_serial_types11.h"

extern "C" void* __libc_malloc(size_t aSize);
extern "C" void* __libc_calloc(size_t aCount, size_t aSize);
extern "C" void* __libc_realloc(void* aPtr, size_t aSize);

namespace
{
std::atomic<uint64_t> g_allocations{0};
} // namespace

extern "C" void* malloc(size_t aSize)
{
    ++g_allocations;
    return __libc_malloc(aSize);
}

extern "C" void* calloc(size_t aCount, size_t aSize)
{
    ++g_allocations;
    return __libc_calloc(aCount, aSize);
}

extern "C" void* realloc(void* aPtr, size_t aSize)
{
    ++g_allocations;
    return __libc_realloc(aPtr, aSize);
}

namespace
{

using bytes_t = std::vector<uint8_t>;

constexpr size_t kREAD_SIZE = 256;
constexpr size_t kSTREAM_FRAMES = 3000;

void append_message(bytes_t& aBody, uint16_t aIdent, uint8_t aSeed)
{
    aBody.push_back(static_cast<uint8_t>(aIdent >> 8));
    aBody.push_back(static_cast<uint8_t>(aIdent));
    aBody.push_back(8);
    for (uint8_t i = 0; i < 8; ++i)
        aBody.push_back(static_cast<uint8_t>(aSeed * 31 + i));
}

void append_frame(bytes_t& aStream, const bytes_t& aBody)
{
    uint8_t frame[kFRAME485_MAX_SIZE];
    const size_t size = Block485__EncodeFrame(frame, sizeof frame, aBody.data(),
                                              static_cast<uint8_t>(aBody.size()));
    aStream.insert(aStream.end(), frame, frame + size);
}

// Sensor traffic: query-sized batches of three messages, single-message replies and long
// status blocks of twenty messages, in turn.
bytes_t realistic_stream(bool aFalseStarts)
{
    // Start byte, protocols and sizes of a 12-byte header: its checksum is what follows.
    const bytes_t falseStart = {0x7E, 0x01, 0x0C, 0x00, 0x21, 0x04};
    bytes_t stream;
    for (size_t i = 0; i < kSTREAM_FRAMES; ++i)
    {
        if (aFalseStarts)
            stream.insert(stream.end(), falseStart.begin(), falseStart.end());
        const size_t messages = i % 3 == 0 ? 3 : i % 3 == 1 ? 1 : 20;
        bytes_t body;
        for (size_t m = 0; m < messages; ++m)
            append_message(body, static_cast<uint16_t>(0x03FB + m), static_cast<uint8_t>(i + m));
        append_frame(stream, body);
    }
    return stream;
}

const bytes_t& stream()
{
    static const bytes_t bytes = realistic_stream(false);
    return bytes;
}

const bytes_t& false_start_stream()
{
    static const bytes_t bytes = realistic_stream(true);
    return bytes;
}

struct sink
{
    uint64_t frames_ok = 0;
    uint64_t messages = 0;
    uint64_t data_sum = 0;

    static void handler(void* aUserData, uint64_t, uint8_t aStat, uint16_t, void* aData,
                        uint8_t aSize)
    {
        sink* self = static_cast<sink*>(aUserData);
        if (aStat == kBLOCKDECODER11_STAT_MSG)
        {
            ++self->messages;
            self->data_sum += aSize != 0 ? static_cast<const uint8_t*>(aData)[0] : 0;
        }
        else if (aStat == kBLOCKDECODER11_STAT_FINI_OK)
        {
            ++self->frames_ok;
        }
    }
};

uint64_t iterations(const benchmark::State& aState)
{
    return static_cast<uint64_t>(aState.iterations());
}

void report(benchmark::State& aState, const bytes_t& aBytes, uint64_t aFrames,
            uint64_t aAllocations)
{
    aState.SetBytesProcessed(static_cast<int64_t>(iterations(aState) * aBytes.size()));
    aState.counters["frames/s"] = benchmark::Counter(double(aFrames), benchmark::Counter::kIsRate);
    aState.counters["allocs/frame"] = double(aAllocations) / double(std::max<uint64_t>(aFrames, 1));
}

void decode(benchmark::State& aState, const bytes_t& aBytes, size_t aPiece)
{
    sink out;
    block_decoder11_t decoder{};
    const uint64_t beforeInit = g_allocations;
    if (!BlockDecoder11__Init(&decoder, sink::handler, &out))
    {
        aState.SkipWithError("decoder not created");
        return;
    }
    // Creation allocates its state: proof that the counter sees the decoder's allocations.
    if (g_allocations == beforeInit)
        aState.SkipWithError("allocation counter not wired");
    const uint64_t allocationsBefore = g_allocations;
    for (auto _ : aState)
    {
        for (size_t at = 0; at < aBytes.size(); at += aPiece)
            BlockDecoder11__AddBuffer(&decoder, aBytes.data() + at,
                                      std::min(aPiece, aBytes.size() - at));
        benchmark::DoNotOptimize(out.data_sum);
    }
    const uint64_t allocations = g_allocations - allocationsBefore;
    BlockDecoder11__Deinit(&decoder);
    if (out.frames_ok != iterations(aState) * kSTREAM_FRAMES)
        aState.SkipWithError("not every frame was decoded");
    report(aState, aBytes, out.frames_ok, allocations);
}

void BM_DecodeReads(benchmark::State& aState) { decode(aState, stream(), kREAD_SIZE); }
void BM_DecodeByteByByte(benchmark::State& aState) { decode(aState, stream(), 1); }
void BM_DecodeReadsFalseStarts(benchmark::State& aState)
{
    decode(aState, false_start_stream(), kREAD_SIZE);
}

// Baseline: the same bytes in the same reads, each byte only loaded and folded into a sum.
void BM_WalkBaseline(benchmark::State& aState)
{
    const bytes_t& bytes = stream();
    for (auto _ : aState)
    {
        for (size_t at = 0; at < bytes.size(); at += kREAD_SIZE)
        {
            uint32_t sum = 0;
            const size_t end = std::min(at + kREAD_SIZE, bytes.size());
            for (size_t i = at; i < end; ++i)
                sum += bytes[i];
            benchmark::DoNotOptimize(sum);
        }
    }
    report(aState, bytes, iterations(aState) * kSTREAM_FRAMES, 0);
}

BENCHMARK(BM_WalkBaseline);
BENCHMARK(BM_DecodeReads);
BENCHMARK(BM_DecodeByteByByte);
BENCHMARK(BM_DecodeReadsFalseStarts);

} // namespace

BENCHMARK_MAIN();
