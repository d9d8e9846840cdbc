#pragma once

#include <memory>
#include <string>

#include "TDfeStandIn.h"
#include "certificates/TCertificateStore.h"
#include "dfe/TNFeClient.h"
#include "support/SharedPki.h"
#include "support/SoftHsm.h"
#include "support/TempDir.h"

namespace quelvo::test {

// An application folder wired to a stand-in of the national service: the test authority in
// "ac-confiaveis", two companies' certificates in the store, "Servidores.ini" pointing at the
// stand-in.
class DfeWorld {
public:
    struct Company {
        std::string cnpj;
        std::string serial;
        std::string senha;
        std::string name;
    };

    DfeWorld() : service(SharedPki()), store(dir.File("certificados")) {
        std::filesystem::create_directories(dir.File("ac-confiaveis"));
        dir.Write("ac-confiaveis/raiz.pem", testpki::CertPem(SharedPki().Root()));
        UseSite("127.0.0.1:1");
        a = AddCompany("EMPRESA A LTDA", "11222333000181", "senha-a", false);
        b = AddCompany("EMPRESA B S A", "45997418000153", "senha-b", true);
    }

    Company AddCompany(const std::string& name, const std::string& cnpj, const std::string& senha,
                       bool legacy,
                       const testpki::Validity& validity = testpki::Validity::Current()) {
        const auto issued = SharedPki().IssueECnpj(name, cnpj, validity);
        const auto cert =
            store.ImportBytes(SharedPki().Pkcs12(issued, senha, legacy), senha, name + ".pfx");
        return Company{cnpj, cert.SerialNumber(), senha, name};
    }

    // A company whose certificate sits on a token of `hsm`: its password is the token's PIN.
    Company AddTokenCompany(SoftHsm& hsm, const std::string& token, const std::string& pin,
                            const std::string& name, const std::string& cnpj) {
        const auto issued = SharedPki().IssueECnpj(name, cnpj);
        return Company{cnpj, hsm.Import(token, pin, issued), pin, name};
    }

    std::string AppDir() const { return dir.path().string() + "/"; }

    // Points the site's hosts (main and key upload) at a stand-in, and the national service's
    // at the world's stand-in or at another server.
    void UseSite(const std::string& hostPort, const std::string& dfe = "") {
        const std::string d = dfe.empty() ? service.HostPort() : dfe;
        dir.Write("Servidores.ini", "[Servidores]\r\nSite=" + hostPort +
                                        "\r\nSiteChaves=" + hostPort + "\r\nDFeProducao=" + d +
                                        "\r\nDFeHomologacao=" + d + "\r\n");
    }

    // A production client of this folder presenting the company's certificate.
    std::unique_ptr<TNFeClient> NewClient(const Company& company) {
        auto client = std::make_unique<TNFeClient>();
        auto& c = client->Configuracoes;
        c.Servidores = TServidores::Load(AppDir());
        c.PastaAcConfiaveis = dir.File("ac-confiaveis");
        c.Certificados = TCertificadosConf(store);
        c.Certificados.SetNumeroSerie(company.serial);
        c.Certificados.SetSenha(company.senha);
        c.WebServices.Ambiente = TpcnTipoAmbiente::taProducao;
        return client;
    }

    TempDir dir;
    standin::TDfeStandIn service;
    TCertificateStore store;
    Company a;
    Company b;
};

}  // namespace quelvo::test
