/* Trace buffer analysis and the XML trace dump, on trace copies built in
 * memory: the searches against one sequential read of the same bytes, the
 * dump against od writing the same words. */
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <vector>

#include <benchmark/benchmark.h>

#include "bench_support.h"
#include <qorb_common/trace_entry.h>

#include "qorb_internal.h"

namespace {

constexpr uint32_t kMiB = 1024 * 1024;
constexpr uint32_t kAnalysisBytes = 256 * kMiB;
constexpr uint32_t kDumpBytes = 64 * kMiB;

enum class Mix { Tlp, Dllp };

/* Appends trace entries to a buffer of fixed size; an entry that does not
 * fit any more is left out and the rest of the buffer stays zero (a byte
 * other than the entry marker ends every walk there). */
class TraceWriter {
public:
    TraceWriter(uint8_t* bytes, uint32_t size) : m_bytes(bytes), m_size(size) {}
    bool Tlp(uint8_t fmt, uint8_t type, uint16_t length, uint32_t dwords)
    {
        if (!Header(0, static_cast<uint16_t>(dwords), dwords * 4))
            return false;
        uint8_t* p = m_bytes + m_pos;
        memset(p, 0xA5, dwords * 4);
        p[0] = static_cast<uint8_t>((fmt & 3) << 5 | (type & 0x1F));
        p[1] = 0;
        p[2] = static_cast<uint8_t>((length >> 8) & 3);
        p[3] = static_cast<uint8_t>(length & 0xFF);
        m_pos += dwords * 4;
        return true;
    }
    bool Dllp(uint8_t type)
    {
        if (!Header(qorb_trace::kDllp, 0, qorb_trace::kDllpPayloadBytes))
            return false;
        const uint8_t payload[8] = {0, type, 0x01, 0x02, 0x03, 0x04, 0x05, 0};
        memcpy(m_bytes + m_pos, payload, 8);
        m_pos += 8;
        return true;
    }

private:
    bool Header(uint8_t kind, uint16_t lengthField, uint32_t payload)
    {
        if (m_size - m_pos < qorb_trace::kHeaderBytes + payload)
            return false;
        qorb_trace::WriteHeader(m_bytes + m_pos, kind, lengthField);
        m_pos += qorb_trace::kHeaderBytes;
        return true;
    }
    uint8_t* m_bytes;
    uint32_t m_size;
    uint32_t m_pos = 0;
};

/* TLP-heavy: memory writes of 64 and 128 data words, completions with data,
 * reads, and a DLLP now and then. DLLP-heavy: flow control, Ack/Nak and
 * power management DLLPs with one read request in eight entries. */
void Fill(uint8_t* bytes, uint32_t size, Mix mix)
{
    memset(bytes, 0, size);
    TraceWriter w(bytes, size);
    if (mix == Mix::Tlp) {
        while (w.Tlp(2, 0x00, 64, 3 + 64) && w.Tlp(2, 0x00, 128, 3 + 128) && w.Tlp(2, 0x0A, 16, 3 + 16) &&
               w.Tlp(0, 0x00, 32, 3) && w.Dllp(0x00) && w.Tlp(3, 0x00, 32, 4 + 32) && w.Dllp(0x81)) {
        }
    } else {
        while (w.Dllp(0x00) && w.Dllp(0x80) && w.Dllp(0x91) && w.Dllp(0xA0) && w.Tlp(0, 0x00, 1, 3) &&
               w.Dllp(0x10) && w.Dllp(0x20) && w.Dllp(0x83)) {
        }
    }
}

/* Holds one test card record with one trace copy at a time, so that no two
 * large copies are alive together. Benchmarks run in registration order, so
 * each copy is built once for all the benchmarks that use it. */
struct TraceStore {
    QORB_DEVICE_t* card = nullptr;
    Mix mix = Mix::Tlp;
    uint32_t size = 0;

