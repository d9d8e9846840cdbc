#pragma once

#include <cstdint>
#include <string>

namespace quelvo::test {

// A small 64-bit Windows executable image (PE32+, x86-64) with one section holding `conteudo`:
// what the self-update's checks read of a Windows program, with nothing to run. `dll` marks it a
// library; `certificados` appends a certificate table of that many bytes (Authenticode's place).
inline std::string PeImage(const std::string& conteudo, bool dll = false,
                           uint32_t certificados = 0) {
    const auto poe = [](std::string& img, size_t at, uint64_t valor, int n) {
        for (int i = 0; i < n; ++i) {
            img[at + i] = static_cast<char>((valor >> (8 * i)) & 0xFF);
        }
    };
    const uint32_t bruto = static_cast<uint32_t>((conteudo.size() + 0x1FF) & ~size_t{0x1FF});
    std::string img(0x200 + bruto, '\0');
    img[0] = 'M';
    img[1] = 'Z';
    poe(img, 0x3C, 0x40, 4);                         // e_lfanew
    img.replace(0x40, 4, std::string("PE\0\0", 4));  // the signature
    const size_t coff = 0x44;
    poe(img, coff, 0x8664, 2);                      // x86-64
    poe(img, coff + 2, 1, 2);                       // one section
    poe(img, coff + 16, 240, 2);                    // the optional header's size
    poe(img, coff + 18, dll ? 0x2022 : 0x0022, 2);  // executable, large addresses (a DLL)
    const size_t opcional = coff + 20;
    poe(img, opcional, 0x20b, 2);     // PE32+
    poe(img, opcional + 108, 16, 4);  // sixteen data directories
    const size_t secao = opcional + 240;
    img.replace(secao, 5, ".data");
    poe(img, secao + 16, bruto, 4);  // SizeOfRawData
    poe(img, secao + 20, 0x200, 4);  // PointerToRawData
    img.replace(0x200, conteudo.size(), conteudo);
    if (certificados > 0) {
        poe(img, opcional + 112 + 4 * 8, img.size(), 4);
        poe(img, opcional + 112 + 4 * 8 + 4, certificados, 4);
        img.append(certificados, '\x30');
    }
    return img;
}

}  // namespace quelvo::test
