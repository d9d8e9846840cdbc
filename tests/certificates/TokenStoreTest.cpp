#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <algorithm>
#include <string>

#include "certificates/CertificateAccess.h"
#include "certificates/TCertificateStore.h"
#include "certificates/TTokenSession.h"
#include "support/ErrorOf.h"
#include "support/SharedPki.h"
#include "support/SoftHsm.h"
#include "support/TempDir.h"

namespace quelvo {
namespace {

using test::SharedPki;
using test::SoftHsm;
using test::TempDir;

const auto ErrorOf = test::ErrorOf<std::exception>;

// Whether the key makes signatures that the certificate's public key verifies.
bool SignsFor(EVP_PKEY* key, X509* cert) {
    const std::string data = "distDFeInt";
    unsigned char sig[512];
    size_t len = sizeof sig;
    EVP_MD_CTX* md = EVP_MD_CTX_new();
    bool ok = EVP_DigestSignInit(md, nullptr, EVP_sha256(), nullptr, key) == 1 &&
              EVP_DigestSign(md, sig, &len, reinterpret_cast<const unsigned char*>(data.data()),
                             data.size()) == 1;
    EVP_MD_CTX_free(md);
    EVP_PKEY* pub = X509_get0_pubkey(cert);
    md = EVP_MD_CTX_new();
    ok = ok && EVP_DigestVerifyInit(md, nullptr, EVP_sha256(), nullptr, pub) == 1 &&
         EVP_DigestVerify(md, sig, len, reinterpret_cast<const unsigned char*>(data.data()),
                          data.size()) == 1;
    EVP_MD_CTX_free(md);
    return ok;
}

TEST(TokenStore, ListsTheTokensCertificatesBesideTheFolders) {
    SoftHsm hsm;
    hsm.AddToken("Token Empresa A", "1234");
    hsm.AddToken("Cartão B", "987654");
    const auto issuedA = SharedPki().IssueECnpj("EMPRESA A LTDA", "11222333000181");
    const auto issuedB = SharedPki().IssueECnpj("EMPRESA B S A", "45997418000153", -400, -1);
    const std::string a = hsm.Import("Token Empresa A", "1234", issuedA);
    const std::string b = hsm.Import("Cartão B", "987654", issuedB);
    TempDir dir;
    TCertificateStore store(dir.File("certificados"));
    const auto issuedF = SharedPki().IssueECnpj("EMPRESA F ME", "60746948000112");
    const std::string f =
        store.ImportBytes(SharedPki().Pkcs12(issuedF, "s", false), "s", "f.pfx").SerialNumber();

    std::string problem = "(none)";
    const auto listed = store.List(&problem);
    EXPECT_EQ(problem, "(none)");
    // The authorities' certificates on the tokens are chains, not choices.
    ASSERT_EQ(listed.size(), 3u);
    EXPECT_TRUE(std::is_sorted(listed.begin(), listed.end(), [](const auto& x, const auto& y) {
        return x.SerialNumber() < y.SerialNumber();
    }));
    const auto onA = store.Find(a);
    ASSERT_TRUE(onA);
    ASSERT_NE(onA->Token(), nullptr);
    EXPECT_EQ(onA->Token()->label, "Token Empresa A");
    EXPECT_EQ(onA->HolderName(), "EMPRESA A LTDA");
    EXPECT_EQ(onA->CNPJ(), "11222333000181");
    EXPECT_EQ(onA->Chain().size(), 2u);
    EXPECT_EQ(store.Find(f)->Token(), nullptr);
    // Expired certificates are listed; the serial is matched exactly.
    EXPECT_EQ(CertificateExpiry(store, b).DateOnly(),
              TCertificate(X509Ptr(X509_dup(issuedB.cert.get()))).NotAfter().DateOnly());
    std::string lower = a;
    std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
    if (lower != a) {
        EXPECT_FALSE(store.Find(lower));
    }

    const auto choices = CertificateChoices(store);
    ASSERT_EQ(choices.size(), 3u);
    for (const auto& c : choices) {
        EXPECT_EQ(c.Token, c.Serie == a   ? "Token Empresa A"
                           : c.Serie == b ? "Cartão B"
                                          : "")
            << c.Serie;
    }

    // A certificate of the folder hides the same one on a token.
    store.ImportBytes(SharedPki().Pkcs12(issuedA, "x", false), "x", "a.pfx");
    EXPECT_EQ(store.List().size(), 3u);
    EXPECT_EQ(store.Find(a)->Token(), nullptr);

    // Pulled out: its certificates are not found, as any missing one.
    hsm.Unplug();
    EXPECT_FALSE(store.Find(b));
    EXPECT_EQ(ErrorOf([&] { FindCertificateBySerial(store, b); }),
              "\r\nSerial Number \"" + b +
                  "\" do certificado digital não foi encontrado.\r\nVerifique se o certificado "
                  "está instalado ou conectado nesse computador.");
    EXPECT_EQ(store.List().size(), 2u);

    // Without a module for the tokens the folder is listed, and the reason is told.
    TCertificateStore noModule(dir.File("certificados"), dir.File("nenhum-modulo.so"));
    problem.clear();
    EXPECT_EQ(noModule.List(&problem).size(), 2u);
    EXPECT_EQ(problem.rfind("Não foi possível carregar o módulo PKCS#11 \"" +
                                dir.File("nenhum-modulo.so") + "\" dos tokens e cartões: ",
                            0),
              0u)
        << problem;
}

TEST(TokenStore, TheKeyStaysOnTheTokenAndSignsThere) {
    SoftHsm hsm;
    hsm.AddToken("Token Empresa A", "1234");
    const auto issued = SharedPki().IssueECnpj("EMPRESA A LTDA", "11222333000181");
    const std::string serial = hsm.Import("Token Empresa A", "1234", issued);
    TempDir dir;
    TCertificateStore store(dir.File("certificados"));
    const long before = TTokenSession::LoginAttempts();
    {
        const TClientCredentials credentials = store.LoadCredentials(serial, "1234");
        EXPECT_TRUE(credentials.OnToken());
        EXPECT_EQ(credentials.KeyPem(), "");  // nothing to write out
        EXPECT_EQ(credentials.Certificate().SerialNumber(), serial);
        EXPECT_TRUE(SignsFor(credentials.Key(), issued.cert.get()));
    }
    EXPECT_EQ(TTokenSession::LoginAttempts() - before, 1);
}

TEST(TokenStore, APinIsPresentedOnceAndNeverShown) {
    SoftHsm hsm;
    hsm.AddToken("Token Empresa A", "1234");
    const std::string serial = hsm.Import(
        "Token Empresa A", "1234", SharedPki().IssueECnpj("EMPRESA A LTDA", "11222333000181"));
    TempDir dir;
    TCertificateStore store(dir.File("certificados"));
    const std::string refused =
        "O token \"Token Empresa A\" recusou o PIN (a senha cadastrada para a empresa). Para que "
        "o token não se bloqueie, esse PIN não será apresentado de novo enquanto o programa "
        "estiver aberto.";
    const std::string again =
        "O token \"Token Empresa A\" já recusou esse PIN (a senha cadastrada para a empresa); ele "
        "não é apresentado de novo, para que o token não se bloqueie. Cadastre a empresa de novo "
        "com o PIN correto, ou reinicie o programa depois de conferir o PIN.";
    std::unique_ptr<TClientCredentials> held;  // keeps the token logged in from its row on
    struct Step {
        const char* what;
        std::string pin;
        std::string message;  // "" when the key opens
        long attempts;        // PINs presented to the token
        bool hold = false;
    };
    const Step steps[] = {
        {"an empty password is no PIN", "",
         "A senha cadastrada para a empresa está vazia: o token \"Token Empresa A\" precisa do "
         "seu PIN como senha.",
         0},
        {"a wrong PIN: one attempt", "0000", refused, 1},
        {"the same wrong PIN again: none", "0000", again, 0},
        {"another wrong PIN: one attempt", "1111", refused, 1},
        {"the right PIN", "1234", "", 1, true},
        {"while logged in, another PIN is not taken for it", "5555",
         "O PIN (a senha cadastrada para a empresa) não é o que abriu o token \"Token Empresa A\" "
         "nesse momento; confira o PIN.",
         1},
        {"while logged in, the same PIN", "1234", "", 1},
    };
    for (const Step& step : steps) {
        const long before = TTokenSession::LoginAttempts();
        std::string message;
        try {
            auto credentials =
                std::make_unique<TClientCredentials>(store.LoadCredentials(serial, step.pin));
            if (step.hold) {
                held = std::move(credentials);
            }
        } catch (const ECertificateError& e) {
            message = e.what();
        }
        EXPECT_EQ(message, step.message) << step.what;
        EXPECT_EQ(TTokenSession::LoginAttempts() - before, step.attempts) << step.what;
        if (!step.pin.empty()) {
            EXPECT_EQ(message.find(step.pin), std::string::npos) << step.what;
        }
    }
}

TEST(TokenStore, ATokenPulledOutAfterTheLookupIsNamed) {
    SoftHsm hsm;
    hsm.AddToken("Token Empresa A", "1234");
    const std::string serial = hsm.Import(
        "Token Empresa A", "1234", SharedPki().IssueECnpj("EMPRESA A LTDA", "11222333000181"));
    TempDir dir;
    TCertificateStore store(dir.File("certificados"));
    const auto found = store.Find(serial);
    ASSERT_TRUE(found);
    hsm.Unplug();
    EXPECT_EQ(ErrorOf([&] { store.LoadCredentials(*found, "1234"); }),
              "O token \"Token Empresa A\" do certificado digital \"" + serial +
                  "\" não está conectado nesse computador.");
}

}  // namespace
}  // namespace quelvo
