// A small executable of this machine carrying the program's version marker and the marker of the
// program it stands in for (QUELVO_STUB_PROGRAMA), for the self-update's tests: copies of it, with
// other versions, stand in for downloads and for the running program. Like the desktop program it
// answers `--verificar-atualizacao ARQUIVO`; otherwise it prints its version.
#include <cstdio>
#include <cstring>
#include <iostream>

#include "common/Version.h"
#include "monitor/TMonitorUpdate.h"

QUELVO_PROGRAM_MARKER(QUELVO_STUB_PROGRAMA);

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], quelvo::TMonitorUpdate::kOpcaoVerificar) == 0) {
        return quelvo::TMonitorUpdate::OpcaoVerificar(argv[2], std::cerr);
    }
    std::puts(quelvo::ProgramVersion().c_str());
    return 0;
}
