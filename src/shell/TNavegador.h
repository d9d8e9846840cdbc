#pragma once

#include <functional>
#include <string>

namespace quelvo {

// Opens an address in the user's default browser. Tests install their own opener (the previous
// one comes back); an empty opener restores the desktop's.
using AbridorDeEnderecos = std::function<void(const std::string&)>;
AbridorDeEnderecos InstalarAbridorDeEnderecos(AbridorDeEnderecos abridor);

// The desktop's opener goes through xdg-open, watched for a few seconds: when no browser can be
// started (no xdg-open, or it finds none) an error box says so, without the address, which may
// carry the site's password. The window's thread never waits for it.
void AbrirEndereco(const std::string& endereco);
// How many of those openings are still watched.
int AberturasEmAndamento();

inline constexpr const char* kSemNavegador =
    "Não foi possível abrir o navegador. Verifique se há um navegador instalado e escolhido como "
    "padrão neste computador.";

}  // namespace quelvo
