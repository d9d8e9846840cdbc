#pragma once

#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "TDfeStandIn.h"
#include "TSiteStandIn.h"
#include "TestPki.h"

namespace quelvo::bench {

// Hosts of the stand-ins of the DF-e service and of the site that run in a process of their own,
// so that their work never counts in the benchmark's CPU and memory figures.
struct ServidoresAParte {
    pid_t pid = -1;
    std::string dfe, site;
};

// Starts them (every DF-e answer `demora` late, the site user "bench" with password "x"); the
// caller ends them with SIGTERM. The test authority is made before the fork, so both sides know
// it.
inline ServidoresAParte IniciarServidoresAParte(const testpki::TestPki& pki,
                                                std::chrono::milliseconds demora) {
    int canal[2];
    if (::pipe(canal) != 0) {
        std::exit(1);
    }
    ServidoresAParte s;
    s.pid = ::fork();
    if (s.pid == 0) {
        ::close(canal[0]);
        standin::TDfeStandIn service(pki);
        service.SetDelay(demora);
        standin::TSiteStandIn site;
        site.AddUser("bench", "x", "1");
        const std::string hosts = service.HostPort() + " " + site.HostPort() + "\n";
        if (::write(canal[1], hosts.data(), hosts.size()) < 0) {
            ::_exit(1);
        }
        for (;;) {
            ::pause();  // until the benchmark ends it
        }
    }
    ::close(canal[1]);
    char buf[256] = {0};
    if (::read(canal[0], buf, sizeof buf - 1) <= 0) {
        std::exit(1);
    }
    ::close(canal[0]);
    std::istringstream(buf) >> s.dfe >> s.site;
    return s;
}

// A fresh application folder for a benchmark, wired to the servers at those hosts: the test
// authority in "ac-confiaveis", "temp", and "Servidores.ini" naming both. Its path ends without
// "/".
inline std::filesystem::path PastaDeBench(const std::string& nome, const testpki::TestPki& pki,
                                          const std::string& dfe, const std::string& site) {
    const auto dir =
        std::filesystem::temp_directory_path() / (nome + "-" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir / "ac-confiaveis");
    std::filesystem::create_directories(dir / "temp");
    std::ofstream(dir / "ac-confiaveis" / "raiz.pem") << testpki::CertPem(pki.Root());
    std::ofstream(dir / "Servidores.ini")
        << "[Servidores]\r\nSite=" << site << "\r\nSiteChaves=" << site << "\r\nDFeProducao=" << dfe
        << "\r\n";
    return dir;
}

// The same, wired to stand-ins of this process.
inline std::filesystem::path PastaDeBench(const std::string& nome, const testpki::TestPki& pki,
                                          const standin::TSiteStandIn& site,
                                          const standin::TDfeStandIn& service) {
    return PastaDeBench(nome, pki, service.HostPort(), site.HostPort());
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
