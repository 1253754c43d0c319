/* Module API: one KSN48 module (8-channel ADC with sensor current source)
   in a slot of a crate. All calls block. */
#ifndef KSN48API_H
#define KSN48API_H

#include <stddef.h>
#include <stdint.h>

#include "ksnerror.h"

#ifdef __cplusplus
extern "C" {
#endif

#define KSN48_API __attribute__((visibility("default")))

enum {
    KSN48_CHANNEL_COUNT = 8,
    KSN48_DEFAULT_ADDRESS = 0x7F000001, /* 127.0.0.1 */
    KSN48_DEFAULT_PORT = 11111,
    KSN48_FLAG_CONVERT = 0x81, /* always set by callers of KSN48_ProcessData */
    KSN48_FLAG_PHASE_CORRECTION = 0x10
};

/* Channel status words written by KSN48_ProcessData. */
enum {
    KSN48_STATUS_VALID = 0, /* the channel's samples are a signal */
    KSN48_STATUS_SHORT = 1, /* short circuit at the sensor input */
    KSN48_STATUS_OPEN = 2   /* open circuit at the sensor input */
};

/* Per-channel configuration block, 48 bytes. */
typedef struct Ksn48ChannelRecord {
    int32_t ChannelEnabled; /* +0: 1 = acquired, 0 = not */
    int32_t Reserved[11];
} Ksn48ChannelRecord;

/* Module handle. The caller writes Channel[].ChannelEnabled, RateCode,
   DataFormat and CurrentSource before KSN48_SetADC and reads
   AcquisitionRunning and the identity fields; the rest belongs to the library. */
typedef struct Ksn48Handle {
    uint32_t Magic;                /* 0: set by KSN48_Init */
    int32_t Socket;                /* 4 */
    uint32_t Address;              /* 8 */
    uint16_t Port;                 /* 12 */
    uint16_t Slot;                 /* 14 */
    char CrateSerial[16];          /* 16 */
    uint32_t NextRequestId;        /* 32 */
    uint32_t OpenFlags;            /* 36 */
    int32_t CancelEvent;           /* 40: raised by KSN48_CancelRecv */
    Ksn48ChannelRecord Channel[KSN48_CHANNEL_COUNT]; /* 44 + 48 * ch */
    uint8_t RateCode;              /* 428: rate = 78125 / 2^code Hz, code 0..7 */
    uint8_t DataFormat;            /* 429: 0 = 20-bit (1 word/sample), 1 = 24-bit (2 words) */
    uint8_t CurrentSource;         /* 430: 0 = 2.86 mA, 1 = 10 mA */
    uint8_t Reserved1;             /* 431 */
    uint8_t LibraryState[204];     /* 432 */
    int32_t AcquisitionRunning;    /* 636: non-zero between KSN48_Start and KSN48_Stop */
    uint8_t StreamState[136];      /* 640 */
    char ModuleName[8];            /* 776: zero-terminated, filled by KSN48_Open */
    char ModuleSerial[16];         /* 784: zero-terminated, filled by KSN48_Open */
    uint16_t FirmwareVersion;      /* 800: filled by KSN48_Open */
    uint8_t Reserved2[222];        /* 802 .. 1023 */
} Ksn48Handle;

/* Prepares h for KSN48_Open: zeroes the record and marks it closed.
   Returns 0, or KSN_ERR_INVALID_ARGUMENT for a null handle. */
KSN48_API int KSN48_Init(Ksn48Handle* h);

/* Opens the KSN48 module in slot (1..16) of the crate crateSerial at the
   crate server address:port (address as a 32-bit number, 0x7F000001 for
   127.0.0.1; the environment variable KSN_CRATE_PORT, when set, replaces
   the port). Fills ModuleName, ModuleSerial and FirmwareVersion. A zeroed
   or closed handle may be opened without KSN48_Init; the configuration
   fields are kept. On failure the handle stays closed.
   Returns 0, KSN_ERR_INVALID_ARGUMENT, KSN_ERR_STATE (already open),
   KSN_ERR_CONNECT, KSN_ERR_TIMEOUT, KSN_ERR_PROTOCOL, KSN_ERR_VERSION,
   KSN_ERR_CONNECTION_LOST, KSN_ERR_NOT_FOUND, KSN_ERR_NOT_MODULE,
   KSN_ERR_BUSY, KSN_ERR_REFUSED, KSN_ERR_SERVER_FULL (the server takes no
   more connections) or KSN_ERR_NO_MEMORY (out of descriptors). */
KSN48_API int KSN48_Open(Ksn48Handle* h, uint32_t address, uint16_t port, const char* crateSerial,
                         int slot);

/* 0 when h holds an open module, KSN_ERR_NOT_OPEN otherwise (also for null). */
KSN48_API int KSN48_IsOpened(const Ksn48Handle* h);

/* Stops a running acquisition and closes the module. Tells the server and
   waits a short time (1 s) for its answer, also after KSN48_Cancel, so that
   a server that answers has freed the module when it returns. Returns 0,
   KSN_ERR_INVALID_ARGUMENT or KSN_ERR_NOT_OPEN. */
KSN48_API int KSN48_Close(Ksn48Handle* h);

/* Applies Channel[].ChannelEnabled, RateCode, DataFormat and CurrentSource.
   Returns 0, KSN_ERR_INVALID_ARGUMENT (value out of range, no channel
   enabled), KSN_ERR_NOT_OPEN, KSN_ERR_STATE (acquisition running),
   KSN_ERR_TIMEOUT, KSN_ERR_PROTOCOL, KSN_ERR_CONNECTION_LOST,
   KSN_ERR_REFUSED or KSN_ERR_CANCELLED (KSN48_Cancel; the configuration then
   counts as not applied). */
KSN48_API int KSN48_SetADC(Ksn48Handle* h);

/* Starts an acquisition with the configuration last applied by
   KSN48_SetADC; sets AcquisitionRunning. Returns as KSN48_SetADC. A start
   cut short by KSN48_Cancel after its request went out sets
   AcquisitionRunning all the same (the server may yet start): call
   KSN48_Stop as usual. */
KSN48_API int KSN48_Start(Ksn48Handle* h);

/* Stops the running acquisition; clears AcquisitionRunning (also when the
   connection is lost). Returns 0, KSN_ERR_INVALID_ARGUMENT,
   KSN_ERR_NOT_OPEN, KSN_ERR_STATE (not running), KSN_ERR_TIMEOUT,
   KSN_ERR_PROTOCOL, KSN_ERR_CONNECTION_LOST or KSN_ERR_CANCELLED (after
   KSN48_Cancel: the stop was sent, its answer not waited for). */
KSN48_API int KSN48_Stop(Ksn48Handle* h);

/* Receives up to count raw 32-bit words of the running acquisition into
   words (format: crate/README.md). marks must be null (time marks are not
   supported). Waits at most timeoutMs (plus at most 100 ms) for the words.
   Returns the number of words received: count, or fewer when the server
   delivered fewer or only some were due by the timeout; or
   KSN_ERR_INVALID_ARGUMENT, KSN_ERR_NOT_OPEN, KSN_ERR_STATE (not running),
   KSN_ERR_TIMEOUT (none by the timeout), KSN_ERR_CANCELLED (see
   KSN48_CancelRecv and KSN48_Cancel), KSN_ERR_PROTOCOL or KSN_ERR_CONNECTION_LOST.
   A receive that timed out with nothing of its reply arrived leaves the
   connection as it was: words the server sends for it later are dropped,
   never delivered to a later call (the stream then has a gap; start a new
   acquisition for whole frames). After a malformed reply, a lost
   connection or a reply cut off by the timeout, every later call on the
   handle returns KSN_ERR_CONNECTION_LOST until it is closed. */
KSN48_API int KSN48_Recv(Ksn48Handle* h, uint32_t* words, uint32_t* marks, uint32_t count,
                         uint32_t timeoutMs);

/* Not part of the original contract: cuts short a KSN48_Recv blocked on
   h in another thread, or the next one when none is blocked. Thread-safe
   and async-signal-safe: it may be called from any thread or a signal
   handler while h is open, but not while another thread opens or closes h.
   Returns 0, KSN_ERR_INVALID_ARGUMENT (null) or KSN_ERR_NOT_OPEN.
   The blocked receive returns KSN_ERR_CANCELLED within a few milliseconds
   (words it may have put into its buffer are not counted); so does every
   KSN48_Recv on h after it, at once, until the next KSN48_Start. The handle
   stays open and AcquisitionRunning stays set: call KSN48_Stop and
   KSN48_Close as usual. Its connection stays in step (a reply to the
   cancelled receive that comes later is dropped), unless the cancel struck
   while a reply was arriving and that reply did not finish within 100 ms:
   then the handle behaves as after a lost connection. */
KSN48_API int KSN48_CancelRecv(Ksn48Handle* h);

/* Not part of the original contract: cuts short whatever call is in progress
   on h in another thread - KSN48_SetADC, KSN48_Start, KSN48_Stop or
   KSN48_Recv - and every such call after it, until KSN48_ClearCancel(h).
   Thread-safe and async-signal-safe, with the same limits as
   KSN48_CancelRecv. Returns 0, KSN_ERR_INVALID_ARGUMENT (null) or
   KSN_ERR_NOT_OPEN.
   A call in progress returns KSN_ERR_CANCELLED within a few milliseconds,
   later ones at once. KSN48_SetADC, KSN48_Start and KSN48_Recv then ask the
   server nothing more. KSN48_Stop still sends its request, without waiting
   for the answer, so that a server that answers again stops the
   acquisition; KSN48_Close is not cut short. The connection stays in step as
   after KSN48_CancelRecv: answers that come late are dropped, and a server
   that answers again serves the next calls after KSN48_ClearCancel. */
KSN48_API int KSN48_Cancel(Ksn48Handle* h);

/* Ends what KSN48_Cancel began: calls on h wait for the server again.
   Returns 0, KSN_ERR_INVALID_ARGUMENT or KSN_ERR_NOT_OPEN. */
KSN48_API int KSN48_ClearCancel(Ksn48Handle* h);

/* Converts raw words into volts. *size: in = raw word count, out = samples
   written (20-bit: equal to the word count; 24-bit: half of it). samples
   are interleaved over the enabled channels in channel order. status
   receives one word per enabled channel, in that order: 0 valid, 1 short
   circuit, 2 open circuit (KSN48_STATUS_*). flags: KSN48_FLAG_CONVERT, optionally with
   KSN48_FLAG_PHASE_CORRECTION. The words must begin at the start of an
   acquisition (first enabled channel first) and follow the configuration
   last applied by KSN48_SetADC. Returns 0, KSN_ERR_INVALID_ARGUMENT (null
   pointer, other flags, no whole sample), KSN_ERR_STATE (no configuration
   applied) or KSN_ERR_BAD_DATA (a word's channel tag, format or reserved
   bits do not match; *size is then 0). */
KSN48_API int KSN48_ProcessData(Ksn48Handle* h, const uint32_t* words, double* samples,
                                uint32_t* size, uint32_t flags,
                                int32_t status[KSN48_CHANNEL_COUNT]);

#ifdef __cplusplus
}
#endif

