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
/* The partner device (VOK): any function with these IDs; 06:00.0 in the
 * built-in platform. */
constexpr uint16_t kVokDevice = 0x1020;

std::vector<FunctionImage> BuiltinPlatform();

} // namespace qorbsim

#endif
