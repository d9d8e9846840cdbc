// The Windows headers come before any OpenSSL header (see CryptoApiHandles.h).
#include "platform/windows/CryptoApiHandles.h"

#include <gtest/gtest.h>
#include <openssl/err.h>
#include <openssl/ssl.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "certificates/ECertificateError.h"
#include "platform/windows/TPinDaChave.h"
#include "platform/windows/TRepositorioWindows.h"
#include "support/ErrorOf.h"
#include "support/SharedPki.h"
#include "support/TempDir.h"

namespace quelvo {
namespace {

using test::SharedPki;
using test::TempDir;

const auto ErrorOf = test::ErrorOf<ECertificateError>;

using SslCtxPtr = std::unique_ptr<SSL_CTX, OpenSslDeleter<SSL_CTX, SSL_CTX_free>>;
using SslPtr = std::unique_ptr<SSL, OpenSslDeleter<SSL, SSL_free>>;

std::string Der(X509* cert) {
    unsigned char* der = nullptr;
    const int len = i2d_X509(cert, &der);
    std::string out(reinterpret_cast<char*>(der), static_cast<size_t>(std::max(len, 0)));
    OPENSSL_free(der);
    return out;
}

// A store of the current user as the registry keeps it: what an import adds to "MY" and "CA",
// and the one whose deletions last under Wine (they do not through the system store).
CertStorePtr UserStore(const wchar_t* name) {
    CertStorePtr store(CertOpenStore(CERT_STORE_PROV_SYSTEM_REGISTRY_W, 0, 0,
                                     CERT_SYSTEM_STORE_CURRENT_USER, name));
    if (!store) {
        throw std::runtime_error("CertOpenStore: " + WindowsErrorText(GetLastError()));
    }
    return store;
}

// What a test puts in the current user's stores, taken out again when it ends (the Wine prefix
// may serve again): certificates of "MY" and "CA", and the key container of the imported PFX.
class TNoRepositorio {
public:
    TNoRepositorio() = default;
    TNoRepositorio(const TNoRepositorio&) = delete;
    TNoRepositorio& operator=(const TNoRepositorio&) = delete;

    // Imports a PFX as the user would: the certificate `titular` with its key into "MY", the
    // authorities that came with it into "CA" (where the chain engine finds them).
    void ImportarPfx(const std::string& pfx, const wchar_t* senha, X509* titular) {
        CRYPT_DATA_BLOB blob{static_cast<DWORD>(pfx.size()),
                             reinterpret_cast<BYTE*>(const_cast<char*>(pfx.data()))};
        CertStorePtr imported(PFXImportCertStore(&blob, senha, CRYPT_USER_KEYSET));
        if (!imported) {
            throw std::runtime_error("PFXImportCertStore: " + WindowsErrorText(GetLastError()));
        }
        const std::string derDoTitular = Der(titular);
        PCCERT_CONTEXT context = nullptr;
        while ((context = CertEnumCertificatesInStore(imported.get(), context)) != nullptr) {
            const std::string der = DerOf(context);
            if (der != derDoTitular) {
                // Wine marks every certificate of the file as having the key: only the
                // certificate itself goes in.
                Adicionar(L"CA", der);
                continue;
            }
            DWORD size = 0;
            if (CertGetCertificateContextProperty(context, CERT_KEY_PROV_INFO_PROP_ID, nullptr,
                                                  &size)) {
                std::vector<BYTE> info(size);
                CertGetCertificateContextProperty(context, CERT_KEY_PROV_INFO_PROP_ID, info.data(),
                                                  &size);
                const auto* prov = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(info.data());
                containers_.push_back({prov->pwszContainerName,
                                       prov->pwszProvName ? prov->pwszProvName : L"",
                                       prov->dwProvType, prov->dwFlags});
            }
            CertStorePtr my = UserStore(L"MY");
            if (!CertAddCertificateContextToStore(my.get(), context,
                                                  CERT_STORE_ADD_REPLACE_EXISTING, nullptr)) {
                throw std::runtime_error("CertAddCertificateContextToStore: " +
                                         WindowsErrorText(GetLastError()));
            }
            added_.emplace_back(L"MY", der);
        }
    }

