// A small executable of this machine carrying the program's version marker, for the self-update's
// tests (copies of it, with other versions, stand in for downloads).
#include <cstdio>

#include "common/Version.h"

int main() {
    std::puts(quelvo::ProgramVersion().c_str());
    return 0;
}
