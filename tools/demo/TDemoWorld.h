#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "TDfeStandIn.h"
#include "TSiteStandIn.h"
#include "TestPki.h"

namespace quelvo::demo {

// The demo's outside world on loopback: a test certificate authority, the site stand-in with the
// demo user, the national service's stand-in with the demo companies' documents, and an
// application folder that points at both. The stand-ins run as long as the object lives.
class TDemoWorld {
public:
    struct Empresa {
        std::string cnpj;       // with its mask, as the registration dialog writes it
        std::string uf;
        std::string pfx;        // the company's PKCS#12 file (outside the application folder)
        std::string senha;
        std::string serie;
    };

    static constexpr const char* kUsuario = "demo@quelvo.local";
    static constexpr const char* kSenha = "demo123";

    // Makes `root` afresh: `root`/app is the application folder, `root`/certificados-demo the
    // companies' certificate files.
    explicit TDemoWorld(const std::filesystem::path& root);

    const std::filesystem::path& App() const { return app_; }
    const std::vector<Empresa>& Empresas() const { return empresas_; }
    standin::TSiteStandIn& Site() { return site_; }
    standin::TDfeStandIn& Service() { return service_; }

    // One more summary for the first company, under the next NSU (a new invoice for the next
    // cycle).
    void NovaNota(const std::string& emitente);

private:
    std::filesystem::path app_;
    testpki::TestPki pki_;
    standin::TSiteStandIn site_;
    standin::TDfeStandIn service_;
    std::vector<Empresa> empresas_;
    long long proximoNsu_ = 6;
};

}  // namespace quelvo::demo
