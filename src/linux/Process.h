#pragma once
// Running a helper program (smbstatus, smbcontrol, notify-send) with a time
// limit, its output captured.
#include <chrono>
#include <string>
#include <vector>

namespace corvane::samba {

struct ProcessResult {
    bool Started = false;     // false: could not be run at all (see Error)
    bool TimedOut = false;    // killed when the time limit passed
    int ExitStatus = -1;      // exit status when it exited normally
    int Signal = 0;           // the signal that ended it, when one did
    std::string Out;
    std::string Err;
    std::string Error;        // why it could not be run or read

    bool Succeeded() const noexcept { return Started && !TimedOut && Signal == 0 && ExitStatus == 0 && Error.empty(); }
    // One short line: "exit status 1: <first line of its error output>", "timed out after 10 s", ...
    std::string Describe() const;
};

class IProcessRunner {
public:
    virtual ~IProcessRunner() = default;
    // argv[0] without a slash is looked up in PATH. Standard input is /dev/null.
    virtual ProcessResult Run(const std::vector<std::string>& argv, std::chrono::milliseconds timeout) = 0;
};

class PosixProcessRunner final : public IProcessRunner {
public:
    // Output beyond this many bytes (each stream) ends the program and fails the run.
    explicit PosixProcessRunner(std::size_t maxOutput = 64u << 20) : maxOutput_(maxOutput) {}
    ProcessResult Run(const std::vector<std::string>& argv, std::chrono::milliseconds timeout) override;

private:
    std::size_t maxOutput_;
};

// True when `program` names an executable file, directly or through PATH.
bool ProgramExists(const std::string& program);

}  // namespace corvane::samba
