#pragma once

#include <string>

namespace quelvo {

// The hosts the program talks to. Built-in defaults, each overridable by the optional file
// "Servidores.ini" of the application folder, section [Servidores], keys "Site", "SiteChaves",
// "DFeProducao" and "DFeHomologacao", each "host" or "host:port".
struct TServidores {
    static constexpr const char* kFileName = "Servidores.ini";

    std::string Site = "www.travon.com.br";               // the site's main host
    std::string SiteChaves = "chaves.travon.com.br";      // the key-upload host
    std::string DFeProducao = "www1.nfe.fazenda.gov.br";  // national DF-e service, production
    std::string DFeHomologacao = "hom1.nfe.fazenda.gov.br";

    // The defaults with what the file of that folder overrides (a missing file changes nothing).
    static TServidores Load(const std::string& appDir);
    // The same for the application folder.
    static TServidores Current();
};

}  // namespace quelvo
