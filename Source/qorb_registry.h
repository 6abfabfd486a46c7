/* The registry of live records: every instance, device record, capability
 * handle and log the library hands out is entered here when it is made and
 * taken out when it is released. The close operations consult it, so a close
 * repeated on the same handle, or given a pointer that never came from the
 * library, changes nothing.
 *
 * A stale handle whose memory has since been reused by a newer record of the
 * same kind cannot be told apart from that record: closing it closes the
 * newer one. Operations other than the closes use their handles without
 * consulting the registry. */
#ifndef QORB_REGISTRY_H
#define QORB_REGISTRY_H

enum class QorbRecordKind { kInstance, kDevice, kCapability, kLog };

/* Enters a new record; false when memory runs out (the record must then be
 * released by its maker and the making fail). */
bool RegisterRecord(QorbRecordKind kind, const void* record);
/* Takes a record out; false when it was not live (nothing to release). */
bool UnregisterRecord(QorbRecordKind kind, const void* record);

#endif