    QORB_DEVICE_t* Get(Mix wanted, uint32_t wantedSize)
    {
        if (card && mix == wanted && size == wantedSize)
            return card;
        Release();
        auto* bytes = static_cast<uint8_t*>(malloc(wantedSize));
        if (!bytes)
            return nullptr;
        Fill(bytes, wantedSize, wanted);
        card = CreateDeviceRecord(nullptr, 3, 0, 0);
        if (!card) {
            free(bytes);
            return nullptr;
        }
        card->isZeb = 1;
        card->traceCopy = bytes;  /* the record owns the copy from here on */
        card->traceCopyLength = wantedSize;
        mix = wanted;
        size = wantedSize;
        return card;
    }
    void Release()
    {
        if (card)
            CloseDevice(card);
        card = nullptr;
    }
    ~TraceStore() { Release(); }
};

TraceStore g_store;

enum class Op { CountTlp, FindTlp, FindDllp, CountDllp, SequentialRead };

/* Memory write request, 32-bit address (Fmt 2, Type 0), matched strictly on
 * Fmt and Type; UpdateFC-P, any virtual channel. */
uint8_t g_tlpPattern[4] = {0x40, 0x00, 0x00, 0x00};
constexpr uint32_t kTlpFlags = QORB_TLP_MATCH_STRICT | QORB_TLP_MATCH_FMT | QORB_TLP_MATCH_TYPE;
uint8_t g_dllpPattern[6] = {0x80, 0, 0, 0, 0, 0};

uint64_t SequentialRead(const uint8_t* bytes, uint32_t size)
{
    const auto* words = reinterpret_cast<const uint64_t*>(bytes);
    uint64_t sum = 0;
    for (uint32_t i = 0; i < size / 8; ++i)
        sum += words[i];
    return sum;
}

void BM_Trace(benchmark::State& state, Mix mix, Op op)
{
    QORB_DEVICE_t* card = g_store.Get(mix, kAnalysisBytes);
    if (!card)
        return state.SkipWithError("cannot allocate the trace copy");
    uint32_t tlps = 0, dllps = 0;
    GetNumTLPMatches(card, g_tlpPattern, kTlpFlags, &tlps);
    GetNumDLLPMatches(card, g_dllpPattern, 0, &dllps);
    std::vector<uint32_t> tlpOut(op == Op::FindTlp ? tlps + 1 : 0);
    std::vector<uint8_t> dllpOut(op == Op::FindDllp ? 6 * static_cast<size_t>(dllps) + 6 : 0);
    for (auto _ : state) {
        uint32_t count = 0;
        _QORB_STATUS_t status = QORB_SUCCESS;
        switch (op) {
        case Op::CountTlp:
            status = GetNumTLPMatches(card, g_tlpPattern, kTlpFlags, &count);
            break;
        case Op::FindTlp:
            status = FindTLPByTLPType(card, g_tlpPattern, kTlpFlags, tlpOut.data(), &count);
            break;
        case Op::FindDllp:
            count = dllps;
            status = FindDLLPTypeDLLPType(card, g_dllpPattern, 0, dllpOut.data(), &count);
            break;
        case Op::CountDllp:
            status = GetNumDLLPMatches(card, g_dllpPattern, 0, &count);
            break;
        case Op::SequentialRead:
            benchmark::DoNotOptimize(SequentialRead(card->traceCopy, card->traceCopyLength));
            break;
        }
        benchmark::DoNotOptimize(count);
        if (status != QORB_SUCCESS) {
            state.SkipWithError("the trace operation failed");
            break;
        }
    }
    state.counters["bytes"] = card->traceCopyLength;
}

BENCHMARK_CAPTURE(BM_Trace, tlp_mix_GetNumTLPMatches, Mix::Tlp, Op::CountTlp)->UseRealTime();
BENCHMARK_CAPTURE(BM_Trace, tlp_mix_FindTLPByTLPType, Mix::Tlp, Op::FindTlp)->UseRealTime();
BENCHMARK_CAPTURE(BM_Trace, tlp_mix_FindDLLPTypeDLLPType, Mix::Tlp, Op::FindDllp)->UseRealTime();
BENCHMARK_CAPTURE(BM_Trace, tlp_mix_GetNumDLLPMatches, Mix::Tlp, Op::CountDllp)->UseRealTime();
BENCHMARK_CAPTURE(BM_Trace, tlp_mix_sequential_read, Mix::Tlp, Op::SequentialRead)->UseRealTime();
BENCHMARK_CAPTURE(BM_Trace, dllp_mix_GetNumTLPMatches, Mix::Dllp, Op::CountTlp)->UseRealTime();
BENCHMARK_CAPTURE(BM_Trace, dllp_mix_FindTLPByTLPType, Mix::Dllp, Op::FindTlp)->UseRealTime();
BENCHMARK_CAPTURE(BM_Trace, dllp_mix_FindDLLPTypeDLLPType, Mix::Dllp, Op::FindDllp)->UseRealTime();
BENCHMARK_CAPTURE(BM_Trace, dllp_mix_GetNumDLLPMatches, Mix::Dllp, Op::CountDllp)->UseRealTime();
BENCHMARK_CAPTURE(BM_Trace, dllp_mix_sequential_read, Mix::Dllp, Op::SequentialRead)->UseRealTime();

/* The dump: LogTBContents of a 64 MiB copy into a fresh XML log. */
void BM_LogTBContents(benchmark::State& state)
{
    QORB_DEVICE_t* card = g_store.Get(Mix::Tlp, kDumpBytes);
    if (!card)
        return state.SkipWithError("cannot allocate the trace copy");
    const std::string log = qorbbench::WorkDir() + "/dump.xml";
    for (auto _ : state) {
        void* handle = nullptr;
        if (CreateLog(nullptr, &handle, QORB_LOG_TYPE_XML, log.c_str(), QORB_LOG_ACTION_CREATE) != QORB_SUCCESS) {
            state.SkipWithError("cannot create the XML log");
            break;
        }
        _QORB_STATUS_t status = LogTBContents(handle, card, nullptr);
        CloseLog(handle);
        if (status != QORB_SUCCESS) {
            state.SkipWithError("LogTBContents failed");
            break;
        }
    }
    unlink(log.c_str());
}

/* The same 64 MiB as 32-bit words, one per line, by od. */
void BM_OdWords(benchmark::State& state)
{
    QORB_DEVICE_t* card = g_store.Get(Mix::Tlp, kDumpBytes);
    if (!card)
        return state.SkipWithError("cannot allocate the trace copy");
    const std::string bytes = qorbbench::WorkDir() + "/trace.bin";
    const std::string out = qorbbench::WorkDir() + "/od.txt";
    if (!qorbbench::WriteBytes(bytes, card->traceCopy, card->traceCopyLength))
        return state.SkipWithError("cannot write the trace bytes for od");
    for (auto _ : state) {
        if (qorbbench::RunCommand({"od", "-An", "-tx4", "-v", "-w4", bytes}, out) != 0) {
            state.SkipWithError("od failed");
            break;
        }
    }
    unlink(out.c_str());
    unlink(bytes.c_str());
    g_store.Release();
}

BENCHMARK(BM_LogTBContents)->UseRealTime();
BENCHMARK(BM_OdWords)->UseRealTime();

const bool g_rows = [] {
    using qorbbench::Unit;
    const char* ops[] = {"GetNumTLPMatches", "FindTLPByTLPType", "FindDLLPTypeDLLPType", "GetNumDLLPMatches"};
    for (const char* mix : {"tlp", "dllp"}) {
        for (const char* op : ops) {
            std::string prefix = std::string("BM_Trace/") + mix + "_mix_";
            bool target = std::string(mix) == "tlp";
            qorbbench::AddRow({std::string(op) + ", 256 MiB, " + mix + "-heavy", prefix + op + "/real_time",
                               prefix + "sequential_read/real_time", "sequential 64-bit read", Unit::Rate,
                               target ? 2.0 : 0});
        }
    }
    qorbbench::AddRow({"LogTBContents, 64 MiB into an XML log", "BM_LogTBContents/real_time",
                       "BM_OdWords/real_time", "od -An -tx4 -v -w4 > file", Unit::PerCall, 0.2});
    return true;
}();

} // namespace
