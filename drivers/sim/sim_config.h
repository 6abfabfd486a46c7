/* The simulator's own configuration file, qorbsim.ini in the current
 * directory (format in docs/simulator.md). */
#ifndef QORBSIM_CONFIG_H
#define QORBSIM_CONFIG_H

#include <stdint.h>

#include <optional>
#include <string>
#include <vector>

namespace qorbsim {

constexpr const char* kConfigFile = "qorbsim.ini";
constexpr uint32_t kDefaultTrainingMs = 20;
constexpr uint32_t kMaxTrainingMs = 60000;

/* Ways to break a function's capability lists for negative tests. */
enum class ListBreak {
    kLegacyLoop,      /* the last legacy capability points back at the first */
    kLegacyWild,      /* the last legacy capability points into the header (0x3c) */
    kExtendedLoop,    /* the last extended capability points back at 0x100 */
};

/* A [function BB:DD.F] section. Register presets are OR'ed into the
 * function's registers when the platform is loaded. */
struct FunctionSettings {
    uint8_t bus = 0, dev = 0, fn = 0;
    std::optional<uint32_t> aerUncorrectable;   /* AER Uncorrectable Error Status */
    std::optional<uint32_t> aerCorrectable;     /* AER Correctable Error Status */
    std::optional<uint32_t> status;             /* Status (0x06) */
    std::optional<uint32_t> secondaryStatus;    /* Secondary Status (0x1e) of a bridge */
    std::optional<uint32_t> deviceStatus;       /* PCI Express Device Status */
    std::optional<uint32_t> linkStatus;         /* PCI Express Link Status */
    bool linkTrainingStuck = false;             /* a downstream port's Link Training never clears */
    std::vector<ListBreak> breaks;
};

struct SimConfig {
    bool fromFile = false;            /* a configuration file was read */
    std::vector<std::string> dumps;   /* [platform] dump, in file order */
    uint32_t domain = 0; /* [platform] domain: the PCI domain served */
    bool domainChosen = false; /* by the file or QORB_DOMAIN: other domains are left out quietly */
    std::string stateFile; /* [platform] state: registers kept across opens */
    uint32_t trainingMs = kDefaultTrainingMs;   /* [link] training_ms */
    std::vector<FunctionSettings> functions;    /* one per function named, in file order */
};

/* Reads qorbsim.ini. A missing file is no error (the defaults stand);
 * a file that cannot be read or holds anything the simulator does not know
 * is reported on standard error and answers false. */
bool LoadConfig(SimConfig& config);

/* A PCI domain as Linux writes it: 1 to 8 hex digits, "0x" allowed. */
std::optional<uint32_t> ParseDomain(const char* text);

} // namespace qorbsim

#endif
