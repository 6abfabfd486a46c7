/* What lspci_oracle.h still takes from here; the topology tests are in test_topology.cpp. This file goes
 * with lspci_oracle.h. */
#ifndef TOPOLOGY_TEST_PLATFORMS_H
#define TOPOLOGY_TEST_PLATFORMS_H

#include <gtest/gtest.h>

#include "qorb_test_support.h"

namespace topotest {

inline bool HaveSim()
{
#ifdef QORB_SIM_DRIVER_PATH
    return true;
#else
    return false;
#endif
}

} // namespace topotest

#endif
