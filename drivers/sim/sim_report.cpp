/* Diagnostics of the simulator: one line on standard error each. */
#include <stdarg.h>
#include <stdio.h>

#include "sim_image.h"

namespace qorbsim {

void Report(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    fputs("qorbsim: ", stderr);
    vfprintf(stderr, format, args);
    fputc('\n', stderr);
    va_end(args);
}

} // namespace qorbsim
