#pragma once

#include <functional>
#include <string>

namespace quelvo {

// Opens an address in the user's default browser. Tests install their own opener (the previous
// one comes back); an empty opener restores the desktop's.
using AbridorDeEnderecos = std::function<void(const std::string&)>;
AbridorDeEnderecos InstalarAbridorDeEnderecos(AbridorDeEnderecos abridor);
void AbrirEndereco(const std::string& endereco);

}  // namespace quelvo
