/* qorbsim.ini reading (inih). Unknown sections and keys are errors, so a
 * misspelt setting never leaves a test running on a platform other than
 * the one it asked for. */
#include "sim_config.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <ini.h>

#include "sim_image.h"

namespace qorbsim {
namespace {

struct ParseState {
    SimConfig* config;
    bool ok = true;
};

int OnValue(void* user, const char* section, const char* name, const char* value)
{
    auto* state = static_cast<ParseState*>(user);
    std::string s = section;
    std::string key = name;
    if (s == "platform" && key == "dump") {
        if (!*value) {
            Report("%s: [platform] dump has no file name", kConfigFile);
            state->ok = false;
            return 1;
        }
        state->config->dumps.push_back(value);
        return 1;
    }
    Report("%s: unknown setting '%s' in section [%s]", kConfigFile, name, section);
    state->ok = false;
    return 1;
}

} // namespace

bool LoadConfig(SimConfig& config)
{
    config = SimConfig{};
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

} // namespace qorbsim
