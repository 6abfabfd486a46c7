/* The platform file: parseDatFile of a large generated file against expat's
 * own xmlwf checking the same file. */
#include <unistd.h>

#include <string>

#include <benchmark/benchmark.h>

#include "bench_support.h"
#include "qorb_internal.h"

namespace {

constexpr size_t kDatBytes = 8u * 1024 * 1024;

/* A platform file of about kDatBytes: the usual elements once, 100 DUT
 * entries, then groups of configuration elements (each read by the parser)
 * mixed with elements and text it ignores. */
const std::string& DatFile()
{
    static std::string path;
    if (!path.empty())
        return path;
    std::string text = "<?xml version=\"1.0\"?>\n<Platform>\n <Test mode=\"AddIn\"/>\n <User name=\"bench\"/>\n";
    for (int i = 0; i < 100; ++i)
        text += " <DUT vendorid=\"8086\" deviceid=\"" + std::to_string(1000 + i) + "\" bus=\"" +
                std::to_string(i % 255) + "\" device=\"" + std::to_string(i % 32) + "\" function=\"0\" subsysvendor=\"4660\"/>\n";
    for (int group = 0; text.size() < kDatBytes; ++group) {
        text += " <Group index=\"" + std::to_string(group) + "\">\n"
                "  <DUTConfig incr=\"-4\" offset=\"10\" length=\"4\"/>\n"
                "  <ReplayCount value=\"" + std::to_string(group % 10) + "\"/>\n"
                "  <PCIEBaseAddress value=\"E0000000\"/>\n"
                "  <QORBINIFilePath path=\"/opt/qorb/ini/platform\"/>\n"
                "  <DUTSerrEnable value=\"1\"/>\n"
                "  <Note author=\"bench\">free text that the parser passes over</Note>\n"
                "  <!-- a comment -->\n"
                " </Group>\n";
    }
    text += "</Platform>\n";
    path = qorbbench::WorkDir() + "/platform.xml";
    if (!qorbbench::WriteBytes(path, text.data(), text.size()))
        path.clear();
    return path;
}

void BM_ParseDatFile(benchmark::State& state)
{
    const std::string& path = DatFile();
    if (path.empty())
        return state.SkipWithError("cannot write the platform file");
    std::string name = path;
    for (auto _ : state) {
        _QORB_DAT_INFO_t info{};
        _QORB_STATUS_t status = parseDatFile(name.data(), &info);
        benchmark::DoNotOptimize(info.replayCount);
        QORB_FreeDatInfo(&info);
        if (status != QORB_SUCCESS) {
            state.SkipWithError("parseDatFile failed");
            break;
        }
    }
}

void BM_Xmlwf(benchmark::State& state)
{
    const std::string& path = DatFile();
    if (path.empty())
        return state.SkipWithError("cannot write the platform file");
    for (auto _ : state) {
        if (qorbbench::RunCommand({"xmlwf", path}, "/dev/null") != 0) {
            state.SkipWithError("xmlwf failed or is not installed (package expat)");
            break;
        }
    }
}

BENCHMARK(BM_ParseDatFile)->UseRealTime();
BENCHMARK(BM_Xmlwf)->UseRealTime();

const bool g_rows = [] {
    qorbbench::AddRow({"parseDatFile, 8 MiB platform file", "BM_ParseDatFile/real_time", "BM_Xmlwf/real_time",
                       "xmlwf (expat) same file", qorbbench::Unit::PerCall, 0});
    return true;
}();

} // namespace
