// The trust anchors of the national service's chain: the ICP-Brasil roots built into the program
// and the folder "ac-confiaveis/".
#include "dfe/TTrustAnchors.h"

#include <gtest/gtest.h>
#include <openssl/x509.h>

#include <filesystem>

#include "support/SharedPki.h"
#include "support/TempDir.h"

namespace quelvo {
namespace {

using test::TempDir;

std::string Der(X509* cert) {
    unsigned char* der = nullptr;
    const int length = i2d_X509(cert, &der);
    std::string out(reinterpret_cast<const char*>(der), static_cast<size_t>(length));
    OPENSSL_free(der);
    return out;
}

TEST(TrustAnchors, TheBuiltInRootsAreTheIcpBrasilRootsInForce) {
    // The fingerprints ITI's roots are published with.
    const struct {
        const char* arquivo;
        const char* titular;
        int anoFinal;
        const char* sha256;
    } raizes[] = {
        {"ac-raiz-icp-brasil-v5.pem", "Autoridade Certificadora Raiz Brasileira v5", 2029,
         "CA:A5:3F:C6:09:1C:69:51:88:7C:97:6E:37:8F:6E:F8:9A:A6:37:7C:55:D9:7B:64:75:42:2B:71:"
         "ED:7E:9B:17"},
        {"ac-raiz-icp-brasil-v10.pem", "Autoridade Certificadora Raiz Brasileira v10", 2032,
         "6E:0B:FF:06:9A:26:99:4C:15:DE:2C:48:88:CC:54:AF:84:88:2E:54:95:B7:FB:F6:6B:E9:CC:FF:"
         "EC:74:89:F6"},
        {"ac-raiz-icp-brasil-v12.pem", "Autoridade Certificadora Raiz Brasileira v12", 2037,
         "D8:47:8E:37:CE:19:C6:90:CF:65:73:81:E6:8F:E6:00:E4:E1:A0:42:53:68:30:F0:68:47:E0:3E:"
         "55:4C:4B:01"},
    };
    const auto& embutidas = TTrustAnchors::BuiltIn();
    ASSERT_EQ(embutidas.size(), std::size(raizes));
    for (size_t i = 0; i < embutidas.size(); ++i) {
        const auto& a = embutidas[i];
        EXPECT_TRUE(a.embutida);
        EXPECT_EQ(a.arquivo, raizes[i].arquivo);
        EXPECT_EQ(Sha256Fingerprint(a.certificate.Get()), raizes[i].sha256) << a.arquivo;
        EXPECT_EQ(a.certificate.SimpleName(), raizes[i].titular) << a.arquivo;
        EXPECT_EQ(a.certificate.NotAfter().Year, raizes[i].anoFinal) << a.arquivo;
        // A root: issued by itself.
        EXPECT_EQ(X509_check_issued(a.certificate.Get(), a.certificate.Get()), X509_V_OK);
    }
    // Every load starts with them, also without a folder.
    EXPECT_EQ(TTrustAnchors::Load("").Anchors().size(), std::size(raizes));
    EXPECT_EQ(TTrustAnchors::Load("/nao/existe/").Anchors().size(), std::size(raizes));
}

TEST(TrustAnchors, TheFolderAddsItsFilesAndNamesTheOnesItCannotUse) {
    TempDir dir;
    X509* testRoot = test::SharedPki().Root();
    const std::string pem = testpki::CertPem(testRoot);
    dir.Write("b-dois.pem", pem + pem);      // two certificates in one file
    dir.Write("a-raiz.crt", Der(testRoot));  // DER, as authorities publish roots
    dir.Write("c-leia-me.txt", "not a certificate file by its name");
    dir.Write("d-lixo.pem", "-----BEGIN CERTIFICATE-----\nlixo\n-----END CERTIFICATE-----\n");
    dir.Write("e-grande.crt", std::string(TTrustAnchors::kMaxFileBytes + 1, 'x'));
    std::filesystem::create_symlink("nao-existe", dir.File("f-quebrado.pem"));
    std::filesystem::create_directory(dir.File("g-pasta.pem"));

    const TTrustAnchors t = TTrustAnchors::Load(dir.path().string() + "/");
    const auto& anchors = t.Anchors();
    ASSERT_EQ(anchors.size(), TTrustAnchors::BuiltIn().size() + 3);
    const std::string testFingerprint = Sha256Fingerprint(testRoot);
    const std::string folder = dir.path().string() + "/";
    const std::string esperados[] = {folder + "a-raiz.crt", folder + "b-dois.pem",
                                     folder + "b-dois.pem"};
    for (size_t i = 0; i < 3; ++i) {
        const auto& a = anchors[TTrustAnchors::BuiltIn().size() + i];
        EXPECT_FALSE(a.embutida);
        EXPECT_EQ(a.arquivo, esperados[i]);
        EXPECT_EQ(Sha256Fingerprint(a.certificate.Get()), testFingerprint);
    }
    const struct {
        std::string arquivo;
        std::string motivo;
    } problemas[] = {
        {folder + "d-lixo.pem", "não contém certificado (PEM ou DER)"},
        {folder + "e-grande.crt", "passa de 1 MB"},
        {folder + "f-quebrado.pem", "No such file or directory"},
        {folder + "g-pasta.pem", "não é um arquivo"},
    };
    ASSERT_EQ(t.Problems().size(), std::size(problemas));
    for (size_t i = 0; i < std::size(problemas); ++i) {
        EXPECT_EQ(t.Problems()[i].arquivo, problemas[i].arquivo);
        EXPECT_EQ(t.Problems()[i].motivo, problemas[i].motivo) << problemas[i].arquivo;
    }
}

}  // namespace
}  // namespace quelvo
