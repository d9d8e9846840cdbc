#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "certificates/CertificateAccess.h"
#include "certificates/TCertificateStore.h"
#include "certificates/TPkcs11Module.h"
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
    const auto issuedB =
        SharedPki().IssueECnpj("EMPRESA B S A", "45997418000153", testpki::Validity::Expired());
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
    EXPECT_EQ(FormatShortDate(CertificateExpiry(store, b)), "30/06/2025");
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

std::string Refused(const std::string& token) {
    return "O token \"" + token +
           "\" recusou o PIN (a senha cadastrada para a empresa). Para que o token não se "
           "bloqueie, esse PIN não será apresentado de novo: confira o PIN e cadastre a empresa de "
           "novo com ele.";
}

std::string Again(const std::string& token) {
    return "O token \"" + token +
           "\" já recusou esse PIN (a senha cadastrada para a empresa); ele não é apresentado de "
           "novo, para que o token não se bloqueie. Confira o PIN e cadastre a empresa de novo "
           "com ele.";
}

std::string CountLow(const std::string& token) {
    return "O token \"" + token +
           "\" avisa que já recebeu um PIN errado; para que ele não se bloqueie, o programa não "
           "faz o login sozinho. Abra o token com o PIN correto no programa do fabricante (isso "
           "zera a contagem de tentativas) e cadastre a empresa de novo com esse PIN.";
}

// One login through the store: the message ("" when the key opened) and the PINs presented.
std::pair<std::string, long> Login(const TCertificateStore& store, const std::string& serial,
                                   const std::string& pin, bool digitado = false) {
    const long before = TTokenSession::LoginAttempts();
    std::string message;
    try {
        store.LoadCredentials(serial, pin, digitado);
    } catch (const ECertificateError& e) {
        message = e.what();
    }
    return {message, TTokenSession::LoginAttempts() - before};
}

TEST(TokenStore, APinIsPresentedOnceAndNeverShown) {
    SoftHsm hsm;
    hsm.AddToken("Token Empresa A", "1234");
    const std::string serial = hsm.Import(
        "Token Empresa A", "1234", SharedPki().IssueECnpj("EMPRESA A LTDA", "11222333000181"));
    TempDir dir;
    TCertificateStore store(dir.File("certificados"));
    const std::string refused = Refused("Token Empresa A");
    const std::string again = Again("Token Empresa A");
    const std::string countLow = CountLow("Token Empresa A");
    std::unique_ptr<TClientCredentials> held;  // keeps the token logged in from its row on
    struct Step {
        const char* what;
        std::string pin;
        std::string message;  // "" when the key opens
        long attempts;        // PINs presented to the token
        bool digitado = false;
        bool hold = false;
    };
    const Step steps[] = {
        {"an empty password is no PIN", "",
         "A senha cadastrada para a empresa está vazia: o token \"Token Empresa A\" precisa do "
         "seu PIN como senha.",
         0},
        {"a wrong PIN: one attempt", "0000", refused, 1},
        {"the same wrong PIN again: none", "0000", again, 0},
        // SoftHSM2, as real tokens, says it has seen a wrong PIN.
        {"another PIN: none, the token has seen a wrong one", "1111", countLow, 0},
        {"the right PIN, not typed: none", "1234", countLow, 0},
        {"the right PIN typed", "1234", "", 1, true, true},
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
            auto credentials = std::make_unique<TClientCredentials>(
                store.LoadCredentials(serial, step.pin, step.digitado));
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

// A refusal is kept on disk beside the certificates, so a new start of the program does not
// present the same PIN again; the user typing a PIN (a registration) forgets it; the file holds no
// PIN.
TEST(TokenStore, ARefusedPinIsKeptAcrossStarts) {
    SoftHsm hsm;
    hsm.AddToken("Token Empresa A", "1234");
    const std::string serial = hsm.Import(
        "Token Empresa A", "1234", SharedPki().IssueECnpj("EMPRESA A LTDA", "11222333000181"));
    TempDir dir;
    const std::string folder = dir.File("certificados");
    const std::string refused = Refused("Token Empresa A");
    const std::string again = Again("Token Empresa A");
    const std::string countLow = CountLow("Token Empresa A");
    struct Step {
        const char* what;
        std::string pin;
        bool digitado;
        std::pair<std::string, long> outcome;
    };
    const Step steps[] = {
        {"a wrong PIN: one attempt", "pqrs", false, {refused, 1}},
        {"after a restart: none", "pqrs", false, {again, 0}},
        {"another PIN: none while the token says it saw a wrong one", "wxyz", false, {countLow, 0}},
        {"typed again by the user: presented once", "pqrs", true, {refused, 1}},
        {"then no more", "pqrs", false, {again, 0}},
        {"the right PIN typed", "1234", true, {"", 1}},
        {"the right PIN from then on", "1234", false, {"", 1}},
        {"the refused one still is", "pqrs", false, {again, 0}},
        {"a PIN never refused is tried", "wxyz", false, {refused, 1}},
    };
    for (const Step& step : steps) {
        // Every step is a new start: nothing is known but the files.
        TCertificateStore store(folder);
        EXPECT_EQ(Login(store, serial, step.pin, step.digitado), step.outcome) << step.what;
        const std::string kept = dir.Read("certificados/PinsRecusados.dat");
        EXPECT_FALSE(kept.empty()) << step.what;
        for (const char* pin : {"pqrs", "wxyz", "1234"}) {
            EXPECT_EQ(kept.find(pin), std::string::npos) << step.what;
        }
    }
}

// A token with one try left is not logged into at all, not even with a PIN the user typed: the
// message says why and what to do.
TEST(TokenStore, ATokenCloseToLockingIsNotTried) {
    SoftHsm hsm;
    hsm.AddToken("Token Empresa A", "1234");
    const std::string serial = hsm.Import(
        "Token Empresa A", "1234", SharedPki().IssueECnpj("EMPRESA A LTDA", "11222333000181"));
    TempDir dir;
    ::setenv("QUELVO_TEST_PKCS11_MODULE", TPkcs11Module::DefaultPath().c_str(), 1);
    TCertificateStore store(dir.File("certificados"), QUELVO_TEST_PKCS11_FLAGS_MODULE);
    const std::string what =
        " Abra o token com o PIN correto no programa do fabricante (isso zera a contagem de "
        "tentativas) e cadastre a empresa de novo com esse PIN.";
    const std::string finalTry =
        "O token \"Token Empresa A\" só aceita mais uma tentativa de PIN antes de se bloquear; o "
        "programa não faz o login." +
        what;
    // SoftHSM2 never says it has one try left: a module in between says so for it.
    const struct {
        CK_FLAGS flags;
        bool digitado;
        std::pair<std::string, long> outcome;
    } cases[] = {
        {CKF_USER_PIN_FINAL_TRY, false, {finalTry, 0}},
        {CKF_USER_PIN_FINAL_TRY, true, {finalTry, 0}},
        {0, false, {"", 1}},
    };
    for (const auto& c : cases) {
        ::setenv("QUELVO_TEST_PKCS11_FLAGS", std::to_string(c.flags).c_str(), 1);
        EXPECT_EQ(Login(store, serial, "1234", c.digitado), c.outcome) << c.flags;
    }
    ::unsetenv("QUELVO_TEST_PKCS11_FLAGS");
    ::unsetenv("QUELVO_TEST_PKCS11_MODULE");
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
