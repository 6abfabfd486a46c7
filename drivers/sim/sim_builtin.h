/* The built-in platform: served when no dump is configured. Its layout is
 * described in docs/simulator.md; other code and tests rely on it, so its
 * locations, IDs and port types stay as they are. */
#ifndef QORBSIM_BUILTIN_H
#define QORBSIM_BUILTIN_H

#include <vector>

#include "sim_image.h"

namespace qorbsim {

constexpr uint16_t kBuiltinVendor = 0x5153;   /* the simulated platform's functions */
constexpr uint16_t kZebVendor = 0x5A45;       /* the ZEB test card's two functions */

std::vector<FunctionImage> BuiltinPlatform();

} // namespace qorbsim

#endif
