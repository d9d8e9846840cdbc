// Which downloads are whole executables of the machine's kind: ELF on Linux, PE on Windows.
#include <gtest/gtest.h>

#include "common/SafeFile.h"
#include "monitor/TFormatoExecutavel.h"
#include "platform/Process.h"
#include "support/PeImage.h"

namespace quelvo {
namespace {

using test::PeImage;

TEST(FormatoExecutavel, WholeImagesOfEachKind) {
    const std::string pe = PeImage("QUELVO-PROGRAMA=quelvo");
    const std::string assinado = PeImage("x", false, 1024);
    std::string comSimbolos = PeImage("x");
    comSimbolos[0x44 + 8] = static_cast<char>(comSimbolos.size() & 0xFF);  // symbols at the end
    comSimbolos[0x44 + 9] = static_cast<char>(comSimbolos.size() >> 8);
    comSimbolos[0x44 + 12] = 2;  // two symbols
    std::string comTextos =
        comSimbolos + std::string(36, 's') + std::string("\x10\0\0\0", 4) + std::string(12, 't');
    const std::string elf = ReadWholeFile(platform::ExecutablePath());
    const struct {
        const char* what;
        std::string bytes;
        bool executable;  // an identity at all
        bool whole;
    } casos[] = {
        {"a Windows program", pe, true, true},
        {"a Windows program cut short", pe.substr(0, pe.size() - 1), true, false},
        {"its headers alone", pe.substr(0, 0x150), true, false},
        {"a Windows library", PeImage("x", true), false, true},
        {"a signed Windows program", assinado, true, true},
        {"its certificate table cut short", assinado.substr(0, assinado.size() - 1), true, false},
        {"a symbol table past the end", comSimbolos, true, false},
        {"a symbol table and its strings", comTextos, true, true},
        {"its strings cut short", comTextos.substr(0, comTextos.size() - 1), true, false},
        {"no executable at all", "MZ" + std::string(600, '\0'), false, false},
        {"the program running this test", elf, true, true},
        {"this program cut short", elf.substr(0, elf.size() / 2), true, false},
    };
    for (const auto& c : casos) {
        EXPECT_EQ(!TFormatoExecutavel::Identidade(c.bytes).empty(), c.executable) << c.what;
        EXPECT_EQ(TFormatoExecutavel::Completo(c.bytes), c.whole) << c.what;
    }
    // A Windows program and this machine's are never the same kind.
    EXPECT_NE(TFormatoExecutavel::Identidade(pe), TFormatoExecutavel::Identidade(elf));
}

}  // namespace
}  // namespace quelvo
