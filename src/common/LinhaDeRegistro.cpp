#include "common/LinhaDeRegistro.h"

#include "common/Win1252.h"

namespace quelvo {

std::string LinhaDeRegistro(const std::vector<std::string>& partes) {
    std::string linha;
    for (const auto& parte : partes) {
        std::string limpa;
        size_t pos = 0;
        while (pos < parte.size()) {
            const size_t inicio = pos;
            const long cp = NextCodePoint(parte, pos);
            if (cp == '\t') {
                limpa += ' ';
            } else if (cp >= 0x20 && cp != 0x7F && (cp < 0x80 || cp > 0x9F)) {
                limpa.append(parte, inicio, pos - inicio);
            }
        }
        if (limpa.find_first_not_of(' ') == std::string::npos) {
            continue;
        }
        if (!linha.empty()) {
            linha += ' ';
        }
        linha += limpa;
    }
    return linha;
}

}  // namespace quelvo
