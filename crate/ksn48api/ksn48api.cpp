// Module API client for one KSN48 module.

#include "ksn48api.h"
#include "ksnapi.h"  // the crate's slot count

#include <algorithm>
#include <bit>
#include <cstring>

#include "Connection.h"
#include "Protocol.h"
#include "RawWord.h"

namespace {

using ksn::proto::ClientConnection;
using ksn::proto::Message;
using ksn::proto::Opcode;
using ksn::proto::Reader;
using ksn::proto::Writer;

constexpr std::size_t kSerialSize = ksn::proto::kSerialField;  // terminator included
constexpr uint32_t kMagicClosed = 0x3834434BU;
constexpr uint32_t kMagicOpen = 0x3834344FU;
constexpr uint32_t kConnectTimeoutMs = 2000;
constexpr uint32_t kRequestTimeoutMs = 3000;
constexpr uint32_t kCloseTimeoutMs = 1000;
// Slack for the reply to a receive to travel after the server's own deadline.
constexpr uint32_t kRecvSlackMs = 50;

// Configuration last accepted by the server, kept in LibraryState: it is
// what the streamed words follow, whatever the caller writes later.
enum AppliedByte { kApplied, kAppliedMask, kAppliedRate, kAppliedFormat, kAppliedCurrent };
// Where LibraryState keeps the descriptor of the event KSN48_Cancel raises,
// plus one (0: none, as in a zeroed record).
constexpr std::size_t kStopEventAt = 8;

int StopEvent(const Ksn48Handle* h)
{
    int32_t stored = 0;
    std::memcpy(&stored, h->LibraryState + kStopEventAt, sizeof stored);
    return stored - 1;
}

void SetStopEvent(Ksn48Handle* h, int event)
{
    const int32_t stored = event + 1;
    std::memcpy(h->LibraryState + kStopEventAt, &stored, sizeof stored);
}

// The open record's events; a closed one has none (and a zeroed one must not
// be read as descriptor 0).
int ReceiveCancelEvent(const Ksn48Handle* h)
{
    return h->Magic == kMagicOpen ? h->CancelEvent : -1;
}

uint8_t EnabledMask(const Ksn48Handle* h, bool& valid)
{
    uint8_t mask = 0;
    valid = true;
    for (unsigned c = 0; c < KSN48_CHANNEL_COUNT; ++c) {
        const int32_t e = h->Channel[c].ChannelEnabled;
        if (e != 0 && e != 1) {
            valid = false;
        }
        if (e == 1) {
            mask = static_cast<uint8_t>(mask | (1U << c));
        }
    }
    return mask;
}

bool IsOpen(const Ksn48Handle* h)
{
    return h && h->Magic == kMagicOpen;
}

int CheckOpen(Ksn48Handle* h)
{
    if (!h) {
        return KSN_ERR_INVALID_ARGUMENT;
    }
    if (!IsOpen(h)) {
        return KSN_ERR_NOT_OPEN;
    }
    return h->Socket < 0 ? KSN_ERR_CONNECTION_LOST : KSN_OK;
}

// Which cancels cut a call short: every call of an open module is cut short
// by KSN48_Cancel, a receive also by KSN48_CancelRecv; the close by neither,
// so that a server that answers has freed the module when it returns.
enum class CallKind { Control, Receive, Close };

// The handle's connection for one call, cut short by the cancels its kind
// takes.
class HandleConnection : public ksn::proto::RecordConnection<uint32_t> {
public:
    explicit HandleConnection(Ksn48Handle* h, CallKind kind = CallKind::Control) noexcept
        : RecordConnection(h->Socket, h->NextRequestId, ksn::proto::kRequestIds32,
                           h->Magic == kMagicOpen && kind != CallKind::Close ? StopEvent(h) : -1,
                           kind == CallKind::Receive ? ReceiveCancelEvent(h) : -1)
    {}
};

void DropConnection(Ksn48Handle* h)
{
    HandleConnection(h)->Drop(KSN_OK);
}

bool StopRaised(const Ksn48Handle* h)
{
    return h->Magic == kMagicOpen && ksn::proto::CancelEventRaised(StopEvent(h));
}

// A request whose reply carries no payload, cut short by KSN48_Cancel.
// Payload and reply stay off the heap: start, stop and the settings go
// through here. *sent (when given) tells whether the request went out.
int SimpleRequest(Ksn48Handle* h, Opcode op, const uint8_t* payload, std::size_t size,
                  uint32_t timeoutMs, bool* sent = nullptr, CallKind kind = CallKind::Control)
{
    HandleConnection c(h, kind);
    const uint32_t idBefore = c->NextRequestId();
    ksn::proto::Header reply;
    const int r = c->Call(op, payload, size, reply, ksn::proto::ReplyRoom{},
                          ksn::proto::DeadlineIn(timeoutMs), true);
    if (sent) {
        *sent = c->NextRequestId() != idBefore;
    }
    if (r == KSN_OK && reply.payloadLength != 0) {
        return c->Drop(KSN_ERR_PROTOCOL);
    }
    return r;
}

// A request that must still reach the server after a cancel (a stop, a
// close): sent, its reply not waited for.
int PostRequest(Ksn48Handle* h, Opcode op)
{
    HandleConnection c(h);
    const int r = c->Post(op, nullptr, 0, ksn::proto::DeadlineIn(kCloseTimeoutMs));
    return r == KSN_OK ? KSN_ERR_CANCELLED : r;
}

void CopyText(char* field, std::size_t size, const std::string& text)
{
    std::memset(field, 0, size);
    std::memcpy(field, text.data(), std::min(text.size(), size - 1));
}

}  // namespace

