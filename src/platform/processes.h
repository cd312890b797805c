#pragma once
// Processes seam: the package's external programs, running processes, and
// single-instance locks.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace firmora::platform {

struct ProcessInfo {
    uint32_t id = 0;
    std::string executableName;  // file name only, e.g. "Swivlet.exe"
    uint32_t parentId = 0;       // the process that started it; 0 when unknown
};

// Held while the object lives.
class NamedLock {
public:
    virtual ~NamedLock() = default;
};

class Processes {
public:
    virtual ~Processes() = default;
    // Starts a program hidden, without arguments, and returns at once; false
    // when it could not be started (LastError set).
    virtual bool StartHidden(const std::filesystem::path& program) = 0;
    virtual std::vector<ProcessInfo> List() = 0;
    // This program's own process, as List names it.
    virtual uint32_t OwnId() = 0;
    virtual bool Terminate(uint32_t processId) = 0;
    // A named single-instance lock; `alreadyExisted` tells whether another
    // holder had it first (the lock object is still returned, as a named
    // mutex is). Null on failure.
    virtual std::unique_ptr<NamedLock> CreateNamedLock(const std::string& name, bool& alreadyExisted) = 0;
};

}  // namespace firmora::platform
