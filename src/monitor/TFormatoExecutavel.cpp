#include "monitor/TFormatoExecutavel.h"

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <vector>

#include "platform/Paths.h"

namespace quelvo {

namespace {

// Reads an unsigned field of `n` bytes at `pos` in the image's byte order.
bool Campo(std::string_view img, uint64_t pos, int n, bool bigEndian, uint64_t& valor) {
    if (pos > img.size() || img.size() - pos < static_cast<uint64_t>(n)) {
        return false;
    }
    valor = 0;
    for (int i = 0; i < n; ++i) {
        const auto b = static_cast<unsigned char>(img[pos + (bigEndian ? n - 1 - i : i)]);
        valor |= static_cast<uint64_t>(b) << (8 * i);
    }
    return true;
}

bool Elf(std::string_view h) {
    return h.size() >= 4 && h[0] == 0x7f && h[1] == 'E' && h[2] == 'L' && h[3] == 'F';
}

// ELF: magic, class, byte order, type and machine.
std::string IdentidadeElf(std::string_view h) {
    if (h.size() < 20) {
        return {};
    }
    // e_type (16..17) must say an executable or a position-independent one; its byte order is
    // the file's (h[5]: 1 little, 2 big).
    const unsigned tipo =
        h[5] == 1 ? static_cast<unsigned char>(h[16]) : static_cast<unsigned char>(h[17]);
    if (tipo != 2 && tipo != 3) {
        return {};
    }
    return std::string{'E', h[4], h[5], h[18], h[19]};
}

bool ElfCompleto(std::string_view img) {
    if (img.size() < 6) {
        return false;
    }
    const uint64_t tamanho = img.size();
    const bool de64 = img[4] == 2;
    const bool big = img[5] == 2;
    const int w = de64 ? 8 : 4;  // the width of an address or offset
    uint64_t phoff = 0, shoff = 0, phentsize = 0, phnum = 0, shentsize = 0, shnum = 0;
    if (!Campo(img, de64 ? 32 : 28, w, big, phoff) || !Campo(img, de64 ? 40 : 32, w, big, shoff) ||
        !Campo(img, de64 ? 54 : 42, 2, big, phentsize) ||
        !Campo(img, de64 ? 56 : 44, 2, big, phnum) ||
        !Campo(img, de64 ? 58 : 46, 2, big, shentsize) ||
        !Campo(img, de64 ? 60 : 48, 2, big, shnum)) {
        return false;
    }
    // An offset past the end already makes a short file; refusing it here also keeps the sums
    // below from wrapping around.
    if (phoff > tamanho || shoff > tamanho) {
        return false;
    }
    uint64_t fim = std::max(phoff + phnum * phentsize, shoff + shnum * shentsize);
    if (fim > tamanho) {
        return false;
    }
    for (uint64_t i = 0; i < phnum; ++i) {
        uint64_t offset = 0, filesz = 0;
        const uint64_t ph = phoff + i * phentsize;
        if (!Campo(img, ph + (de64 ? 8 : 4), w, big, offset) ||
            !Campo(img, ph + (de64 ? 32 : 16), w, big, filesz)) {
            return false;
        }
        if (offset > tamanho || filesz > tamanho) {
            return false;
        }
        fim = std::max(fim, offset + filesz);
    }
    return fim <= tamanho;
}

// Where a PE image's headers are: "MZ", then at 0x3C the offset of "PE\0\0" and the COFF header.
struct Pe {
    uint64_t coff = 0;      // the COFF file header
    uint64_t opcional = 0;  // the optional header
    uint64_t maquina = 0;
    uint64_t secoes = 0;
    uint64_t tamanhoOpcional = 0;
    uint64_t caracteristicas = 0;
    uint64_t magico = 0;  // 0x10b: PE32, 0x20b: PE32+
};

bool LerPe(std::string_view img, Pe& pe) {
    uint64_t novo = 0;
    if (img.size() < 2 || img[0] != 'M' || img[1] != 'Z' || !Campo(img, 0x3C, 4, false, novo) ||
        novo > img.size() || img.size() - novo < 4 ||
        img.substr(novo, 4) != std::string_view("PE\0\0", 4)) {
        return false;
    }
    pe.coff = novo + 4;
    pe.opcional = pe.coff + 20;
    return Campo(img, pe.coff, 2, false, pe.maquina) &&
           Campo(img, pe.coff + 2, 2, false, pe.secoes) &&
           Campo(img, pe.coff + 16, 2, false, pe.tamanhoOpcional) &&
           Campo(img, pe.coff + 18, 2, false, pe.caracteristicas) &&
           Campo(img, pe.opcional, 2, false, pe.magico) &&
           (pe.magico == 0x10b || pe.magico == 0x20b);
}

std::string IdentidadePe(std::string_view img) {
    Pe pe;
    constexpr uint64_t kExecutavel = 0x0002;
    constexpr uint64_t kDll = 0x2000;
    if (!LerPe(img, pe) || (pe.caracteristicas & kExecutavel) == 0 ||
        (pe.caracteristicas & kDll) != 0) {
        return {};
    }
    return std::string{'P', static_cast<char>(pe.maquina & 0xFF),
                       static_cast<char>(pe.maquina >> 8), static_cast<char>(pe.magico & 0xFF),
                       static_cast<char>(pe.magico >> 8)};
}

bool PeCompleto(std::string_view img) {
    Pe pe;
    if (!LerPe(img, pe)) {
        return false;
    }
    const uint64_t tamanho = img.size();
    // The section table follows the optional header; 40 bytes a section.
    const uint64_t tabela = pe.opcional + pe.tamanhoOpcional;
    uint64_t fim = tabela + pe.secoes * 40;
    if (fim > tamanho) {
        return false;
    }
    for (uint64_t i = 0; i < pe.secoes; ++i) {
        uint64_t bruto = 0, onde = 0;
        if (!Campo(img, tabela + i * 40 + 16, 4, false, bruto) ||
            !Campo(img, tabela + i * 40 + 20, 4, false, onde)) {
            return false;
        }
        if (bruto > 0) {
            fim = std::max(fim, onde + bruto);
        }
    }
    // The certificate table (Authenticode) is the one data directory given as a file offset:
    // entry 4, after 96 (PE32) or 112 (PE32+) bytes of the optional header.
    const uint64_t diretorios = pe.opcional + (pe.magico == 0x20b ? 112 : 96);
    uint64_t quantos = 0, certificados = 0, tamanhoCertificados = 0;
    if (Campo(img, diretorios - 4, 4, false, quantos) && quantos > 4 &&
        Campo(img, diretorios + 4 * 8, 4, false, certificados) &&
        Campo(img, diretorios + 4 * 8 + 4, 4, false, tamanhoCertificados) &&
        tamanhoCertificados > 0) {
        fim = std::max(fim, certificados + tamanhoCertificados);
    }
    // A COFF symbol table (debugging information) and the string table after it.
    uint64_t simbolos = 0, nSimbolos = 0, textos = 0;
    if (Campo(img, pe.coff + 8, 4, false, simbolos) && simbolos > 0 &&
        Campo(img, pe.coff + 12, 4, false, nSimbolos)) {
        const uint64_t tabelaDeTextos = simbolos + nSimbolos * 18;
        if (!Campo(img, tabelaDeTextos, 4, false, textos)) {
            return false;
        }
        fim = std::max(fim, tabelaDeTextos + textos);
    }
    return fim <= tamanho;
}

}  // namespace

std::string TFormatoExecutavel::Identidade(std::string_view imagem) {
    if (Elf(imagem)) {
        return IdentidadeElf(imagem);
    }
    return IdentidadePe(imagem);
}

std::string TFormatoExecutavel::IdentidadeDoArquivo(const std::string& path) {
    std::ifstream f(platform::PathOf(path), std::ios::binary);
    std::vector<char> h(4096);
    f.read(h.data(), static_cast<std::streamsize>(h.size()));
    return Identidade(std::string_view(h.data(), static_cast<size_t>(f.gcount())));
}

bool TFormatoExecutavel::Completo(std::string_view imagem) {
    return Elf(imagem) ? ElfCompleto(imagem) : PeCompleto(imagem);
}

}  // namespace quelvo
