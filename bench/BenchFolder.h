#pragma once

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "TDfeStandIn.h"
#include "TSiteStandIn.h"
#include "TestPki.h"

namespace quelvo::bench {

// A fresh application folder for a benchmark, wired to the stand-ins: the test authority in
// "ac-confiaveis", "temp", and "Servidores.ini" naming both servers. Its path ends without "/".
inline std::filesystem::path PastaDeBench(const std::string& nome, const testpki::TestPki& pki,
                                          const standin::TSiteStandIn& site,
                                          const standin::TDfeStandIn& service) {
    const auto dir =
        std::filesystem::temp_directory_path() / (nome + "-" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir / "ac-confiaveis");
    std::filesystem::create_directories(dir / "temp");
    std::ofstream(dir / "ac-confiaveis" / "raiz.pem") << testpki::CertPem(pki.Root());
    std::ofstream(dir / "Servidores.ini")
        << "[Servidores]\r\nSite=" << site.HostPort() << "\r\nSiteChaves=" << site.HostPort()
        << "\r\nDFeProducao=" << service.HostPort() << "\r\n";
    return dir;
}

}  // namespace quelvo::bench
