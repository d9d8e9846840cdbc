#include <gtest/gtest.h>
#include <openssl/x509.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "certificates/CertificateAccess.h"
#include "certificates/TCertificateStore.h"
#include "support/ErrorOf.h"
#include "support/SharedPki.h"
#include "support/TempDir.h"

namespace quelvo {
namespace {

const auto Expect = test::ErrorOf<std::exception>;

using test::SharedPki;
using test::TempDir;

unsigned Mode(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_mode & 0777;
}

TEST(CertificateStore, ImportsCurrentAndLegacyFiles) {
    const auto& pki = SharedPki();
    for (bool legacy : {false, true}) {
        TempDir dir;
        TCertificateStore store(dir.File("certificados"));
        const auto issued = pki.IssueECnpj("PADARIA CONCEIÇÃO LTDA", "11222333000181");
        const std::string file = dir.Write("empresa.pfx", pki.Pkcs12(issued, "s3nh@", legacy));
        const TCertificate cert = store.Import(file, "s3nh@");
        const std::string serial = SerialNumberOf(issued.cert.get());
        EXPECT_EQ(cert.SerialNumber(), serial);
        EXPECT_EQ(cert.Chain().size(), 2u) << "the chain that came in the file is kept";
        EXPECT_EQ(Mode(dir.File("certificados")), 0700u);
        EXPECT_EQ(Mode(dir.File("certificados/" + serial + ".pfx")), 0600u);
        EXPECT_EQ(Mode(dir.File("certificados/" + serial + ".pem")), 0600u);

        // Listing and lookup read the public files only.
        const auto listed = store.List();
        ASSERT_EQ(listed.size(), 1u);
        EXPECT_EQ(listed[0].SimpleName(), "PADARIA CONCEIÇÃO LTDA:11222333000181");
        EXPECT_EQ(listed[0].HolderName(), "PADARIA CONCEIÇÃO LTDA");
        EXPECT_EQ(listed[0].CNPJ(), "11222333000181");
        EXPECT_EQ(listed[0].Chain().size(), 2u);

        // Importing the same certificate again replaces it.
        store.Import(file, "s3nh@");
        EXPECT_EQ(store.List().size(), 1u);

        const auto credentials = store.LoadCredentials(serial, "s3nh@");
        EXPECT_EQ(X509_check_private_key(credentials.Certificate().Get(), credentials.Key()), 1);
        EXPECT_NE(credentials.KeyPem().find("PRIVATE KEY"), std::string::npos);
        const std::string pem = credentials.CertificatePem();
        size_t certs = 0;
        for (size_t at = 0; (at = pem.find("BEGIN CERTIFICATE", at)) != std::string::npos; ++at) {
            ++certs;
        }
        EXPECT_EQ(certs, 3u);  // the certificate and its chain
    }
}

// An office's companies carry the same authorities in their files: the program keeps one copy of
// each, however many companies it opens.
TEST(CertificateStore, CompaniesShareTheirAuthoritiesCertificates) {
    const auto& pki = SharedPki();
    TempDir dir;
    TCertificateStore store(dir.File("certificados"));
    std::vector<TClientCredentials> keys;
    for (const char* cnpj : {"11222333000181", "44555666000127"}) {
        const auto issued = pki.IssueECnpj("EMPRESA", cnpj);
        store.Import(dir.Write(std::string(cnpj) + ".pfx", pki.Pkcs12(issued, "s", false)), "s");
        keys.push_back(store.LoadCredentials(SerialNumberOf(issued.cert.get()), "s"));
    }
    const auto& a = keys[0].Certificate();
    const auto& b = keys[1].Certificate();
    EXPECT_NE(a.Get(), b.Get());
    ASSERT_EQ(a.Chain().size(), 2u);
    ASSERT_EQ(b.Chain().size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(a.Chain()[i].get(), b.Chain()[i].get()) << i;
    }
    // The listing's copies too, and the chain still reads back whole.
    const auto listed = store.List();
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_EQ(listed[0].Chain()[1].get(), a.Chain()[1].get());
    EXPECT_EQ(X509_cmp(a.Chain()[0].get(), SharedPki().Intermediate()), 0);
}

// A key opened from a PKCS#12 file stays in memory while it serves: it goes once its file is
// replaced or removed, or once a whole cycle went by without using it (a company removed).
TEST(CertificateStore, OpenKeysGoWithTheirFileOrWhenUnused) {
    const auto& pki = SharedPki();
    TempDir dir;
    TCertificateStore store(dir.File("certificados"));
    std::vector<std::string> serials;
    std::vector<std::string> files;
    for (const char* cnpj : {"11222333000181", "44555666000127"}) {
        const auto issued = pki.IssueECnpj("EMPRESA", cnpj);
        files.push_back(dir.Write(std::string(cnpj) + ".pfx", pki.Pkcs12(issued, "s", false)));
        store.Import(files.back(), "s");
        serials.push_back(SerialNumberOf(issued.cert.get()));
    }
    const auto abrir = [&](size_t i) { store.LoadCredentials(serials[i], "s"); };
    const auto varrer = [&] {
        TCertificateStore::VarrerChavesAbertas();
        return store.ChavesAbertasNaPasta();
    };
    abrir(0);
    abrir(1);
    EXPECT_EQ(store.ChavesAbertasNaPasta(), 2u);
    EXPECT_EQ(varrer(), 2u) << "both in use";
    abrir(0);
    abrir(1);
    store.Import(files[1], "s");  // the second one's file replaced
    EXPECT_EQ(varrer(), 1u) << "a replaced file's key";
    abrir(0);
    std::filesystem::remove(dir.File("certificados/" + serials[0] + ".pfx"));
    EXPECT_EQ(varrer(), 0u) << "a removed file's key";
    abrir(1);
    EXPECT_EQ(varrer(), 1u);
    EXPECT_EQ(varrer(), 0u) << "a key no cycle used";
}

TEST(CertificateStore, RefusesBadFiles) {
    const auto& pki = SharedPki();
    TempDir dir;
    TCertificateStore store(dir.File("certificados"));
    const auto issued = pki.IssueECnpj("ACME", "45997418000153");
    const auto other = pki.IssueECnpj("OUTRA", "60746948000112");
    struct Case {
        const char* what;
        std::string bytes;
        const char* password;
        std::string message;
    };
    const std::string file = dir.File("x.pfx");
    const Case cases[] = {
        {"wrong password", pki.Pkcs12(issued, "certa", false), "errada",
         "A senha informada não abre o certificado digital \"" + file + "\"."},
        {"wrong password, legacy file", pki.Pkcs12(issued, "certa", true), "errada",
         "A senha informada não abre o certificado digital \"" + file + "\"."},
        {"no private key", pki.Pkcs12(issued, "certa", false, false), "certa",
         "O certificado digital \"" + file + "\" não contém a chave privada."},
        {"key of another certificate", pki.Pkcs12(issued, "certa", false, true, other.key.get()),
         "certa",
         "A chave privada do arquivo \"" + file + "\" não corresponde ao seu certificado digital."},
        {"not PKCS#12", "garbage", "senha-oculta",
         "O arquivo \"" + file + "\" não é um certificado digital PKCS#12 (.pfx ou .p12) válido."},
    };
    for (const auto& c : cases) {
        dir.Write("x.pfx", c.bytes);
        const std::string message = Expect([&] { store.Import(file, c.password); });
        EXPECT_EQ(message, c.message) << c.what;
        EXPECT_EQ(message.find(c.password), std::string::npos) << c.what;
    }
    EXPECT_TRUE(store.List().empty());
    EXPECT_NE(Expect([&] { store.Import(dir.File("missing.pfx"), "x"); }).find("missing.pfx"),
              std::string::npos);
}

TEST(CertificateStore, FindBySerialIsExact) {
    const auto& pki = SharedPki();
    TempDir dir;
    TCertificateStore store(dir.File("certificados"));
    const auto expired = pki.IssueECnpj("VENCIDA", "60746948000112", testpki::Validity::Expired());
    const std::string serial = SerialNumberOf(expired.cert.get());
    store.ImportBytes(pki.Pkcs12(expired, "x", false), "x", "vencida.pfx");

    // An expired certificate is found; expiry is for the callers to judge.
    const TCertificate found = FindCertificateBySerial(store, serial);
    EXPECT_EQ(found.SerialNumber(), serial);
    EXPECT_EQ(FormatShortDate(CertificateExpiry(store, serial)), "30/06/2025");

    std::string lower = serial;
    for (auto& ch : lower) {
        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    }
    for (const std::string& missing :
         {lower, serial.substr(0, 4) + " " + serial.substr(4), std::string(), std::string("../x"),
          std::string("00") + serial}) {
        EXPECT_EQ(Expect([&] { FindCertificateBySerial(store, missing); }),
                  "\r\nSerial Number \"" + missing +
                      "\" do certificado digital não foi encontrado.\r\n"
                      "Verifique se o certificado está instalado ou conectado nesse computador.")
            << missing;
    }
    TCertificateStore empty(dir.File("nada"));
    EXPECT_THROW(CertificateExpiry(empty, serial), ECertificateNotFound);
}

TEST(CertificateStore, ChooserLinesAndChoice) {
    const auto& pki = SharedPki();
    TempDir dir;
    TCertificateStore store(dir.File("certificados"));
    std::vector<TCertificateChoice> seen;
    const auto cancel = [&](const std::vector<TCertificateChoice>& c) {
        seen = c;
        return -1;
    };
    EXPECT_TRUE(SelectCertificate(store, cancel).Serie.empty());  // nothing installed
    EXPECT_TRUE(seen.empty());

    const auto a = pki.IssueECnpj("EMPRESA A", "11222333000181");
    const auto b = pki.IssueECnpj("EMPRESA B", "45997418000153", testpki::Validity::Expired());
    store.ImportBytes(pki.Pkcs12(a, "1", false), "1", "a.pfx");
    store.ImportBytes(pki.Pkcs12(b, "2", true), "2", "b.pfx");
    const auto choices = CertificateChoices(store);
    ASSERT_EQ(choices.size(), 2u);
    const size_t ib = choices[0].Serie == SerialNumberOf(b.cert.get()) ? 0 : 1;
    EXPECT_EQ(choices[ib].Titular, "EMPRESA B:45997418000153");
    EXPECT_EQ(FormatShortDate(choices[ib].Vencimento), "30/06/2025");

    const auto chosen = SelectCertificate(store, [&](const auto&) { return static_cast<int>(ib); });
    EXPECT_EQ(chosen.Serie, SerialNumberOf(b.cert.get()));
    EXPECT_EQ(chosen.Titular, "EMPRESA B:45997418000153");
    EXPECT_TRUE(SelectCertificate(store, cancel).Serie.empty());
    EXPECT_TRUE(SelectCertificate(store, [](const auto&) -> int {
                    throw std::runtime_error("x");
                }).Serie.empty());
    EXPECT_TRUE(SelectCertificate(store, nullptr).Serie.empty());
}

// Serial texts: each byte of the encoded serial, a leading 00 included where the encoding has it.
TEST(Certificate, SerialTextAndCnpj) {
    struct Case {
        std::vector<unsigned char> bytes;
        const char* text;
    };
    const Case cases[] = {
        {{0x01}, "01"},
        {{0x0A, 0xBC}, "0ABC"},
        {{0x80, 0x01}, "008001"},  // positive with the top bit set: encoded with a 00 first
        {{0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
          0x88},
         "123456789ABCDEF01122334455667788"},
    };
    for (const auto& c : cases) {
        X509Ptr cert(X509_new());
        BIGNUM* bn = BN_bin2bn(c.bytes.data(), static_cast<int>(c.bytes.size()), nullptr);
        BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(cert.get()));
        BN_free(bn);
        EXPECT_EQ(SerialNumberOf(cert.get()), c.text);
    }
    const auto& pki = SharedPki();
    const auto server = pki.IssueServer();
    const TCertificate s(X509Ptr(X509_dup(server.cert.get())));
    EXPECT_EQ(s.CNPJ(), "");  // a subject-alternative name without the CNPJ entry
    EXPECT_EQ(s.SimpleName(), "localhost");
    EXPECT_EQ(s.SubjectName(), "CN=localhost, O=Servidor Teste, C=BR");
    const TCertificate root(X509Ptr(X509_dup(pki.Root())));
    EXPECT_EQ(root.CNPJ(), "");  // no subject-alternative name at all
}

}  // namespace
}  // namespace quelvo
