#pragma once

#include <mutex>
#include <utility>

namespace quelvo {

// A value that two threads read and write: every access copies it whole under a lock, so a
// reader always sees either the old value or the new one, never a mix.
template <typename T>
class Guarded {
public:
    Guarded() = default;
    explicit Guarded(T value) : value_(std::move(value)) {}

    T Get() const {
        std::lock_guard lock(mutex_);
        return value_;
    }
    void Set(T value) {
        std::lock_guard lock(mutex_);
        value_ = std::move(value);
    }

private:
    mutable std::mutex mutex_;
    T value_{};
};

}  // namespace quelvo
