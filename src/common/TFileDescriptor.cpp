#include "common/TFileDescriptor.h"

#include <unistd.h>

namespace quelvo {

TFileDescriptor::~TFileDescriptor() {
    Close();
}

int TFileDescriptor::Close() {
    int rc = 0;
    if (fd_ >= 0) {
        rc = ::close(fd_);
        fd_ = -1;
    }
    return rc;
}

}  // namespace quelvo
