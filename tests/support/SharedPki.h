#pragma once

#include "TestPki.h"

namespace quelvo::test {

// One test PKI per test program: making keys takes a moment.
inline const testpki::TestPki& SharedPki() {
    static const testpki::TestPki pki;
    return pki;
}

}  // namespace quelvo::test
