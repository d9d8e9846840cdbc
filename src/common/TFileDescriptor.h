#pragma once

namespace quelvo {

// Owns a file descriptor: closed once, by Close or the destructor.
class TFileDescriptor {
public:
    explicit TFileDescriptor(int fd) : fd_(fd) {}
    TFileDescriptor(const TFileDescriptor&) = delete;
    TFileDescriptor& operator=(const TFileDescriptor&) = delete;
    ~TFileDescriptor();

    int get() const { return fd_; }
    // Closes now; the result of close(2) (0 when there was nothing to close).
    int Close();

private:
    int fd_;
};

}  // namespace quelvo
