#include "common/LinhaDeRegistro.h"

#include <gtest/gtest.h>

namespace quelvo {
namespace {

TEST(LinhaDeRegistro, OneEntryOnePlainLine) {
    const struct {
        const char* what;
        std::vector<std::string> partes;
        std::string linha;
    } casos[] = {
        {"a plain entry",
         {"10/12/2026 10:00:00 Ciclo iniciado"},
         "10/12/2026 10:00:00 Ciclo iniciado"},
        {"a message with line breaks comes in parts",
         {"10/12/2026 10:00:00 WebService Distribuição de DFe:",
          "- Inativo ou Inoperante tente novamente.", "- Erro: Requisição não enviada."},
         "10/12/2026 10:00:00 WebService Distribuição de DFe: - Inativo ou Inoperante tente "
         "novamente. - Erro: Requisição não enviada."},
        {"empty parts add no blanks", {"a", "", "b"}, "a b"},
        {"a terminal's escape sequence loses its ESC",
         {"x\x1b[31mvermelho\x1b[0m"},
         "x[31mvermelho[0m"},
        {"carriage return, bell, backspace, DEL",
         {"a\rb\x07"
          "c\x08"
          "d\x7f"
          "e"},
         "abcde"},
        {"a tab is a blank", {"a\tb"}, "a b"},
        {"C1 controls (CSI U+009B) go, accents stay",
         {"ação \xc2\x9b"
          "1m fim"},
         "ação 1m fim"},
        {"a byte that is not UTF-8 goes",
         {"a\xff"
          "b"},
         "ab"},
        {"nothing", {}, ""},
    };
    for (const auto& c : casos) {
        const std::string linha = LinhaDeRegistro(c.partes);
        EXPECT_EQ(linha, c.linha) << c.what;
        EXPECT_EQ(linha.find_first_of("\r\n"), std::string::npos) << c.what;
    }
}

}  // namespace
}  // namespace quelvo
