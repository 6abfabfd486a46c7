/* The simulator's own configuration file, qorbsim.ini in the current
 * directory (format in docs/simulator.md). */
#ifndef QORBSIM_CONFIG_H
#define QORBSIM_CONFIG_H

#include <string>
#include <vector>

namespace qorbsim {

constexpr const char* kConfigFile = "qorbsim.ini";

struct SimConfig {
    bool fromFile = false;            /* a configuration file was read */
    std::vector<std::string> dumps;   /* [platform] dump, in file order */
};

/* Reads qorbsim.ini. A missing file is no error (the defaults stand);
 * a file that cannot be read or holds anything the simulator does not know
 * is reported on standard error and answers false. */
bool LoadConfig(SimConfig& config);

} // namespace qorbsim

#endif
