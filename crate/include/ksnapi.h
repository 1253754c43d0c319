/* Crate API: connection to the crate server, crate list, crate information,
   module list of a crate. All calls block. */
#ifndef KSNAPI_H
#define KSNAPI_H

#include <stddef.h>
#include <stdint.h>

#include "ksnerror.h"

#ifdef __cplusplus
extern "C" {
#endif

#define KSN_API __attribute__((visibility("default")))

enum {
    KSN_MAX_CRATES = 16,
    KSN_SERIAL_SIZE = 16, /* bytes of a serial text, terminator included */
    KSN_SLOT_COUNT = 16,
    KSN_MODULE_ID_KSN48 = 0x3030
};

/* Crate connection record, in the caller's storage. The caller writes only
   CrateSerial and Channel; everything else belongs to the library. */
typedef struct KsnCrateLink {
    uint32_t Magic;       /* 0: set by KSN_Init */
    uint8_t State;        /* 4 */
    uint8_t Reserved0;    /* 5 */
    char CrateSerial[16]; /* 6: crate to open; empty = the server itself */
    uint16_t Channel;     /* 22: 0 = the default link channel */
    int32_t Socket;       /* 24 */
    uint32_t Address;     /* 28: server address, host order */
    uint16_t Port;        /* 32 */
    uint16_t RequestId;   /* 34: id of the next request */
} KsnCrateLink;

/* Crate information: 8 bytes reserved by the caller. */
typedef struct KsnCrateInfo {
    uint8_t CrateType; /* 0: crate type code */
    uint8_t SlotCount; /* 1 */
    uint8_t Reserved[6];
} KsnCrateInfo;

/* Prepares link for the local crate server (127.0.0.1, port 11111, or the
   port in the environment variable KSN_CRATE_PORT). Zeroes the record.
   Returns 0, or KSN_ERR_INVALID_ARGUMENT for a null link. */
KSN_API int KSN_Init(KsnCrateLink* link);

/* Connects to the crate server; when CrateSerial is not empty, also selects
   that crate. Channel must be 0. Returns 0, KSN_ERR_INVALID_ARGUMENT
   (Channel not 0, CrateSerial without terminator), KSN_ERR_NOT_INITIALIZED,
   KSN_ERR_STATE (already open), KSN_ERR_CONNECT (refused: at once),
   KSN_ERR_TIMEOUT, KSN_ERR_PROTOCOL, KSN_ERR_VERSION,
   KSN_ERR_CONNECTION_LOST, KSN_ERR_SERVER_FULL (the server takes no more
   connections) or KSN_ERR_NOT_FOUND (no crate of that serial).
   On failure the link stays closed. */
KSN_API int KSN_Open(KsnCrateLink* link);

/* Fills list with the serials of the crates the server reports, in the
   server's order, each zero-terminated; entries after the last are zeroed.
   list is left untouched on failure. Returns 0, KSN_ERR_INVALID_ARGUMENT,
   KSN_ERR_NOT_INITIALIZED, KSN_ERR_NOT_OPEN, KSN_ERR_TIMEOUT,
   KSN_ERR_PROTOCOL or KSN_ERR_CONNECTION_LOST. A call that timed out with
   nothing of its reply arrived leaves the link usable (a late reply is
   recognised by its request id and dropped). After a malformed reply, a
   lost connection or a reply cut off by the timeout the link reports
   KSN_ERR_CONNECTION_LOST until it is closed and opened again. */
KSN_API int KSN_GetCrates(KsnCrateLink* link, char list[KSN_MAX_CRATES][KSN_SERIAL_SIZE]);

/* Information on the crate selected by KSN_Open. Returns as KSN_GetCrates;
   KSN_ERR_STATE when no crate is selected. */
KSN_API int KSN_GetCrateInfo(KsnCrateLink* link, KsnCrateInfo* info);

/* Module type id of each slot of the selected crate: ids[k] for slot k + 1,
   0 for an empty slot, KSN_MODULE_ID_KSN48 for a KSN48 module. Returns as
   KSN_GetCrateInfo. */
KSN_API int KSN_GetCrateModules(KsnCrateLink* link, uint16_t ids[KSN_SLOT_COUNT]);

/* Closes the connection, if any. Returns 0, KSN_ERR_INVALID_ARGUMENT or
   KSN_ERR_NOT_INITIALIZED (the record was never prepared: nothing is
   touched). */
KSN_API int KSN_Close(KsnCrateLink* link);

#ifdef __cplusplus
}
#endif

#ifdef __cplusplus
static_assert(sizeof(KsnCrateLink) == 36, "KsnCrateLink layout");
static_assert(offsetof(KsnCrateLink, CrateSerial) == 6, "KsnCrateLink layout");
static_assert(offsetof(KsnCrateLink, Channel) == 22, "KsnCrateLink layout");
static_assert(sizeof(KsnCrateInfo) == 8, "KsnCrateInfo layout");
static_assert(offsetof(KsnCrateInfo, CrateType) == 0, "KsnCrateInfo layout");
#else
_Static_assert(sizeof(KsnCrateLink) == 36, "KsnCrateLink layout");
_Static_assert(offsetof(KsnCrateLink, CrateSerial) == 6, "KsnCrateLink layout");
_Static_assert(offsetof(KsnCrateLink, Channel) == 22, "KsnCrateLink layout");
_Static_assert(sizeof(KsnCrateInfo) == 8, "KsnCrateInfo layout");
_Static_assert(offsetof(KsnCrateInfo, CrateType) == 0, "KsnCrateInfo layout");
#endif

#endif
