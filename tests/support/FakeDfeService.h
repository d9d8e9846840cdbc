#pragma once

#include <memory>
#include <string>

#include "TDfeStandIn.h"
#include "TStandInServer.h"
#include "support/SharedPki.h"

namespace quelvo::test {

// An HTTPS server on loopback that demands a client certificate of the test authority, like the
// national service, and answers whatever the test sets (by default an answer without
// documents). Its own certificate names what the test chooses.
struct FakeDfeService {
    explicit FakeDfeService(const std::string& names = "DNS:localhost,IP:127.0.0.1,IP:::1") {
        const auto& pki = SharedPki();
        const auto cert = pki.IssueServer("servidor", names);
        standin::TStandInServer::Tls tls;
        tls.certificatePem = pki.ChainPem(cert.cert.get());
        tls.keyPem = testpki::KeyPem(cert.key.get());
        tls.clientCaPem = testpki::CertPem(pki.Root()) + testpki::CertPem(pki.Intermediate());
        server = std::make_unique<standin::TStandInServer>(
            [this](const standin::Request&) { return response; }, tls);
    }

    std::string HostPort() const { return server->HostPort(); }
    std::string Url() const {
        return "https://" + server->HostPort() + "/NFeDistribuicaoDFe/NFeDistribuicaoDFe.asmx";
    }

    static standin::Response NothingFound() {
        return standin::Response{
            200,
            "",
            {},
            standin::TDfeStandIn::Envelope(
                "<retDistDFeInt versao=\"1.01\"><tpAmb>1</tpAmb><cStat>137</cStat><xMotivo>"
                "Nenhum documento localizado</xMotivo><ultNSU>0</ultNSU><maxNSU>0</maxNSU>"
                "</retDistDFeInt>")};
    }

    standin::Response response = NothingFound();
    std::unique_ptr<standin::TStandInServer> server;
};

}  // namespace quelvo::test
