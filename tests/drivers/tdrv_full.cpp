/* Test driver with the configuration table and both test card tables. */
#define TDRV_GET_INTERFACE
#define TDRV_CARD_TABLES
#include "tdrv_impl.h"
