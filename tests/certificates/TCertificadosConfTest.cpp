#include "dfe/TCertificadosConf.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "dfe/ENFeClientError.h"
#include "support/ErrorOf.h"
#include "support/SharedPki.h"
#include "support/TempDir.h"

namespace quelvo {
namespace {

const auto ErrorOf = test::ErrorOf<std::exception>;

using test::SharedPki;
using test::TempDir;

TEST(CertificadosConf, NumeroSerieIsNormalised) {
    EXPECT_EQ(NormalizeSerial(" 4c c7 5e\t16 "), "4CC75E16");
    EXPECT_EQ(NormalizeSerial(""), "");
    TempDir dir;
    TCertificadosConf conf{TCertificateStore(dir.File("certificados"))};
    conf.SetNumeroSerie("  0a 1b ");
    EXPECT_EQ(conf.NumeroSerie(), "0A1B");
}

TEST(CertificadosConf, LoadCertificateMessagesAndValues) {
    const auto& pki = SharedPki();
    TempDir dir;
    TCertificateStore store(dir.File("certificados"));
    const auto issued = pki.IssueECnpj("ACME", "45997418000153");
    store.ImportBytes(pki.Pkcs12(issued, "senha123", true), "senha123", "acme.pfx");
    const std::string serial = SerialNumberOf(issued.cert.get());

    TCertificadosConf conf(store);
    EXPECT_EQ(ErrorOf([&] { conf.LoadCertificate(); }),
              "Número de Série do Certificado Digital não especificado !");
    EXPECT_EQ(conf.DataVenc(), TDateTime{});  // blank serial: zero, nothing loaded
    EXPECT_EQ(conf.CNPJ(), "");
    conf.SetNumeroSerie("ABCDEF");
    EXPECT_EQ(ErrorOf([&] { conf.LoadCertificate(); }), "Certificado Digital não encontrado!");
    EXPECT_THROW(conf.DataVenc(), ENFeClientError);

    // Typed in lower case with blanks, it still finds the certificate.
    std::string typed;
    for (size_t i = 0; i < serial.size(); i += 2) {
        typed += " " + serial.substr(i, 2);
    }
    for (auto& c : typed) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    conf.SetNumeroSerie(typed);
    EXPECT_EQ(conf.LoadCertificate().SerialNumber(), serial);
    EXPECT_EQ(conf.CNPJ(), "45997418000153");
    EXPECT_EQ(conf.SubjectName().rfind("CN=ACME:45997418000153, ", 0), 0u) << conf.SubjectName();
    EXPECT_EQ(FormatShortDate(conf.DataVenc()), "31/12/2049");

    // The key for TLS: the right password opens it; a wrong one names the certificate only.
    conf.SetSenha("senha errada");
    const std::string wrong = ErrorOf([&] { conf.Credentials(); });
    EXPECT_EQ(wrong, "A senha informada não abre o certificado digital \"" + serial + "\".");
    conf.SetSenha("senha123");
    const auto credentials = conf.Credentials();
    EXPECT_EQ(credentials->Certificate().SerialNumber(), serial);
    EXPECT_EQ(conf.Credentials(), credentials);  // kept for the same serial and password

    // The certificate found last is reused for the same serial, without the store.
    std::filesystem::remove_all(dir.File("certificados"));
    EXPECT_EQ(conf.LoadCertificate().SerialNumber(), serial);
}

TEST(CertificadosConf, CertificateWithoutKeyFileFails) {
    const auto& pki = SharedPki();
    TempDir dir;
    TCertificateStore store(dir.File("certificados"));
    const auto issued = pki.IssueECnpj("ACME", "45997418000153");
    store.ImportBytes(pki.Pkcs12(issued, "x", false), "x", "acme.pfx");
    const std::string serial = SerialNumberOf(issued.cert.get());
    std::filesystem::remove(dir.File("certificados/" + serial + ".pfx"));
    TCertificadosConf conf(store);
    conf.SetNumeroSerie(serial);
    EXPECT_THROW(conf.LoadCertificate(), ECertificateError);
}

}  // namespace
}  // namespace quelvo