    // A certificate alone, without a key.
    void Adicionar(const wchar_t* storeName, X509* cert) { Adicionar(storeName, Der(cert)); }

    ~TNoRepositorio() {
        for (const auto& [name, der] : added_) {
            CertStorePtr store = UserStore(name.c_str());
            while (CertContextPtr found = Find(store.get(), der)) {
                if (!CertDeleteCertificateFromStore(found.release())) {  // frees it
                    break;
                }
            }
        }
        for (const Container& c : containers_) {
            HCRYPTPROV gone = 0;  // nothing to release after CRYPT_DELETEKEYSET
            CryptAcquireContextW(&gone, c.name.c_str(),
                                 c.provider.empty() ? nullptr : c.provider.c_str(), c.type,
                                 CRYPT_DELETEKEYSET | (c.flags & CRYPT_MACHINE_KEYSET));
        }
    }

private:
    static std::string DerOf(PCCERT_CONTEXT context) {
        return std::string(reinterpret_cast<const char*>(context->pbCertEncoded),
                           context->cbCertEncoded);
    }

    static CertContextPtr Find(HCERTSTORE store, const std::string& der) {
        PCCERT_CONTEXT context = nullptr;
        while ((context = CertEnumCertificatesInStore(store, context)) != nullptr) {
            if (DerOf(context) == der) {
                return CertContextPtr(context);
            }
        }
        return nullptr;
    }

    void Adicionar(const wchar_t* storeName, const std::string& der) {
        CertStorePtr store = UserStore(storeName);
        if (!CertAddEncodedCertificateToStore(
                store.get(), X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
                static_cast<DWORD>(der.size()), CERT_STORE_ADD_USE_EXISTING, nullptr)) {
            throw std::runtime_error("CertAddEncodedCertificateToStore: " +
                                     WindowsErrorText(GetLastError()));
        }
        added_.emplace_back(storeName, der);
    }

    struct Container {
        std::wstring name;
        std::wstring provider;
        DWORD type;
        DWORD flags;
    };
    std::vector<std::pair<std::wstring, std::string>> added_;
    std::vector<Container> containers_;
};

// Whether the key makes signatures (SHA-256, PKCS#1 v1.5) that the certificate's key verifies.
bool SignsFor(EVP_PKEY* key, X509* cert) {
    const std::string data = "distDFeInt";
    const auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
    unsigned char sig[512];
    size_t len = sizeof sig;
    EvpMdCtxPtr sign(EVP_MD_CTX_new());
    EVP_PKEY_CTX* pctx = nullptr;
    bool ok = EVP_DigestSignInit(sign.get(), &pctx, EVP_sha256(), nullptr, key) == 1 &&
              EVP_PKEY_CTX_set_rsa_padding(pctx, RSA_PKCS1_PADDING) == 1 &&
              EVP_DigestSign(sign.get(), sig, &len, bytes, data.size()) == 1;
    EvpMdCtxPtr verify(EVP_MD_CTX_new());
    ok = ok &&
         EVP_DigestVerifyInit(verify.get(), nullptr, EVP_sha256(), nullptr,
                              X509_get0_pubkey(cert)) == 1 &&
         EVP_DigestVerify(verify.get(), sig, len, bytes, data.size()) == 1;
    LastOpenSslError();
    return ok;
}

// The company's certificate imported from its PFX, with a certificate without a key beside it;
// made once for the whole suite (making keys and importing take a moment).
struct TEmpresaNoRepositorio {
    testpki::Issued empresa = SharedPki().IssueECnpj("EMPRESA WINDOWS LTDA", "11222333000181");
    testpki::Issued semChave = SharedPki().IssueECnpj("EMPRESA SEM CHAVE ME", "45997418000153");
    TNoRepositorio repositorio;

