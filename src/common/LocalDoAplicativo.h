#pragma once

#include <string>

namespace quelvo {

// The folder the package installs the programs in (its bindir, "/usr/bin" for the Debian
// package), fixed when the program is built.
extern const char* const kPastaDosProgramas;

// Where a copy of the program keeps its files, and whether it is a copy the package installed.
struct TLocalDoAplicativo {
    std::string pasta;       // the application folder, absolute, with a trailing "/"
    bool instalada = false;  // runs from the package's folder: the package manager updates it
};

// The rule, decided here and nowhere else. A copy whose executable lies in `pastaDosProgramas`
// was installed by the package: it cannot keep its files beside itself (anyone may run it,
// and the folder belongs to the package manager whoever can write it), so it keeps them in
// "$XDG_DATA_HOME/quelvo/", or "~/.local/share/quelvo/" when XDG_DATA_HOME is unset, empty or
// not an absolute path. Any other copy (the portable folder, the demo, a build) keeps them
// beside its executable. `pastaEscolhida`, when not empty (quelvo-monitor --pasta), names the
// folder in every case. Raises std::runtime_error when an installed copy finds no home folder.
TLocalDoAplicativo LocalDoAplicativo(const std::string& executavel,
                                     const std::string& pastaEscolhida = {},
                                     const std::string& pastaDosProgramas = kPastaDosProgramas);

// Whether the executable at that path is a copy the package installed.
bool CopiaInstalada(const std::string& executavel,
                    const std::string& pastaDosProgramas = kPastaDosProgramas);

// Called at every start. Creates the application folder when it is missing, with the missing
// folders above it, each readable by its owner only (the folder holds passwords, certificates and
// the lists of what was seen). An existing application folder that belongs to the user running
// the program loses the other users' permissions (a portable folder is often unpacked 0755);
// one of another user, or one of root's outside root's home folder when root runs the program
// (a folder of programs such as /usr/local/bin), is left as it is, and a folder whose
// permissions cannot be changed (a file system without them) does not stop the start. The
// folders above an existing one are never touched. Raises std::runtime_error with the message
// when the folder cannot be created.
void CriarPastaDoAplicativo(const std::string& pasta);

}  // namespace quelvo
