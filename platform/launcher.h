#pragma once
// The program launcher `SendKeys1`: starts another program and waits until
// it is ready for input. The start-up uses it once, for the engine installer.

#include <sys/types.h>

#include <chrono>
#include <string>

class TSendKeys {
public:
    // Starts the program file `path` (Windows-1252; a relative path is taken
    // from the current folder) without arguments, in the caller's current
    // folder and environment, inheriting no descriptors but the standard
    // three. It runs on by itself and outlives the caller.
    // True once it has started. False, with nothing started, when the path is
    // empty or names no executable regular file, or the start failed.
    // Before returning true it waits, at most ReadyTimeout, until the program
    // waits for input or has ended already.
    bool StartProgram(const std::string& path);

    std::chrono::milliseconds ReadyTimeout{3000};

    // What the last start left behind; a new start clears both first.
    pid_t ProcessId() const { return processId_; }          // 0 when nothing was started
    const std::string& ProgramPath() const { return programPath_; }  // absolute, Windows-1252

private:
    pid_t processId_ = 0;
    std::string programPath_;
};
