/* The configuration driver entry table of libqorbsim.so.
 *
 * OpenDriver loads the platform from scratch each time (the library may
 * open, close and open again in one process); CloseDriver frees it. Bad
 * input (an unreadable or malformed dump, a duplicate function, an unknown
 * setting in qorbsim.ini) is reported on standard error and makes
 * OpenDriver answer 0, so that a test never runs on a platform other than
 * the one it described.
 *
 * ReadConfigEx(domain, bus, device, function, offset) reads 4 bytes at the
 * offset into the buffer and answers the byte count (0 outside the domain served,
 * for an absent function, or past the function's bytes; short at the end).
 *
 * QueryMcfgTable answers the simulated ECAM window: base 0xE0000000, start
 * bus 0, end bus 255, length 256 MiB. MapConfigSpace accepts any window of
 * non-zero length: the simulator serves configuration space directly, so the
 * window limits nothing. */
#include <qorb/qorb_driver.h>
#include <qorb_common/driver_domains.h>

#include <memory>
#include <type_traits>

#include "sim_platform.h"
#include "sim_state.h"

namespace qorbsim {
namespace {

constexpr uint64_t kEcamBase = 0xE0000000ull;
constexpr uint8_t kEcamStartBus = 0;
constexpr uint8_t kEcamEndBus = 255;
constexpr uint64_t kEcamBusSize = 1ull << 20;
constexpr uint32_t kReadExLength = 4;
/* Contexts handed out: a recognisable value that changes with every open,
 * so that a context from an earlier open is refused. */
constexpr uint32_t kContextBase = 0x51530000;

std::unique_ptr<Platform> g_platform;
uint32_t g_context = 0;
uint32_t g_opens = 0;
std::string g_stateFile; /* [platform] state, saved at close */

Platform* Current(uint32_t context)
{
    return g_platform && context == g_context ? g_platform.get() : nullptr;
}

uint32_t OpenDriver(uint32_t* context)
{
    g_platform.reset();
    g_context = 0;
    if (!context)
        return 0;
    SimConfig config;
    bool configOk = LoadConfig(config);
    auto platform = std::make_unique<Platform>();
    if (!configOk || !platform->Load(config)) {
        Report("the simulated platform was not loaded; the driver does not open");
        return 0;
    }
    if (!config.stateFile.empty() && !RestoreState(*platform, config.stateFile)) {
        Report("the simulated platform was not loaded; the driver does not open");
        return 0;
    }
    g_stateFile = config.stateFile;
    g_platform = std::move(platform);
    g_context = kContextBase + (++g_opens & 0xFFFF);
    *context = g_context;
    return 1;
}

uint32_t MapConfigSpace(uint32_t context, uint64_t /*base*/, uint64_t length)
{
    return Current(context) && length != 0 ? 1 : 0;
}

uint32_t QueryMcfgTable(uint32_t context, uint64_t* base, uint8_t* startBus, uint8_t* endBus, uint64_t* length)
{
    if (!Current(context) || !base || !startBus || !endBus || !length)
        return 0;
    *base = kEcamBase;
    *startBus = kEcamStartBus;
    *endBus = kEcamEndBus;
    *length = (kEcamEndBus - kEcamStartBus + 1) * kEcamBusSize;
    return 1;
}

uint32_t ReadConfig(uint32_t context, uint32_t bus, uint32_t dev, uint32_t fn, uint32_t offset, uint32_t length,
                    uint8_t* buffer)
{
    Platform* p = Current(context);
    return p && buffer ? p->Read(bus, dev, fn, offset, length, buffer) : 0;
}

uint32_t ReadConfigEx(uint32_t context, uint32_t domain, uint32_t bus, uint32_t dev, uint32_t fn, uint32_t offset,
                      uint8_t* buffer)
{
    if (!Current(context) || domain != g_platform->Domain())
        return 0;
    return ReadConfig(context, bus, dev, fn, offset, kReadExLength, buffer);
}

uint32_t WriteConfig(uint32_t context, uint32_t bus, uint32_t dev, uint32_t fn, uint32_t offset, uint32_t length,
                     uint8_t* buffer)
{
    Platform* p = Current(context);
    return p && buffer ? p->Write(bus, dev, fn, offset, length, buffer) : 0;
}

uint32_t CloseDriver(uint32_t context)
{
    if (!Current(context))
        return 0;
    if (!g_stateFile.empty())
        SaveState(*g_platform, g_stateFile);
    g_platform.reset();
    g_context = 0;
    return 1;
}

} // namespace

Platform* OpenedPlatform() { return g_platform.get(); }

} // namespace qorbsim

extern "C" QORB_DRIVER_EXPORT uint32_t QorbDriver_Domains(uint32_t* served, uint32_t* domains, uint32_t max)
{
    qorbsim::Platform* p = qorbsim::OpenedPlatform();
    if (!p || !served || (!domains && max))
        return 0;
    *served = p->Domain();
    const std::vector<uint32_t>& all = p->Domains();
    for (uint32_t i = 0; i < max && i < all.size(); ++i)
        domains[i] = all[i];
    return static_cast<uint32_t>(all.size());
}
static_assert(std::is_same_v<decltype(&QorbDriver_Domains), qorb_domains::DomainsFn>);

extern "C" QORB_DRIVER_EXPORT uint32_t ConfigDriver_GetInterface(_CONFIG_DRIVER_INTERFACE_t* table)
{
    if (!table)
        return 0;
    *table = _CONFIG_DRIVER_INTERFACE_t{};
    table->OpenDriver = qorbsim::OpenDriver;
    table->MapConfigSpace = qorbsim::MapConfigSpace;
    table->QueryMcfgTable = qorbsim::QueryMcfgTable;
    table->ReadConfig = qorbsim::ReadConfig;
    table->ReadConfigEx = qorbsim::ReadConfigEx;
    table->WriteConfig = qorbsim::WriteConfig;
    table->CloseDriver = qorbsim::CloseDriver;
    return 1;
}