#ifdef __cplusplus
#define KSN48_STATIC_ASSERT static_assert
#else
#define KSN48_STATIC_ASSERT _Static_assert
#endif
KSN48_STATIC_ASSERT(offsetof(Ksn48Handle, Channel) == 44, "Ksn48Handle layout");
KSN48_STATIC_ASSERT(sizeof(Ksn48ChannelRecord) == 48, "Ksn48Handle layout");
KSN48_STATIC_ASSERT(offsetof(Ksn48ChannelRecord, ChannelEnabled) == 0, "Ksn48Handle layout");
KSN48_STATIC_ASSERT(offsetof(Ksn48Handle, RateCode) == 428, "Ksn48Handle layout");
KSN48_STATIC_ASSERT(offsetof(Ksn48Handle, DataFormat) == 429, "Ksn48Handle layout");
KSN48_STATIC_ASSERT(offsetof(Ksn48Handle, CurrentSource) == 430, "Ksn48Handle layout");
KSN48_STATIC_ASSERT(offsetof(Ksn48Handle, AcquisitionRunning) == 636, "Ksn48Handle layout");
KSN48_STATIC_ASSERT(offsetof(Ksn48Handle, ModuleName) == 776, "Ksn48Handle layout");
KSN48_STATIC_ASSERT(offsetof(Ksn48Handle, ModuleSerial) == 784, "Ksn48Handle layout");
KSN48_STATIC_ASSERT(offsetof(Ksn48Handle, FirmwareVersion) == 800, "Ksn48Handle layout");
KSN48_STATIC_ASSERT(sizeof(Ksn48Handle) == 1024, "Ksn48Handle layout");

#endif
