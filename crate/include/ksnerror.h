/* Result codes shared by the crate API and the module API. */
#ifndef KSNERROR_H
#define KSNERROR_H

#ifdef __cplusplus
extern "C" {
#endif

/* Every call returns 0 on success or one of these negative codes
   (KSN48_Recv returns a word count on success). */
typedef enum KsnError {
    KSN_OK = 0,
    KSN_ERR_INVALID_ARGUMENT = -1, /* null pointer, bad slot, bad count ... */
    KSN_ERR_NOT_INITIALIZED = -2,  /* record not prepared by its _Init call */
    KSN_ERR_CONNECT = -3,          /* crate server not reachable */
    KSN_ERR_CONNECTION_LOST = -4,  /* server closed or broke the connection */
    KSN_ERR_TIMEOUT = -5,          /* no complete reply within the time allowed */
    KSN_ERR_PROTOCOL = -6,         /* malformed or unexpected reply */
    KSN_ERR_VERSION = -7,          /* server speaks another protocol version */
    KSN_ERR_NOT_FOUND = -8,        /* no such crate or slot */
    KSN_ERR_NOT_MODULE = -9,       /* slot holds no KSN48 module */
    KSN_ERR_BUSY = -10,            /* module already open by another client */
    KSN_ERR_REFUSED = -11,         /* server refused the request */
    KSN_ERR_NOT_OPEN = -12,        /* no open crate or module on this record */
    KSN_ERR_STATE = -13,           /* call not allowed in the current state */
    KSN_ERR_BAD_DATA = -14,        /* raw words inconsistent with the configuration */
    KSN_ERR_NO_MEMORY = -15,
    KSN_ERR_INTERNAL = -16,
    KSN_ERR_SERVER_FULL = -17, /* server serves as many connections as it allows */
    KSN_ERR_CANCELLED = -18    /* call cut short by KSN48_CancelRecv */
} KsnError;

/* Name of a result code, such as "KSN_ERR_TIMEOUT"; "KSN_ERR_UNKNOWN" for
   values outside the enum. Never returns null. */
static inline const char* KSN_ErrorName(int code)
{
    switch (code) {
    case KSN_OK:
        return "KSN_OK";
    case KSN_ERR_INVALID_ARGUMENT:
        return "KSN_ERR_INVALID_ARGUMENT";
    case KSN_ERR_NOT_INITIALIZED:
        return "KSN_ERR_NOT_INITIALIZED";
    case KSN_ERR_CONNECT:
        return "KSN_ERR_CONNECT";
    case KSN_ERR_CONNECTION_LOST:
        return "KSN_ERR_CONNECTION_LOST";
    case KSN_ERR_TIMEOUT:
        return "KSN_ERR_TIMEOUT";
    case KSN_ERR_PROTOCOL:
        return "KSN_ERR_PROTOCOL";
    case KSN_ERR_VERSION:
        return "KSN_ERR_VERSION";
    case KSN_ERR_NOT_FOUND:
        return "KSN_ERR_NOT_FOUND";
    case KSN_ERR_NOT_MODULE:
        return "KSN_ERR_NOT_MODULE";
    case KSN_ERR_BUSY:
        return "KSN_ERR_BUSY";
    case KSN_ERR_REFUSED:
        return "KSN_ERR_REFUSED";
    case KSN_ERR_NOT_OPEN:
        return "KSN_ERR_NOT_OPEN";
    case KSN_ERR_STATE:
        return "KSN_ERR_STATE";
    case KSN_ERR_BAD_DATA:
        return "KSN_ERR_BAD_DATA";
    case KSN_ERR_NO_MEMORY:
        return "KSN_ERR_NO_MEMORY";
    case KSN_ERR_INTERNAL:
        return "KSN_ERR_INTERNAL";
    case KSN_ERR_SERVER_FULL:
        return "KSN_ERR_SERVER_FULL";
    case KSN_ERR_CANCELLED:
        return "KSN_ERR_CANCELLED";
    default:
        return "KSN_ERR_UNKNOWN";
    }
}

#ifdef __cplusplus
}
#endif

#endif
