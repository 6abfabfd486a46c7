/* An export that the configuration drivers shipped with qorb offer beside
 * ConfigDriver_GetInterface: the PCI domain the open driver serves and every
 * domain it found. The driver table has no entry for domains, so the qorb
 * tool looks this one up in the driver it loaded; other drivers lack it.
 *
 * The domain served is chosen in the driver's configuration file (key
 * "domain", hex) and overridden by the environment variable QORB_DOMAIN. */
#ifndef QORB_COMMON_DRIVER_DOMAINS_H
#define QORB_COMMON_DRIVER_DOMAINS_H

#include <stdint.h>

namespace qorb_domains {

/* Stores the served domain through served and up to max domains, ascending,
 * in domains; answers how many domains there are (possibly more than max),
 * or 0 when the driver is not open. */
extern "C" typedef uint32_t (*DomainsFn)(uint32_t* served, uint32_t* domains, uint32_t max);

inline constexpr const char* kExport = "QorbDriver_Domains";
inline constexpr const char* kVariable = "QORB_DOMAIN";

} // namespace qorb_domains

#endif
