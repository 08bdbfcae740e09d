// SPDX-License-Identifier: MIT
#pragma once

// Wraps every file the library opens or creates while a FaultyFiles object lives, so a
// test can log the file calls and make reads, writes or moves fail on demand.

#include "PlatformFile.h"

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace testfiles {

namespace platform = chunkwell::platform;

// What the wrapped handles do and have done; shared by every handle of one FaultyFiles.
struct FaultPlan {
    // Calls are numbered from 0 in the order they reach any wrapped handle; a call whose
    // number is at or past the limit fails (-1: never).
    std::int64_t failReadsFrom = -1;
    std::int64_t failWritesFrom = -1;
    std::int64_t failSeeksFrom = -1;
    std::int64_t reads = 0;
    std::int64_t writes = 0;
    std::int64_t seeks = 0;
    // One line per call: "read 12", "write 8", "seek cur 4", "seek begin 0".
    std::vector<std::string> log;
};

class FaultyHandle final : public platform::FileHandle {
public:
    FaultyHandle(std::unique_ptr<platform::FileHandle> inner, std::shared_ptr<FaultPlan> plan)
        : m_Inner(std::move(inner)), m_Plan(std::move(plan)) {}

    bool Read(void* buffer, std::uint32_t size, std::uint32_t& got) override {
        m_Plan->log.push_back("read " + std::to_string(size));
        if (Fails(m_Plan->reads++, m_Plan->failReadsFrom)) {
            got = 0;
            return false;
        }
        return m_Inner->Read(buffer, size, got);
    }
    bool Write(const void* buffer, std::uint32_t size, std::uint32_t& put) override {
        m_Plan->log.push_back("write " + std::to_string(size));
        if (Fails(m_Plan->writes++, m_Plan->failWritesFrom)) {
            put = 0;
            return false;
        }
        return m_Inner->Write(buffer, size, put);
    }
    std::int64_t Seek(std::uint32_t distance, platform::Whence whence) override {
        m_Plan->log.push_back(std::string("seek ") +
                              (whence == platform::Whence::Begin ? "begin " : "cur ") +
                              std::to_string(distance));
        if (Fails(m_Plan->seeks++, m_Plan->failSeeksFrom))
            return -1;
        return m_Inner->Seek(distance, whence);
    }

private:
    static bool Fails(std::int64_t number, std::int64_t from) {
        return from >= 0 && number >= from;
    }

    std::unique_ptr<platform::FileHandle> m_Inner;
    std::shared_ptr<FaultPlan> m_Plan;
};

// Installs the wrapper for its lifetime; plain handles come back afterwards.
class FaultyFiles {
public:
    FaultyFiles() : plan(std::make_shared<FaultPlan>()) {
        platform::SetHandleWrapperForTesting([p = plan](std::unique_ptr<platform::FileHandle> inner)
                                                 -> std::unique_ptr<platform::FileHandle> {
            return std::make_unique<FaultyHandle>(std::move(inner), p);
        });
    }
    ~FaultyFiles() { platform::SetHandleWrapperForTesting({}); }
    FaultyFiles(const FaultyFiles&) = delete;
    FaultyFiles& operator=(const FaultyFiles&) = delete;

    std::shared_ptr<FaultPlan> plan;
};

} // namespace testfiles
