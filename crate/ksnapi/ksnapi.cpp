// Crate API client.

#include "ksnapi.h"

#include <cstring>

#include "Connection.h"
#include "Protocol.h"

namespace {

using ksn::proto::ClientConnection;
using ksn::proto::Message;
using ksn::proto::Opcode;
using ksn::proto::Reader;
using ksn::proto::Writer;

constexpr uint32_t kLinkMagic = 0x4B4C4E4BU;
constexpr uint8_t kClosed = 0;
constexpr uint8_t kOpen = 1;
constexpr uint32_t kConnectTimeoutMs = 2000;
constexpr uint32_t kRequestTimeoutMs = 3000;

// The link's connection for one call; the record's id counter has 16 bits.
class LinkConnection : public ksn::proto::RecordConnection<uint16_t> {
public:
    explicit LinkConnection(KsnCrateLink* link) noexcept
        : RecordConnection(link->Socket, link->RequestId, ksn::proto::kRequestIds16)
    {}
};

// A connection that sent something malformed is not trusted any more.
int Malformed(KsnCrateLink* link)
{
    return LinkConnection(link)->Drop(KSN_ERR_PROTOCOL);
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
    return LinkConnection(link)->Call(op, payload, reply,
                                      ksn::proto::DeadlineIn(kRequestTimeoutMs));
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
    if (!ksn::proto::ResetRecord(link)) {
        return KSN_ERR_INVALID_ARGUMENT;
    }
    link->Magic = kLinkMagic;
    link->State = kClosed;
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
    uint32_t id = link->RequestId;
    const int fd = ClientConnection::Connect(link->Address, link->Port, kConnectTimeoutMs, id,
                                             ksn::proto::kRequestIds16,
                                             ksn::proto::DeadlineIn(kRequestTimeoutMs));
    link->RequestId = static_cast<uint16_t>(id);
    if (fd < 0) {
        return fd;
    }
    link->Socket = fd;
    int r = KSN_OK;
    if (link->CrateSerial[0] != '\0') {
        Message reply;
        r = RequestForCrate(link, Opcode::CrateInfo, reply);
    }
    if (r != KSN_OK) {
        LinkConnection(link)->Drop(r);
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
        return Malformed(link);
    }
    char serials[KSN_MAX_CRATES][KSN_SERIAL_SIZE] = {};
    for (uint32_t i = 0; i < n; ++i) {
        const std::string s = in.Text(ksn::proto::kSerialField);
        if (!in.ok() || s.empty()) {
            return Malformed(link);
        }
        std::memcpy(serials[i], s.data(), s.size());
    }
    if (!in.AtEnd()) {
        return Malformed(link);
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
        return Malformed(link);
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
        return Malformed(link);
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
    LinkConnection(link)->Drop(KSN_OK);
    link->State = kClosed;
    return KSN_OK;
}

}  // extern "C"
