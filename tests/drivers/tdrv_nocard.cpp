/* Test driver with the configuration table only. */
#define TDRV_GET_INTERFACE
#include "tdrv_impl.h"