    TEmpresaNoRepositorio() {
        repositorio.ImportarPfx(SharedPki().Pkcs12(empresa, "senha do pfx", false), L"senha do pfx",
                                empresa.cert.get());
        // The root too (Wine's import leaves it out): the chain engine then reaches it.
        repositorio.Adicionar(L"CA", SharedPki().Root());
        repositorio.Adicionar(L"MY", semChave.cert.get());
    }
    std::string Serial() const { return SerialNumberOf(empresa.cert.get()); }
    TCertificate Certificado() const { return TCertificate(X509Ptr(X509_dup(empresa.cert.get()))); }
};

class RepositorioWindows : public ::testing::Test {
protected:
    static void SetUpTestSuite() { empresa_ = std::make_unique<TEmpresaNoRepositorio>(); }
    static void TearDownTestSuite() { empresa_.reset(); }
    static std::unique_ptr<TEmpresaNoRepositorio> empresa_;
};
std::unique_ptr<TEmpresaNoRepositorio> RepositorioWindows::empresa_;

TEST_F(RepositorioWindows, ListsTheCertificatesWithAKeyAndTheirChainsWithoutTheRoot) {
    const std::vector<TCertificate> list = TRepositorioWindows().List();
    const auto bySerial = [&](const std::string& serial) {
        return std::find_if(list.begin(), list.end(),
                            [&](const TCertificate& c) { return c.SerialNumber() == serial; });
    };
    const auto it = bySerial(empresa_->Serial());
    ASSERT_TRUE(it != list.end());
    EXPECT_EQ(it->SubjectName(), empresa_->Certificado().SubjectName());
    EXPECT_EQ(it->CNPJ(), "11222333000181");
    // The intermediate, found in "CA"; the root, there too, stays out.
    ASSERT_EQ(it->Chain().size(), 1u);
    EXPECT_EQ(X509_cmp(it->Chain()[0].get(), SharedPki().Intermediate()), 0);

    EXPECT_TRUE(bySerial(SerialNumberOf(empresa_->semChave.cert.get())) == list.end())
        << "a certificate without a key is listed";
}

// A key in the computer takes no PIN: whatever the company's password, it signs.
TEST_F(RepositorioWindows, OpensTheKeyInPlaceAndItSignsForTheCertificate) {
    struct Case {
        const char* what;
        std::string senha;
        bool digitado;
    };
    for (const Case& c :
         {Case{"no password", "", false}, Case{"a password, ignored", "senha da empresa", false},
          Case{"a password just typed", "senha da empresa", true}}) {
        SCOPED_TRACE(c.what);
        TClientCredentials credentials =
            TRepositorioWindows().LoadCredentials(empresa_->Certificado(), c.senha, c.digitado);
        EXPECT_EQ(credentials.Certificate().SerialNumber(), empresa_->Serial());
        ASSERT_EQ(credentials.Certificate().Chain().size(), 1u);
        EXPECT_TRUE(credentials.OnToken());
        EXPECT_TRUE(credentials.Pkcs1Only());
        EXPECT_EQ(credentials.KeyPem(), "");  // the key never comes out
        EXPECT_TRUE(SignsFor(credentials.Key(), empresa_->empresa.cert.get()));
    }

    // The key object keeps the Windows key open for as long as it lives.
    EVP_PKEY* key = nullptr;
    {
        TClientCredentials credentials =
            TRepositorioWindows().LoadCredentials(empresa_->Certificado(), "");
        key = credentials.Key();
        EVP_PKEY_up_ref(key);
    }
    EXPECT_TRUE(SignsFor(key, empresa_->empresa.cert.get()));
    EVP_PKEY_free(key);
}

TEST_F(RepositorioWindows, RefusesACertificateItDoesNotHaveWithItsKey) {
    const testpki::Issued ausente = SharedPki().IssueECnpj("EMPRESA AUSENTE SA", "60746948000112");
    for (X509* cert : {ausente.cert.get(), empresa_->semChave.cert.get()}) {
        const std::string serial = SerialNumberOf(cert);
        const std::string error = ErrorOf([&] {
            TRepositorioWindows().LoadCredentials(TCertificate(X509Ptr(X509_dup(cert))),
                                                  "senha secreta 123");
        });
        EXPECT_EQ(error, "O certificado digital \"" + serial +
                             "\" não está no repositório pessoal de certificados do Windows, ou "
                             "está lá sem a chave privada.");
    }
}

// --- Mutual TLS with the key, over a pair of memory BIOs ---------------------------------------

struct TApertoDeMaos {
    bool ok = false;
    std::string erro;
    int versao = 0;
    int tipoDaAssinatura = NID_undef;  // the client's CertificateVerify, as the server saw it
    int resumo = NID_undef;
    std::string serialDoCliente;
};

// A server that demands a client certificate from the test root, and a client whose context
// gets the credentials as the SOAP transport gives them.
TApertoDeMaos ApertoDeMaos(const TClientCredentials& credentials) {
    TApertoDeMaos out;
    const testpki::Issued server = SharedPki().IssueServer();
    SslCtxPtr serverCtx(SSL_CTX_new(TLS_server_method()));
    SSL_CTX_use_certificate(serverCtx.get(), server.cert.get());
    SSL_CTX_add1_chain_cert(serverCtx.get(), SharedPki().Intermediate());
    SSL_CTX_use_PrivateKey(serverCtx.get(), server.key.get());
    X509_STORE_add_cert(SSL_CTX_get_cert_store(serverCtx.get()), SharedPki().Root());
    SSL_CTX_set_verify(serverCtx.get(), SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, nullptr);

    SslCtxPtr clientCtx(SSL_CTX_new(TLS_client_method()));
    X509_STORE_add_cert(SSL_CTX_get_cert_store(clientCtx.get()), SharedPki().Root());
    SSL_CTX_set_verify(clientCtx.get(), SSL_VERIFY_PEER, nullptr);
    if (!credentials.UseIn(clientCtx.get())) {
        out.erro = "UseIn: " + LastOpenSslError();
        return out;
    }

    SslPtr serverSsl(SSL_new(serverCtx.get()));
    SslPtr clientSsl(SSL_new(clientCtx.get()));
    BIO* serverBio = nullptr;
    BIO* clientBio = nullptr;
    BIO_new_bio_pair(&serverBio, 0, &clientBio, 0);
    SSL_set_bio(serverSsl.get(), serverBio, serverBio);
    SSL_set_bio(clientSsl.get(), clientBio, clientBio);
    SSL_set_accept_state(serverSsl.get());
    SSL_set_connect_state(clientSsl.get());

    const auto step = [&](SSL* ssl, const char* who) {
        const int rc = SSL_do_handshake(ssl);
        if (rc == 1) {
            return 1;
        }
        const int err = SSL_get_error(ssl, rc);
        if (err == SSL_ERROR_WANT_READ || err == SSL_ERROR_WANT_WRITE) {
            return 0;
        }
        out.erro = std::string(who) + ": " + std::to_string(err) + " " + LastOpenSslError();
        return -1;
    };
    for (int round = 0; round < 20 && !out.ok; ++round) {
        const int client = step(clientSsl.get(), "cliente");
        const int srv = client < 0 ? -1 : step(serverSsl.get(), "servidor");
        if (client < 0 || srv < 0) {
            return out;
        }
        out.ok = client == 1 && srv == 1;
    }
    out.versao = SSL_version(serverSsl.get());
    SSL_get_peer_signature_type_nid(serverSsl.get(), &out.tipoDaAssinatura);
    SSL_get_peer_signature_nid(serverSsl.get(), &out.resumo);
    if (X509* peer = SSL_get0_peer_certificate(serverSsl.get())) {
        out.serialDoCliente = SerialNumberOf(peer);
    }
    return out;
}

TEST_F(RepositorioWindows, TheKeyAuthenticatesTheClientInTls12WithPkcs1Signatures) {
    const TClientCredentials credentials =
        TRepositorioWindows().LoadCredentials(empresa_->Certificado(), "");
    const TApertoDeMaos tls = ApertoDeMaos(credentials);
    ASSERT_TRUE(tls.ok) << tls.erro;
    EXPECT_EQ(tls.versao, TLS1_2_VERSION);
    EXPECT_EQ(tls.tipoDaAssinatura, NID_rsaEncryption);  // PKCS#1 v1.5, not RSA-PSS
    EXPECT_EQ(tls.resumo, NID_sha256);
    EXPECT_EQ(tls.serialDoCliente, empresa_->Serial());

    // The same key offered to TLS 1.3, which signs with RSA-PSS only: the handshake fails (the
    // key refuses the raw operation) rather than sending something wrong.
    const TClientCredentials semLimite(
        credentials.Certificate(), std::shared_ptr<EVP_PKEY>(credentials.Key(), [](EVP_PKEY*) {}));
    const TApertoDeMaos tls13 = ApertoDeMaos(semLimite);
    EXPECT_FALSE(tls13.ok);
}

// --- The rules for a PIN handed to a key on a token ---------------------------------------------

struct TPassoDoPin {
    const char* what;
    std::string certificado;
    std::string pin;
    bool digitado;
    TRespostaDoPin resposta;  // what the key answers when the PIN reaches it
    bool apresentado;         // whether it reaches the key
    std::string erro;         // the start of the message; "" for none
};

constexpr const char* kRecusou = "A chave do certificado digital \"C1\" recusou o PIN";
constexpr const char* kJaRecusou = "A chave do certificado digital \"C1\" já recusou esse PIN";

void Percorrer(const std::vector<TPassoDoPin>& passos, const std::string& arquivo) {
    for (const TPassoDoPin& p : passos) {
        SCOPED_TRACE(p.what);
        bool apresentado = false;
        const std::string erro = ErrorOf([&] {
            TPinDaChave(p.certificado, "Provedor do Token", arquivo)
                .Apresentar(p.pin, p.digitado, [&] {
                    apresentado = true;
                    return p.resposta;
                });
        });
        EXPECT_EQ(apresentado, p.apresentado);
        if (p.erro.empty()) {
            EXPECT_EQ(erro, "(no error)");
        } else {
            EXPECT_EQ(erro.substr(0, p.erro.size()), p.erro) << erro;
        }
        EXPECT_EQ(erro.find(p.pin), std::string::npos) << "the message shows the PIN";
    }
}

TEST(PinDaChaveWindows, ARefusedPinIsNotPresentedAgainUntilTypedAgain) {
    using R = TRespostaDoPin;
    TempDir dir;
    const std::string arquivo = dir.File("PinsRecusados.dat");
    Percorrer(
        {
            {"refused", "C1", "918273", false, R::Recusado, true, kRecusou},
            {"not presented again", "C1", "918273", false, R::Aceito, false, kJaRecusou},
            {"another PIN is presented", "C1", "111111", false, R::Aceito, true, ""},
            {"another certificate's key gets it", "C2", "918273", false, R::Aceito, true, ""},
            {"typed again: presented once more", "C1", "918273", true, R::Aceito, true, ""},
            {"accepted: kept no more", "C1", "918273", false, R::Aceito, true, ""},
            {"a locked token", "C1", "918273", false, R::Bloqueado, true,
             "O PIN da chave do certificado digital \"C1\" está bloqueado."},
            {"a lock is no refusal", "C1", "918273", false, R::Aceito, true, ""},
            {"refused once more", "C1", "918273", false, R::Recusado, true, kRecusou},
        },
        arquivo);
    // Kept in the file, for the next runs: the certificate and a digest, never the PIN.
    const std::string guardado = dir.Read("PinsRecusados.dat");
    EXPECT_NE(guardado.find(";C1;"), std::string::npos) << guardado;
    EXPECT_EQ(guardado.find("918273"), std::string::npos) << guardado;
}

TEST(PinDaChaveWindows, WithoutAFileARefusalHoldsForThisRun) {
    using R = TRespostaDoPin;
    Percorrer({{"refused", "C1-memoria", "4711", false, R::Recusado, true,
                "A chave do certificado digital \"C1-memoria\" recusou o PIN"},
               {"not presented again", "C1-memoria", "4711", false, R::Aceito, false,
                "A chave do certificado digital \"C1-memoria\" já recusou esse PIN"}},
              "");
}

// A file of refusals that cannot be read: nobody can tell whether the PIN was refused.
TEST(PinDaChaveWindows, AnUnreadableFileOfRefusalsPresentsNothing) {
    TempDir dir;
    std::filesystem::create_directories(dir.File("PinsRecusados.dat"));
    Percorrer({{"unreadable", "C3", "918273", false, TRespostaDoPin::Aceito, false,
                "O PIN da chave do certificado digital \"C3\" não foi apresentado: "}},
              dir.File("PinsRecusados.dat"));
}

}  // namespace
}  // namespace quelvo
