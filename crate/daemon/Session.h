#pragma once
// One connected client, served on its own thread: reads requests, answers
// them through the opcode table, owns at most one module.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "Protocol.h"
#include "ServerState.h"
#include "SimulatedModule.h"

namespace ksn::sim {

class Session {
public:
    Session(ServerState& server, int fd);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    void Start();
    // Ends this connection from another thread: its socket is shut down and a
    // pending paced receive wakes up.
    void Interrupt();
    bool Done() const { return done_; }
    // The socket of a session whose thread never started, for its refusal.
    int TakeSocket();

private:
    struct OpcodeEntry;  // one request of the table
    struct Opcodes;      // the table of requests, in Session.cpp
    using Handler = int (Session::*)(proto::Reader&, proto::Writer&);

    void Loop();
    // Status of one request whose payload arrived whole.
    int Dispatch(const OpcodeEntry& entry, const std::vector<uint8_t>& payload,
                 std::vector<uint8_t>& reply);
    void Release();

    int OnHello(proto::Reader& in, proto::Writer& out);
    int OnListCrates(proto::Reader& in, proto::Writer& out);
    int OnCrateInfo(proto::Reader& in, proto::Writer& out);
    int OnCrateModules(proto::Reader& in, proto::Writer& out);
    int OnModuleOpen(proto::Reader& in, proto::Writer& out);
    int OnModuleClose(proto::Reader& in, proto::Writer& out);
    int OnSetAdc(proto::Reader& in, proto::Writer& out);
    int OnStart(proto::Reader& in, proto::Writer& out);
    int OnStop(proto::Reader& in, proto::Writer& out);
    int OnRecv(proto::Reader& in, proto::Writer& out);
    int OnControl(proto::Reader& in, proto::Writer& out);

    const Ksn48Module& Module() const;

    ServerState& server_;
    int fd_;
    std::thread thread_;
    std::atomic<bool> done_{false};
    std::mutex waitMutex_;
    std::condition_variable wake_;
    bool closing_ = false;

    bool greeted_ = false;
    bool open_ = false;
    std::size_t crate_ = 0;
    std::size_t slot_ = 0;
    SimulatedModule module_;
    uint64_t seed_;
    std::vector<uint32_t> words_;
};

}  // namespace ksn::sim
