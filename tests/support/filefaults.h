#pragma once
// Tests only: fails one chosen step of the one file writer through its test
// seam. Steps are counted all together (creating the fresh file, each write,
// the flush, the closing, the rename), in the order the writer takes them.

#include "wholefile.h"

#include <optional>

class FileStepFaults {
public:
    using Step = archive::detail::FileStep;

    FileStepFaults() {
        instance() = this;
        archive::detail::fileStepFault = &hook;
    }
    ~FileStepFaults() {
        archive::detail::fileStepFault = nullptr;
        instance() = nullptr;
    }
    FileStepFaults(const FileStepFaults&) = delete;
    FileStepFaults& operator=(const FileStepFaults&) = delete;

    // The `n`-th step from now (1 for the next one) fails with `code`.
    void failNth(int n, int code) {
        failAt_ = count_ + n;
        code_ = code;
        fired_.reset();
    }
    void disarm() { failAt_ = 0; }
    // The steps taken so far, the failed one included.
    int count() const { return count_; }
    // The step that was failed, if the armed failure has happened.
    std::optional<Step> fired() const { return fired_; }

private:
    static FileStepFaults*& instance() {
        static FileStepFaults* current = nullptr;
        return current;
    }
    static int hook(Step step) {
        FileStepFaults& self = *instance();
        if (++self.count_ != self.failAt_) return 0;
        self.fired_ = step;
        return self.code_;
    }

    int count_ = 0;
    int failAt_ = 0;
    int code_ = 0;
    std::optional<Step> fired_;
};
