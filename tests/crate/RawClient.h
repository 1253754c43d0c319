#pragma once
// A client of the crate server that sends raw bytes and reads what comes
// back, for tests of what the server does with bad or abusive input.

#include <cstdint>
#include <unistd.h>
#include <vector>

#include "Protocol.h"
#include "ksnerror.h"

namespace ksn::test {

class RawClient {
public:
    // A long connect timeout: with hundreds of short connections a SYN can meet
    // a TIME_WAIT entry of the server and be answered only on retry.
    explicit RawClient(uint16_t port) { fd_ = proto::ConnectTo(0x7F000001, port, 5000); }
    ~RawClient()
    {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    bool ok() const { return fd_ >= 0; }
    void Send(const std::vector<uint8_t>& bytes)
    {
        proto::SocketTransport t(fd_);
        t.Write(bytes.data(), bytes.size(), proto::DeadlineIn(1000));
    }
    // A request's header announcing length payload bytes, without them.
    static std::vector<uint8_t> HeaderOnly(uint16_t opcode, uint32_t length,
                                           uint16_t version = proto::kVersion)
    {
        proto::Header h;
        h.opcode = opcode;
        h.version = version;
        h.requestId = 77;
        h.payloadLength = length;
        std::vector<uint8_t> bytes(proto::kHeaderSize);
        proto::EncodeHeader(h, bytes.data());
        return bytes;
    }
    void Request(uint16_t opcode, const std::vector<uint8_t>& payload,
                 uint16_t version = proto::kVersion)
    {
        std::vector<uint8_t> bytes =
            HeaderOnly(opcode, static_cast<uint32_t>(payload.size()), version);
        bytes.insert(bytes.end(), payload.begin(), payload.end());
        Send(bytes);
    }
    // The status of the next reply; KSN_ERR_CONNECTION_LOST when the server
    // hung up, KSN_ERR_TIMEOUT when nothing came.
    int Status(uint32_t timeoutMs = 2000)
    {
        proto::SocketTransport t(fd_);
        uint8_t head[proto::kHeaderSize];
        const int r = t.Read(head, sizeof head, proto::DeadlineIn(timeoutMs));
        if (r != KSN_OK) {
            return r;
        }
        const proto::Header h = proto::DecodeHeader(head);
        std::vector<uint8_t> skip(h.payloadLength);
        t.Read(skip.data(), skip.size(), proto::DeadlineIn(timeoutMs));
        return h.status;
    }
    // True when the server closed the connection within the time.
    bool Closed(uint32_t timeoutMs = 2000)
    {
        uint8_t b;
        proto::SocketTransport t(fd_);
        return t.Read(&b, 1, proto::DeadlineIn(timeoutMs)) == KSN_ERR_CONNECTION_LOST;
    }
    void Hello() { Request(0, {proto::kVersion, 0}); }

private:
    int fd_ = -1;
};

}  // namespace ksn::test
