/* Reading the texts of an assertion record. Each of major, minor, item and
 * subitem is a 5-byte field meant to hold a NUL-terminated text; a field that
 * lacks its terminator is read up to its fifth byte and never beyond. */
#ifndef QORB_LOG_FIELDS_H
#define QORB_LOG_FIELDS_H

#include <string.h>

#include <string_view>

template <size_t N>
inline std::string_view TestNumField(const char (&field)[N])
{
    return std::string_view(field, strnlen(field, N));
}

#endif
