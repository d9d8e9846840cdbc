#pragma once

#include <sys/resource.h>
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

// A valid CNPJ (check digits computed) for company number n of a benchmark's range.
inline std::string CnpjDeBench(int base, int n) {
    std::string d = std::to_string(base + n) + "0001";
    const auto digit = [&](const int* weights, int count) {
        int sum = 0;
        for (int i = 0; i < count; ++i) {
            sum += (d[i] - '0') * weights[i];
        }
        const int r = sum % 11;
        return static_cast<char>('0' + (r < 2 ? 0 : 11 - r));
    };
    static const int w1[] = {5, 4, 3, 2, 9, 8, 7, 6, 5, 4, 3, 2};
    static const int w2[] = {6, 5, 4, 3, 2, 9, 8, 7, 6, 5, 4, 3, 2};
    d += digit(w1, 12);
    d += digit(w2, 13);
    return d;
}

// Seconds of CPU this process has used, user and system.
inline double TempoDeCpu() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_utime.tv_usec / 1e6 + u.ru_stime.tv_sec +
           u.ru_stime.tv_usec / 1e6;
}

}  // namespace quelvo::bench
