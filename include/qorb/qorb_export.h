/* Symbol visibility for libqorb. The library is built with hidden visibility;
 * everything an application may call is marked QORB_API. */
#ifndef QORB_EXPORT_H
#define QORB_EXPORT_H

#if defined(QORB_BUILDING_LIBRARY)
#define QORB_API __attribute__((visibility("default")))
#else
#define QORB_API
#endif

#ifdef __cplusplus
#define QORB_EXTERN_C extern "C"
#else
#define QORB_EXTERN_C
#endif

#endif
