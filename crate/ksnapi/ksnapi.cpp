// Crate API client.

#include "ksnapi.h"

#include <cstring>
#include <unistd.h>

#include "Protocol.h"

namespace {

using ksn::proto::Message;
using ksn::proto::Opcode;
using ksn::proto::Reader;
using ksn::proto::Writer;

constexpr uint32_t kLinkMagic = 0x4B4C4E4BU;
constexpr uint8_t kClosed = 0;
constexpr uint8_t kOpen = 1;
constexpr uint32_t kConnectTimeoutMs = 2000;
constexpr uint32_t kRequestTimeoutMs = 3000;

// Drops a connection whose stream can no longer be trusted (a reply may
// still be on its way after a timeout); later calls then report the loss
// instead of reading a half-consumed or stale reply.
int Broken(KsnCrateLink* link, int result)
{
    if (result == KSN_ERR_CONNECTION_LOST || result == KSN_ERR_PROTOCOL ||
        result == KSN_ERR_VERSION || result == KSN_ERR_TIMEOUT) {
        if (link->Socket >= 0) {
            close(link->Socket);
        }
        link->Socket = -1;
    }
    return result;
}

int CheckOpen(KsnCrateLink* link)
{
    if (!link) {
        return KSN_ERR_INVALID_ARGUMENT;
    }
    if (link->Magic != kLinkMagic) {
        return KSN_ERR_NOT_INITIALIZED;
    }
    if (link->State != kOpen) {
        return KSN_ERR_NOT_OPEN;
    }
    if (link->Socket < 0) {
        return KSN_ERR_CONNECTION_LOST;
    }
    return KSN_OK;
}

// The selected crate's serial, or empty when none is selected.
std::string SelectedSerial(const KsnCrateLink* link)
{
    return std::string(link->CrateSerial, strnlen(link->CrateSerial, sizeof link->CrateSerial));
}

int Request(KsnCrateLink* link, Opcode op, const std::vector<uint8_t>& payload, Message& reply)
{
    uint32_t id = link->RequestId;
    const int r = ksn::proto::CallChecked(link->Socket, id, op, payload, reply,
                                          ksn::proto::DeadlineIn(kRequestTimeoutMs));
    link->RequestId = static_cast<uint16_t>(id);
    return Broken(link, r);
}

int RequestForCrate(KsnCrateLink* link, Opcode op, Message& reply)
{
    const std::string serial = SelectedSerial(link);
    if (serial.empty() || serial.size() >= KSN_SERIAL_SIZE) {
        return KSN_ERR_STATE;
    }
    std::vector<uint8_t> payload;
    Writer(payload).Text(serial, ksn::proto::kSerialField);
    return Request(link, op, payload, reply);
}

}  // namespace

