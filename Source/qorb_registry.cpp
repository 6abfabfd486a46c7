/* The registry of live records: one hash set per kind. The sets are made on
 * first use and never destroyed, so a close that runs from a static
 * destructor at exit still finds them. */
#include "qorb_registry.h"

#include <new>
#include <unordered_set>

namespace {

constexpr int kKinds = 4;

std::unordered_set<const void*>& Live(QorbRecordKind kind)
{
    static auto* sets = new std::unordered_set<const void*>[kKinds];
    return sets[static_cast<int>(kind)];
}

} // namespace

bool RegisterRecord(QorbRecordKind kind, const void* record)
{
    try {
        return Live(kind).insert(record).second;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool UnregisterRecord(QorbRecordKind kind, const void* record)
{
    return record && Live(kind).erase(record) == 1;
}
