/* The registry of live records: one hash set per kind. The sets are made on
 * first use and never destroyed, so a close that runs from a static
 * destructor at exit still finds them. They hold each address inverted, so
 * that the registry does not keep a record reachable: a record the caller
 * never closes is still reported by a leak checker. */
#include "qorb_registry.h"

#include <stdint.h>

#include <new>
#include <unordered_set>

namespace {

constexpr int kKinds = 4;

uintptr_t Key(const void* record) { return ~reinterpret_cast<uintptr_t>(record); }

std::unordered_set<uintptr_t>& Live(QorbRecordKind kind)
{
    static auto* sets = new std::unordered_set<uintptr_t>[kKinds];
    return sets[static_cast<int>(kind)];
}

} // namespace

bool RegisterRecord(QorbRecordKind kind, const void* record)
{
    try {
        return Live(kind).insert(Key(record)).second;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool UnregisterRecord(QorbRecordKind kind, const void* record)
{
    return record && Live(kind).erase(Key(record)) == 1;
}
