#pragma once
// Sets an environment variable for as long as it lives, then puts back what
// was there before (or nothing), so no other test inherits it.

#include <cstdlib>
#include <optional>
#include <string>

class ScopedVariable {
public:
    // A null value leaves the variable unset.
    ScopedVariable(std::string name, const char* value) : name_(std::move(name)) {
        if (const char* previous = std::getenv(name_.c_str())) previous_ = previous;
        set(value);
    }
    ~ScopedVariable() {
        if (previous_)
            ::setenv(name_.c_str(), previous_->c_str(), 1);
        else
            ::unsetenv(name_.c_str());
    }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;
    void set(const char* value) {
        if (value)
            ::setenv(name_.c_str(), value, 1);
        else
            ::unsetenv(name_.c_str());
    }

private:
    std::string name_;
    std::optional<std::string> previous_;
};
