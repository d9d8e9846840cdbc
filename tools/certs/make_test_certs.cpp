// Makes a test PKI in a folder: the root and intermediate CAs, a loopback server certificate with
// its key, and e-CNPJ client certificates as PKCS#12 files (one of them expired). For tests and
// the demo only: the authorities' keys are made anew at every run, the companies' keys are the
// test PKI's published fixed keys.
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

#include "TestPki.h"
#include "certificates/TCertificate.h"

using quelvo::testpki::TestPki;

namespace {

void Write(const std::filesystem::path& file, const std::string& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << bytes;
    std::filesystem::permissions(
        file, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << "Uso: quelvo-testcerts PASTA [SENHA]\n";
        return 2;
    }
    const std::filesystem::path dir = argv[1];
    const std::string password = argc > 2 ? argv[2] : "1234";
    std::filesystem::create_directories(dir);
    const TestPki pki;
    Write(dir / "ac-raiz.pem", quelvo::testpki::CertPem(pki.Root()));
    Write(dir / "ac-intermediaria.pem", quelvo::testpki::CertPem(pki.Intermediate()));
    const auto server = pki.IssueServer();
    Write(dir / "servidor.pem", pki.ChainPem(server.cert.get()));
    Write(dir / "servidor-chave.pem", quelvo::testpki::KeyPem(server.key.get()));
    struct Client {
        const char* file;
        const char* name;
        const char* cnpj;
        quelvo::testpki::Validity validity;
        bool legacy;
    };
    const Client clients[] = {
        {"empresa-a.pfx", "PADARIA CONCEICAO LTDA", "11222333000181",
         quelvo::testpki::Validity::Current(), false},
        {"empresa-b.pfx", "COMERCIO DE PECAS ACME S A", "45997418000153",
         quelvo::testpki::Validity::Current(), true},
        {"vencida.pfx", "EMPRESA VENCIDA LTDA", "60746948000112",
         quelvo::testpki::Validity::Expired(), false},
    };
    for (const auto& c : clients) {
        const auto issued = pki.IssueECnpj(c.name, c.cnpj, c.validity);
        Write(dir / c.file, pki.Pkcs12(issued, password, c.legacy));
        std::cout << c.file << " " << quelvo::SerialNumberOf(issued.cert.get()) << " " << c.cnpj
                  << "\n";
    }
    return 0;
}
