/* Test driver that loads but exports no ConfigDriver_GetInterface (its test
 * card tables are there: the library must not reach them). */
#define TDRV_CARD_TABLES
#include "tdrv_impl.h"
