#pragma once

#include <string>
#include <string_view>

namespace quelvo {

// What the self-update asks of a downloaded executable before anything else: that it is a whole
// executable of the kind this machine runs. Two kinds are known, by their first bytes: ELF (Linux)
// and PE (Windows); the running program's own file says which one this machine wants.
class TFormatoExecutavel {
public:
    // The identity of an executable image: for ELF its class, byte order and machine (an
    // executable or position-independent type); for PE its machine and the optional header's
    // kind (an executable, not a DLL). Empty when the bytes start no such image. The first 4 KB
    // of a file are enough.
    static std::string Identidade(std::string_view imagem);
    // The same for a file on disk; empty when it cannot be read.
    static std::string IdentidadeDoArquivo(const std::string& path);
    // Whether the image holds every byte its headers point at (a download cut anywhere is short
    // of one): for ELF the program and section header tables and every segment; for PE the
    // section table and every section's raw data, the certificate table and the COFF symbol and
    // string tables when there are any.
    static bool Completo(std::string_view imagem);
};

}  // namespace quelvo
