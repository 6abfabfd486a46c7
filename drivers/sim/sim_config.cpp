/* qorbsim.ini reading (inih). Unknown sections and keys are errors, so a
 * misspelt setting never leaves a test running on a platform other than
 * the one it asked for. */
#include "sim_config.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <ini.h>

#include <qorb_common/driver_domains.h>

#include "sim_image.h"

namespace qorbsim {
namespace {

struct ParseState {
    SimConfig* config;
    bool ok = true;
};

/* A whole number in C notation (0x.. hex, else decimal) up to max. */
std::optional<uint32_t> Number(const char* text, uint32_t max)
{
    if (!*text || *text == '-' || *text == '+')
        return std::nullopt;
    errno = 0;
    char* end = nullptr;
    unsigned long long value = strtoull(text, &end, 0);
    if (errno || *end || value > max)
        return std::nullopt;
    return static_cast<uint32_t>(value);
}

/* "function BB:DD.F" */
bool ParseFunctionSection(const std::string& section, uint8_t& bus, uint8_t& dev, uint8_t& fn)
{
    unsigned b, d, f;
    int used = 0;
    if (sscanf(section.c_str(), "function %2x:%2x.%1x%n", &b, &d, &f, &used) != 3 ||
        static_cast<size_t>(used) != section.size() || d > 0x1F || f > 7)
        return false;
    bus = static_cast<uint8_t>(b);
    dev = static_cast<uint8_t>(d);
    fn = static_cast<uint8_t>(f);
    return true;
}

FunctionSettings& SettingsFor(SimConfig& config, uint8_t bus, uint8_t dev, uint8_t fn)
{
    for (FunctionSettings& s : config.functions)
        if (s.bus == bus && s.dev == dev && s.fn == fn)
            return s;
    config.functions.push_back({});
    FunctionSettings& s = config.functions.back();
    s.bus = bus;
    s.dev = dev;
    s.fn = fn;
    return s;
}

bool FunctionValue(FunctionSettings& s, const std::string& key, const char* value, const char* section)
{
    struct Register {
        const char* key;
        std::optional<uint32_t> FunctionSettings::*field;
        uint32_t max;
    };
    static const Register registers[] = {
        {"aer_uncorrectable", &FunctionSettings::aerUncorrectable, 0xFFFFFFFF},
        {"aer_correctable", &FunctionSettings::aerCorrectable, 0xFFFFFFFF},
        {"status", &FunctionSettings::status, 0xFFFF},
        {"secondary_status", &FunctionSettings::secondaryStatus, 0xFFFF},
        {"device_status", &FunctionSettings::deviceStatus, 0xFFFF},
        {"link_status", &FunctionSettings::linkStatus, 0xFFFF},
    };
    for (const Register& r : registers) {
        if (key != r.key)
            continue;
        auto number = Number(value, r.max);
        if (!number) {
            Report("%s: [%s] %s = '%s' is not a number from 0 to 0x%x", kConfigFile, section, r.key, value, r.max);
            return false;
        }
        s.*r.field = *number;
        return true;
    }
    if (key == "link_training_stuck") {
        auto number = Number(value, 1);
        if (!number) {
            Report("%s: [%s] link_training_stuck = '%s' must be 0 or 1", kConfigFile, section, value);
            return false;
        }
        s.linkTrainingStuck = *number == 1;
        return true;
    }
    if (key == "break_capabilities") {
        static const struct {
            const char* name;
            ListBreak kind;
        } kinds[] = {{"legacy-loop", ListBreak::kLegacyLoop},
                     {"legacy-wild", ListBreak::kLegacyWild},
                     {"extended-loop", ListBreak::kExtendedLoop}};
        for (const auto& k : kinds) {
            if (strcasecmp(value, k.name) == 0) {
                s.breaks.push_back(k.kind);
                return true;
            }
        }
        Report("%s: [%s] break_capabilities = '%s': expected legacy-loop, legacy-wild or extended-loop",
               kConfigFile, section, value);
        return false;
    }
    Report("%s: unknown setting '%s' in section [%s]", kConfigFile, key.c_str(), section);
    return false;
}

bool OnSetting(SimConfig& config, const char* section, const char* name, const char* value)
{
    std::string s = section;
    std::string key = name;
    if (s == "platform" && key == "dump") {
        if (!*value) {
            Report("%s: [platform] dump has no file name", kConfigFile);
            return false;
        }
        config.dumps.push_back(value);
        return true;
    }
    if (s == "platform" && (key == "domain" || key == "state")) {
        auto domain = ParseDomain(value);
        if (key == "state" ? !*value : !domain) {
            Report("%s: [platform] %s = '%s': expected %s", kConfigFile, name, value,
                   key == "state" ? "a file name" : "a PCI domain of 1 to 8 hex digits");
            return false;
        }
        if (key == "state")
            config.stateFile = value;
        else
            config.domain = *domain, config.domainChosen = true;
        return true;
    }
    if (s == "link" && key == "training_ms") {
        auto number = Number(value, kMaxTrainingMs);
        if (!number) {
            Report("%s: [link] training_ms = '%s' is not a number of milliseconds from 0 to %u", kConfigFile, value,
                   kMaxTrainingMs);
            return false;
        }
        config.trainingMs = *number;
        return true;
    }
    uint8_t bus, dev, fn;
    if (s.rfind("function", 0) == 0) {
        if (!ParseFunctionSection(s, bus, dev, fn)) {
            Report("%s: section [%s]: expected [function BB:DD.F] with device 00-1f and function 0-7", kConfigFile,
                   section);
            return false;
        }
        return FunctionValue(SettingsFor(config, bus, dev, fn), key, value, section);
    }
    Report("%s: unknown setting '%s' in section [%s]", kConfigFile, name, section);
    return false;
}

int OnValue(void* user, const char* section, const char* name, const char* value)
{
    auto* state = static_cast<ParseState*>(user);
    if (!OnSetting(*state->config, section, name, value))
        state->ok = false;
    return 1;
}

bool ReadConfigFile(SimConfig& config)
{
    FILE* file = fopen(kConfigFile, "r");
    if (!file) {
        if (errno == ENOENT)
            return true;
        Report("%s: cannot open: %s", kConfigFile, strerror(errno));
        return false;
    }
    config.fromFile = true;
    ParseState state{&config};
    int line = ini_parse_file(file, OnValue, &state);
    fclose(file);
    if (line > 0) {
        Report("%s:%d: not a [section], key = value or comment line", kConfigFile, line);
        return false;
    }
    if (line < 0) {
        Report("%s: out of memory while reading", kConfigFile);
        return false;
    }
    return state.ok;
}

} // namespace

std::optional<uint32_t> ParseDomain(const char* text)
{
    const char* digits = strncasecmp(text, "0x", 2) == 0 ? text + 2 : text;
    size_t n = strlen(digits);
    if (n == 0 || n > 8 || strspn(digits, "0123456789abcdefABCDEF") != n)
        return std::nullopt;
    return static_cast<uint32_t>(strtoul(digits, nullptr, 16));
}

bool LoadConfig(SimConfig& config)
{
    config = SimConfig{};
    if (!ReadConfigFile(config))
        return false;
    const char* domain = getenv(qorb_domains::kVariable);
    if (domain) {
        auto value = ParseDomain(domain);
        if (!value) {
            Report("%s=%s: expected a PCI domain of 1 to 8 hex digits", qorb_domains::kVariable, domain);
            return false;
        }
        config.domain = *value;
        config.domainChosen = true;
    }
    return true;
}

} // namespace qorbsim