extern "C" {

KSN48_API int KSN48_Init(Ksn48Handle* h)
{
    if (!ksn::proto::ResetRecord(h)) {
        return KSN_ERR_INVALID_ARGUMENT;
    }
    h->Magic = kMagicClosed;
    h->CancelEvent = -1;
    SetStopEvent(h, -1);
    return KSN_OK;
}

KSN48_API int KSN48_Open(Ksn48Handle* h, uint32_t address, uint16_t port, const char* crateSerial,
                         int slot)
{
    if (!h || !crateSerial || slot < 1 || slot > KSN_SLOT_COUNT) {
        return KSN_ERR_INVALID_ARGUMENT;
    }
    const std::size_t len = strnlen(crateSerial, kSerialSize);
    if (len == 0 || len >= kSerialSize) {
        return KSN_ERR_INVALID_ARGUMENT;
    }
    // A handle never prepared by KSN48_Init (zeroed, or left closed) may be
    // opened; only a handle that is open now is refused.
    if (IsOpen(h)) {
        return KSN_ERR_STATE;
    }
    h->Magic = kMagicClosed;
    h->Socket = -1;
    h->CancelEvent = -1;
    const int cancelEvent = ksn::proto::OpenCancelEvent();
    if (cancelEvent < 0) {
        return KSN_ERR_NO_MEMORY;
    }
    const int stopEvent = ksn::proto::OpenCancelEvent();
    if (stopEvent < 0) {
        ksn::proto::CloseCancelEvent(cancelEvent);
        return KSN_ERR_NO_MEMORY;
    }
    port = ksn::proto::PortFromEnvironment(port);
    const auto deadline = ksn::proto::DeadlineIn(kConnectTimeoutMs + kRequestTimeoutMs);
    const int fd = ClientConnection::Connect(address, port, kConnectTimeoutMs, h->NextRequestId,
                                             ksn::proto::kRequestIds32, deadline);
    if (fd < 0) {
        ksn::proto::CloseCancelEvent(cancelEvent);
        ksn::proto::CloseCancelEvent(stopEvent);
        return fd;
    }
    h->Socket = fd;
    Message reply;
    std::vector<uint8_t> payload;
    Writer w(payload);
    w.Text(std::string(crateSerial, len), ksn::proto::kSerialField);
    w.U16(static_cast<uint16_t>(slot));
    HandleConnection c(h);
    int r = c->Call(Opcode::ModuleOpen, payload, reply, deadline);
    std::string name;
    std::string serial;
    uint16_t firmware = 0;
    if (r == KSN_OK) {
        Reader in(reply.payload);
        name = in.Text(ksn::proto::kNameField);
        serial = in.Text(ksn::proto::kSerialField);
        firmware = in.U16();
        if (!in.AtEnd()) {
            r = KSN_ERR_PROTOCOL;
        }
    }
    if (r != KSN_OK) {
        c->Drop(r);
        ksn::proto::CloseCancelEvent(cancelEvent);
        ksn::proto::CloseCancelEvent(stopEvent);
        return r;
    }
    h->Magic = kMagicOpen;
    h->CancelEvent = cancelEvent;
    h->Address = address;
    h->Port = port;
    h->Slot = static_cast<uint16_t>(slot);
    CopyText(h->CrateSerial, sizeof h->CrateSerial, std::string(crateSerial, len));
    h->AcquisitionRunning = 0;
    std::memset(h->LibraryState, 0, sizeof h->LibraryState);
    SetStopEvent(h, stopEvent);
    std::memset(h->StreamState, 0, sizeof h->StreamState);
    CopyText(h->ModuleName, sizeof h->ModuleName, name);
    CopyText(h->ModuleSerial, sizeof h->ModuleSerial, serial);
    h->FirmwareVersion = firmware;
    return KSN_OK;
}

KSN48_API int KSN48_IsOpened(const Ksn48Handle* h)
{
    return IsOpen(h) ? KSN_OK : KSN_ERR_NOT_OPEN;
}

KSN48_API int KSN48_Close(Ksn48Handle* h)
{
    if (!h) {
        return KSN_ERR_INVALID_ARGUMENT;
    }
    if (!IsOpen(h)) {
        return KSN_ERR_NOT_OPEN;
    }
    if (h->Socket >= 0) {
        // Telling the server lets the module be reopened at once; a dead or
        // stalled server only costs the short close timeout. A cancel does
        // not cut it short: the module is free when an answering server
        // has replied.
        SimpleRequest(h, Opcode::ModuleClose, nullptr, 0, kCloseTimeoutMs, nullptr,
                      CallKind::Close);
    }
    DropConnection(h);
    h->AcquisitionRunning = 0;
    h->LibraryState[kApplied] = 0;
    h->Magic = kMagicClosed;
    ksn::proto::CloseCancelEvent(h->CancelEvent);
    h->CancelEvent = -1;
    ksn::proto::CloseCancelEvent(StopEvent(h));
    SetStopEvent(h, -1);
    return KSN_OK;
}

KSN48_API int KSN48_SetADC(Ksn48Handle* h)
{
    int r = CheckOpen(h);
    if (r != KSN_OK) {
        return r;
    }
    if (h->AcquisitionRunning) {
        return KSN_ERR_STATE;
    }
    bool valid = false;
    const uint8_t mask = EnabledMask(h, valid);
    if (!valid || mask == 0 || h->RateCode > ksn::raw::kMaxRateCode || h->DataFormat > 1 ||
        h->CurrentSource > 1) {
        return KSN_ERR_INVALID_ARGUMENT;
    }
    const uint8_t payload[] = {mask, h->RateCode, h->DataFormat, h->CurrentSource};
    h->LibraryState[kApplied] = 0;
    r = SimpleRequest(h, Opcode::SetAdc, payload, sizeof payload, kRequestTimeoutMs);
    if (r != KSN_OK) {
        return r;
    }
    h->LibraryState[kApplied] = 1;
    h->LibraryState[kAppliedMask] = mask;
    h->LibraryState[kAppliedRate] = h->RateCode;
    h->LibraryState[kAppliedFormat] = h->DataFormat;
    h->LibraryState[kAppliedCurrent] = h->CurrentSource;
    return KSN_OK;
}

KSN48_API int KSN48_Start(Ksn48Handle* h)
{
    int r = CheckOpen(h);
    if (r != KSN_OK) {
        return r;
    }
    if (h->AcquisitionRunning || !h->LibraryState[kApplied]) {
        return KSN_ERR_STATE;
    }
    // A new acquisition: a cancel of the last one's receive is over.
    ksn::proto::ClearCancelEvent(h->CancelEvent);
    bool sent = false;
    r = SimpleRequest(h, Opcode::Start, nullptr, 0, kRequestTimeoutMs, &sent);
    // Cut short after the request went out, the server may still start: the
    // caller's stop then reaches it after the start.
    if (r == KSN_OK || (r == KSN_ERR_CANCELLED && sent)) {
        h->AcquisitionRunning = 1;
    }
    return r;
}

KSN48_API int KSN48_Stop(Ksn48Handle* h)
{
    if (!h) {
        return KSN_ERR_INVALID_ARGUMENT;
    }
    if (!IsOpen(h)) {
        return KSN_ERR_NOT_OPEN;
    }
    if (!h->AcquisitionRunning) {
        return KSN_ERR_STATE;
    }
    h->AcquisitionRunning = 0;
    if (h->Socket < 0) {
        return KSN_ERR_CONNECTION_LOST;
    }
    // After a cancel the stop still goes to the server, unanswered.
    if (StopRaised(h)) {
        return PostRequest(h, Opcode::Stop);
    }
    return SimpleRequest(h, Opcode::Stop, nullptr, 0, kRequestTimeoutMs);
}

KSN48_API int KSN48_Recv(Ksn48Handle* h, uint32_t* words, uint32_t* marks, uint32_t count,
                         uint32_t timeoutMs)
{
    if (!words || marks || count == 0 || count > 0x7FFFFFFFU) {
        return KSN_ERR_INVALID_ARGUMENT;
    }
    int r = CheckOpen(h);
    if (r != KSN_OK) {
        return r;
    }
    if (!h->AcquisitionRunning) {
        return KSN_ERR_STATE;
    }
    const auto deadline = ksn::proto::DeadlineIn(timeoutMs);
    uint32_t received = 0;
    HandleConnection c(h, CallKind::Receive);
    while (received < count) {
        const uint32_t ask = std::min(count - received, ksn::proto::kMaxRecvWords);
        const auto now = ksn::proto::Clock::now();
        const auto left =
            deadline > now
                ? std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count()
                : 0;
        // The words land in the caller's buffer straight from the socket;
        // the count ahead of them in a field of our own.
        uint8_t payload[8];
        ksn::proto::PutU32(payload, ask);
        ksn::proto::PutU32(payload + 4, static_cast<uint32_t>(left));
        uint8_t countField[4] = {};
        ksn::proto::ReplyRoom room;
        room.head = countField;
        room.headSize = sizeof countField;
        room.body = reinterpret_cast<uint8_t*>(words + received);
        room.bodySize = std::size_t{ask} * 4U;
        ksn::proto::Header reply;
        r = c->Call(Opcode::Recv, payload, sizeof payload, reply, room,
                    deadline + std::chrono::milliseconds(kRecvSlackMs), true);
        if (r != KSN_OK) {
            // Words already in the caller's buffer are reported, not lost.
            return received > 0 && r == KSN_ERR_TIMEOUT ? static_cast<int>(received) : r;
        }
        if (reply.payloadLength < sizeof countField) {
            return c->Drop(KSN_ERR_PROTOCOL);
        }
        const uint32_t n = ksn::proto::GetU32(countField);
        if (n > ask || reply.payloadLength - sizeof countField != std::size_t{n} * 4U) {
            return c->Drop(KSN_ERR_PROTOCOL);
        }
        if constexpr (std::endian::native != std::endian::little) {
            uint32_t* w = words + received;
            for (uint32_t i = 0; i < n; ++i) {
                w[i] = ksn::proto::GetU32(reinterpret_cast<const uint8_t*>(w + i));
            }
        }
        received += n;
        if (n < ask) {
            break;  // the server delivered fewer: report what came
        }
    }
    return static_cast<int>(received);
}

KSN48_API int KSN48_CancelRecv(Ksn48Handle* h)
{
    if (!h) {
        return KSN_ERR_INVALID_ARGUMENT;
    }
    if (!IsOpen(h) || h->CancelEvent < 0) {
        return KSN_ERR_NOT_OPEN;
    }
    ksn::proto::RaiseCancelEvent(h->CancelEvent);
    return KSN_OK;
}

KSN48_API int KSN48_Cancel(Ksn48Handle* h)
{
    if (!h) {
        return KSN_ERR_INVALID_ARGUMENT;
    }
    if (!IsOpen(h) || StopEvent(h) < 0) {
        return KSN_ERR_NOT_OPEN;
    }
    ksn::proto::RaiseCancelEvent(StopEvent(h));
    return KSN_OK;
}

KSN48_API int KSN48_ClearCancel(Ksn48Handle* h)
{
    if (!h) {
        return KSN_ERR_INVALID_ARGUMENT;
    }
    if (!IsOpen(h) || StopEvent(h) < 0) {
        return KSN_ERR_NOT_OPEN;
    }
    ksn::proto::ClearCancelEvent(StopEvent(h));
    return KSN_OK;
}

KSN48_API int KSN48_ProcessData(Ksn48Handle* h, const uint32_t* words, double* samples,
                                uint32_t* size, uint32_t flags, int32_t status[KSN48_CHANNEL_COUNT])
{
    constexpr uint32_t kKnownFlags = KSN48_FLAG_CONVERT | KSN48_FLAG_PHASE_CORRECTION;
    if (!h || !words || !samples || !size || !status || *size == 0 ||
        (flags & KSN48_FLAG_CONVERT) != KSN48_FLAG_CONVERT || (flags & ~kKnownFlags) != 0) {
        return KSN_ERR_INVALID_ARGUMENT;
    }
    if (!h->LibraryState[kApplied]) {
        return KSN_ERR_STATE;
    }
    // All channels of the module sample on one clock, so the phase
    // correction flag has no skew to correct and changes nothing.
    const uint8_t mask = h->LibraryState[kAppliedMask];
    const bool is24 = h->LibraryState[kAppliedFormat] == 1;
    if (mask == 0) {
        return KSN_ERR_STATE;
    }
    const uint32_t in = *size;
    const uint32_t out = is24 ? in / 2U : in;  // a trailing half sample is dropped
    if (out == 0) {
        return KSN_ERR_INVALID_ARGUMENT;
    }
    // A bad frame writes samples it then disowns (*size stays 0).
    *size = 0;
    if (!ksn::raw::DecodeFrame(words, out, mask, is24, samples, status)) {
        return KSN_ERR_BAD_DATA;
    }
    *size = out;
    return KSN_OK;
}

}  // extern "C"
