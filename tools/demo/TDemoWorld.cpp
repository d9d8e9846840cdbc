#include "TDemoWorld.h"

#include <cstdio>
#include <fstream>

#include "certificates/TCertificate.h"

namespace quelvo::demo {

namespace fs = std::filesystem;

namespace {

void Write(const fs::path& file, const std::string& bytes) {
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
}

std::string Chave(long long n) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "3526116074694800011255001%09lld1%09lld", n, n);
    return buf;
}

standin::ResumoNFe Resumo(long long n, const std::string& emitente, const char* valor) {
    standin::ResumoNFe r;
    r.chNFe = Chave(n);
    r.cnpjEmitente = "60746948000112";
    r.xNome = emitente;
    r.ie = "110042490114";
    r.vNF = valor;
    return r;
}

}  // namespace

TDemoWorld::TDemoWorld(const fs::path& root) : app_(root / "app"), service_(pki_) {
    const fs::path certs = root / "certificados-demo";
    std::error_code ec;
    fs::remove_all(root, ec);
    fs::create_directories(app_ / "ac-confiaveis");
    fs::create_directories(certs);
    Write(app_ / "ac-confiaveis" / "ac-raiz-demo.pem", testpki::CertPem(pki_.Root()));

    const auto a = pki_.IssueECnpj("PADARIA CONCEICAO LTDA", "11222333000181");
    const auto b = pki_.IssueECnpj("COMERCIO DE PECAS ACME S A", "45997418000153");
    Write(certs / "padaria.pfx", pki_.Pkcs12(a, "1234", false));
    Write(certs / "acme.pfx", pki_.Pkcs12(b, "abcd", true));
    empresas_ = {{"11.222.333/0001-81", "SP", (certs / "padaria.pfx").string(), "1234",
                  SerialNumberOf(a.cert.get())},
                 {"45.997.418/0001-53", "RS", (certs / "acme.pfx").string(), "abcd",
                  SerialNumberOf(b.cert.get())}};

    site_.AddUser(kUsuario, kSenha, "1001");
    // As the national service does: 20 consNSU an hour per CNPJ, an hour between distNSU once
    // there is nothing more, distNSU in sequence; 656 otherwise.
    service_.EnforceUsageRules();
    // The bakery receives summaries (accents and "&" in the issuers' names), a full invoice and
    // an event; the parts dealer two summaries.
    const struct {
        int nsu;
        const char* emitente;
        const char* valor;
    } padaria[] = {{1, "MOINHO S\xc3\x83O JO\xc3\x83O & FILHOS LTDA", "1500.00"},
                   {2, "LATIC\xc3\x8dNIOS BOA VIS\xc3\x83O S/A", "832.45"},
                   {4, "EMBALAGENS A&B COM\xc3\x89RCIO LTDA", "0.50"}};
    for (const auto& d : padaria) {
        service_.AddDocument("11222333000181", d.nsu,
                             standin::ResNFeXml(Resumo(d.nsu, d.emitente, d.valor)));
    }
    service_.AddDocument(
        "11222333000181", 3,
        standin::NfeProcXml(Resumo(3, "DISTRIBUIDORA DE FARINHA LTDA", "2200.00"),
                            "11222333000181"),
        "procNFe_v3.10.xsd");
    service_.AddDocument("11222333000181", 5, standin::ResEventoXml(Chave(1), "60746948000112"),
                         "resEvento_v1.00.xsd");
    service_.AddDocument(
        "45997418000153", 1,
        standin::ResNFeXml(Resumo(101, "A\xc3\x87O & FERRO IND\xc3\x9aSTRIA LTDA", "980.00")));
    service_.AddDocument("45997418000153", 2,
                         standin::ResNFeXml(Resumo(102, "PNEUS DO SUL LTDA", "4312.90")));

    Write(app_ / "Servidores.ini", "[Servidores]\r\nSite=" + site_.HostPort() +
                                       "\r\nSiteChaves=" + site_.HostPort() + "\r\nDFeProducao=" +
                                       service_.HostPort() + "\r\nDFeHomologacao=" +
                                       service_.HostPort() + "\r\n");
}

void TDemoWorld::NovaNota(const std::string& emitente) {
    const long long nsu = proximoNsu_++;
    service_.AddDocument("11222333000181", nsu,
                         standin::ResNFeXml(Resumo(nsu, emitente, "123.45")));
}

}  // namespace quelvo::demo