extern "C" {

KSN_API int KSN_Init(KsnCrateLink* link)
{
    if (!link) {
        return KSN_ERR_INVALID_ARGUMENT;
    }
    std::memset(link, 0, sizeof *link);
    link->Magic = kLinkMagic;
    link->State = kClosed;
    link->Socket = -1;
    link->Address = 0x7F000001U;
    link->Port = ksn::proto::PortFromEnvironment(11111);
    link->RequestId = 1;
    return KSN_OK;
}

KSN_API int KSN_Open(KsnCrateLink* link)
{
    if (!link) {
        return KSN_ERR_INVALID_ARGUMENT;
    }
    if (link->Magic != kLinkMagic) {
        return KSN_ERR_NOT_INITIALIZED;
    }
    if (link->State == kOpen) {
        return KSN_ERR_STATE;
    }
    if (link->Channel != 0 || !std::memchr(link->CrateSerial, 0, sizeof link->CrateSerial)) {
        return KSN_ERR_INVALID_ARGUMENT;
    }
    const int fd = ksn::proto::ConnectTo(link->Address, link->Port, kConnectTimeoutMs);
    if (fd < 0) {
        return fd;
    }
    link->Socket = fd;
    uint32_t id = link->RequestId;
    int r = ksn::proto::Handshake(fd, id, ksn::proto::DeadlineIn(kRequestTimeoutMs));
    link->RequestId = static_cast<uint16_t>(id);
    if (r == KSN_OK && link->CrateSerial[0] != '\0') {
        Message reply;
        r = RequestForCrate(link, Opcode::CrateInfo, reply);
    }
    if (r != KSN_OK) {
        if (link->Socket >= 0) {
            close(link->Socket);
        }
        link->Socket = -1;
        return r;
    }
    link->State = kOpen;
    return KSN_OK;
}

KSN_API int KSN_GetCrates(KsnCrateLink* link, char list[KSN_MAX_CRATES][KSN_SERIAL_SIZE])
{
    int r = list ? CheckOpen(link) : KSN_ERR_INVALID_ARGUMENT;
    if (r != KSN_OK) {
        return r;
    }
    Message reply;
    r = Request(link, Opcode::ListCrates, {}, reply);
    if (r != KSN_OK) {
        return r;
    }
    Reader in(reply.payload);
    const uint32_t n = in.U32();
    if (!in.ok() || n > KSN_MAX_CRATES) {
        return Broken(link, KSN_ERR_PROTOCOL);
    }
    char serials[KSN_MAX_CRATES][KSN_SERIAL_SIZE] = {};
    for (uint32_t i = 0; i < n; ++i) {
        const std::string s = in.Text(ksn::proto::kSerialField);
        if (!in.ok() || s.empty()) {
            return Broken(link, KSN_ERR_PROTOCOL);
        }
        std::memcpy(serials[i], s.data(), s.size());
    }
    if (!in.AtEnd()) {
        return Broken(link, KSN_ERR_PROTOCOL);
    }
    std::memcpy(list, serials, sizeof serials);
    return KSN_OK;
}

KSN_API int KSN_GetCrateInfo(KsnCrateLink* link, KsnCrateInfo* info)
{
    int r = info ? CheckOpen(link) : KSN_ERR_INVALID_ARGUMENT;
    if (r != KSN_OK) {
        return r;
    }
    Message reply;
    r = RequestForCrate(link, Opcode::CrateInfo, reply);
    if (r != KSN_OK) {
        return r;
    }
    Reader in(reply.payload);
    KsnCrateInfo out{};
    out.CrateType = in.U8();
    out.SlotCount = in.U8();
    if (!in.AtEnd() || out.SlotCount > KSN_SLOT_COUNT) {
        return Broken(link, KSN_ERR_PROTOCOL);
    }
    *info = out;
    return KSN_OK;
}

KSN_API int KSN_GetCrateModules(KsnCrateLink* link, uint16_t ids[KSN_SLOT_COUNT])
{
    int r = ids ? CheckOpen(link) : KSN_ERR_INVALID_ARGUMENT;
    if (r != KSN_OK) {
        return r;
    }
    Message reply;
    r = RequestForCrate(link, Opcode::CrateModules, reply);
    if (r != KSN_OK) {
        return r;
    }
    Reader in(reply.payload);
    uint16_t out[KSN_SLOT_COUNT];
    for (auto& id : out) {
        id = in.U16();
    }
    if (!in.AtEnd()) {
        return Broken(link, KSN_ERR_PROTOCOL);
    }
    std::memcpy(ids, out, sizeof out);
    return KSN_OK;
}

KSN_API int KSN_Close(KsnCrateLink* link)
{
    if (!link) {
        return KSN_ERR_INVALID_ARGUMENT;
    }
    if (link->Magic != kLinkMagic) {
        return KSN_ERR_NOT_INITIALIZED;
    }
    if (link->Socket >= 0) {
        close(link->Socket);
    }
    link->Socket = -1;
    link->State = kClosed;
    return KSN_OK;
}

}  // extern "C"
