// The Windows headers come before any OpenSSL header (see CryptoApiHandles.h).
#include "platform/windows/CryptoApiHandles.h"

#include "platform/windows/TRepositorioWindows.h"

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <initializer_list>

#include "certificates/ECertificateError.h"
#include "platform/windows/TChaveWindows.h"
#include "platform/windows/TPinDaChave.h"

namespace quelvo {

namespace {

CertStorePtr OpenPersonalStore() {
    HCERTSTORE store =
        CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                      CERT_SYSTEM_STORE_CURRENT_USER | CERT_STORE_READONLY_FLAG, L"MY");
    if (store == nullptr) {
        throw ECertificateError(
            "Não foi possível abrir o repositório pessoal de certificados do Windows: " +
            WindowsErrorText(GetLastError()));
    }
    return CertStorePtr(store);
}

// Whether the store says where the certificate's private key is (the key itself is not opened:
// a token would be reached for nothing).
bool HasPrivateKey(PCCERT_CONTEXT cert) {
    for (DWORD property :
         {CERT_KEY_PROV_INFO_PROP_ID, CERT_KEY_CONTEXT_PROP_ID, CERT_NCRYPT_KEY_HANDLE_PROP_ID}) {
        DWORD size = 0;
        if (CertGetCertificateContextProperty(cert, property, nullptr, &size)) {
            return true;
        }
    }
    return false;
}

X509Ptr ToX509(PCCERT_CONTEXT cert) {
    const unsigned char* der = cert->pbCertEncoded;
    X509Ptr x509(d2i_X509(nullptr, &der, static_cast<long>(cert->cbCertEncoded)));
    if (!x509) {
        LastOpenSslError();
    }
    return x509;
}

// The certificates between the certificate and its root, nearest first, as the system's chain
// engine finds them in this computer's stores (never on the network: a listing does not wait).
std::vector<X509Ptr> ChainOf(PCCERT_CONTEXT cert) {
    CERT_CHAIN_PARA para{};
    para.cbSize = sizeof para;
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    if (!CertGetCertificateChain(nullptr, cert, nullptr, cert->hCertStore, &para,
                                 CERT_CHAIN_CACHE_ONLY_URL_RETRIEVAL, nullptr, &chain)) {
        return {};
    }
    const CertChainPtr owner(chain);
    std::vector<X509Ptr> out;
    if (chain->cChain == 0) {
        return out;
    }
    const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[0];
    for (DWORD i = 1; i < simple->cElement; ++i) {
        X509Ptr x509 = ToX509(simple->rgpElement[i]->pCertContext);
        if (!x509 || X509_check_issued(x509.get(), x509.get()) == X509_V_OK) {
            break;  // the root: the server has its own
        }
        out.push_back(std::move(x509));
    }
    LastOpenSslError();
    return out;
}

// The store's first certificate with a private key and that serial number.
CertContextPtr FindWithKey(HCERTSTORE store, const std::string& serial) {
    PCCERT_CONTEXT context = nullptr;
    while ((context = CertEnumCertificatesInStore(store, context)) != nullptr) {
        if (!HasPrivateKey(context)) {
            continue;
        }
        const X509Ptr x509 = ToX509(context);
        if (x509 && SerialNumberOf(x509.get()) == serial) {
            return CertContextPtr(context);  // the walk's reference is ours now
        }
    }
    return nullptr;
}

// What a Windows error code says of the PIN.
enum class TSobreOPin { Nada, Recusado, Bloqueado, PedePin };

TSobreOPin SobreOPin(DWORD code) {
    const auto any = [code](std::initializer_list<HRESULT> codes) {
        for (HRESULT c : codes) {
            if (code == static_cast<DWORD>(c)) {
                return true;
            }
        }
        return false;
    };
    // What providers answer to a wrong PIN (a smart card's "wrong CHV", CNG's "incorrect
    // password", and the "bad keyset parameter" of some token vendors' providers).
    if (any({SCARD_W_WRONG_CHV, SCARD_E_INVALID_CHV, NTE_INCORRECT_PASSWORD,
             NTE_BAD_KEYSET_PARAM})) {
        return TSobreOPin::Recusado;
    }
    if (any({SCARD_W_CHV_BLOCKED})) {
        return TSobreOPin::Bloqueado;
    }
    if (any({NTE_SILENT_CONTEXT, SCARD_W_CARD_NOT_AUTHENTICATED, SCARD_E_NO_PIN_CACHE,
             SCARD_E_PIN_CACHE_EXPIRED})) {
        return TSobreOPin::PedePin;
    }
    return TSobreOPin::Nada;
}

// Signs a fixed text with the key as TLS would (through OpenSSL) and checks the signature with
// the certificate. Returns Windows' error code of a failed signature, else 0; `confere` tells
// whether the key is the certificate's.
DWORD AssinaturaDeTeste(EVP_PKEY* key, const TChaveWindows& chave, X509* cert, bool& confere) {
    static const unsigned char kTexto[] = "Quelvo: assinatura de teste da chave do certificado";
    unsigned char sig[1024];
    size_t len = sizeof sig;
    EvpMdCtxPtr sign(EVP_MD_CTX_new());
    if (!sign || EVP_DigestSignInit(sign.get(), nullptr, EVP_sha256(), nullptr, key) != 1 ||
        EVP_DigestSign(sign.get(), sig, &len, kTexto, sizeof kTexto) != 1) {
        LastOpenSslError();
        const DWORD code = chave.UltimoErro();
        return code != 0 ? code : static_cast<DWORD>(NTE_FAIL);
    }
    EvpMdCtxPtr verify(EVP_MD_CTX_new());
    confere = verify &&
              EVP_DigestVerifyInit(verify.get(), nullptr, EVP_sha256(), nullptr,
                                   X509_get0_pubkey(cert)) == 1 &&
              EVP_DigestVerify(verify.get(), sig, len, kTexto, sizeof kTexto) == 1;
    LastOpenSslError();
    return 0;
}

}  // namespace

TRepositorioWindows::TRepositorioWindows(std::string arquivoRecusas)
    : arquivoRecusas_(std::move(arquivoRecusas)) {}

std::vector<TCertificate> TRepositorioWindows::List() const {
    const CertStorePtr store = OpenPersonalStore();
    std::vector<TCertificate> out;
    PCCERT_CONTEXT context = nullptr;
    while ((context = CertEnumCertificatesInStore(store.get(), context)) != nullptr) {
        if (!HasPrivateKey(context)) {
            continue;
        }
        if (X509Ptr x509 = ToX509(context)) {
            out.emplace_back(std::move(x509), ChainOf(context));
        }
    }
    return out;
}

TClientCredentials TRepositorioWindows::LoadCredentials(const TCertificate& certificate,
                                                        const std::string& senha,
                                                        bool digitado) const {
    const std::string serial = certificate.SerialNumber();
    const std::string nome = "\"" + serial + "\"";
    const CertStorePtr store = OpenPersonalStore();
    const CertContextPtr context = FindWithKey(store.get(), serial);
    if (!context) {
        throw ECertificateError("O certificado digital " + nome +
                                " não está no repositório pessoal de certificados do Windows, "
                                "ou está lá sem a chave privada.");
    }
    TCertificate found(ToX509(context.get()), ChainOf(context.get()));
    const std::shared_ptr<TChaveWindows> chave = TChaveWindows::Abrir(context.get(), nome);
    const std::shared_ptr<EVP_PKEY> key(
        TChaveWindows::ParaOpenSsl(chave, found.Get(), nome).release(), EVP_PKEY_free);

    const auto naoAssinou = [&](DWORD code) {
        std::string text = "A chave privada do certificado digital " + nome +
                           " não assinou: " + WindowsErrorText(code);
        if (!chave->NoDispositivo() && SobreOPin(code) == TSobreOPin::PedePin) {
            text +=
                ". A chave pede uma confirmação do usuário a cada uso (proteção forte da chave "
                "privada): importe o certificado de novo sem essa proteção.";
        }
        return ECertificateError(text);
    };
    bool confere = false;
    if (chave->NoDispositivo() && !senha.empty()) {
        TPinDaChave(serial, chave->Provedor(), arquivoRecusas_).Apresentar(senha, digitado, [&] {
            DWORD code = chave->EntregarPin(senha);
            const bool entregue = code == 0;
            if (entregue) {
                // Some providers check the PIN only when the key is used.
                code = AssinaturaDeTeste(key.get(), *chave, found.Get(), confere);
            }
            switch (SobreOPin(code)) {
                case TSobreOPin::Recusado:
                    return TRespostaDoPin::Recusado;
                case TSobreOPin::Bloqueado:
                    return TRespostaDoPin::Bloqueado;
                default:
                    break;
            }
            if (!entregue) {
                throw ECertificateError("A chave do certificado digital " + nome +
                                        " não recebeu o PIN: " + WindowsErrorText(code));
            }
            if (code != 0) {
                throw naoAssinou(code);
            }
            return TRespostaDoPin::Aceito;
        });
    } else if (const DWORD code = AssinaturaDeTeste(key.get(), *chave, found.Get(), confere);
               code != 0) {
        const TSobreOPin pin = SobreOPin(code);
        if (chave->NoDispositivo() && pin == TSobreOPin::PedePin && senha.empty()) {
            throw ECertificateError(TPinDaChave::SemSenha(serial));
        }
        if (chave->NoDispositivo() && pin == TSobreOPin::Bloqueado) {
            throw ECertificateError(TPinDaChave::PinBloqueado(serial));
        }
        throw naoAssinou(code);
    }
    if (!confere) {
        throw ECertificateError(
            "A chave privada do repositório do Windows não corresponde ao "
            "certificado digital " +
            nome + ".");
    }
    return TClientCredentials(std::move(found), key, /*pkcs1Only=*/true);
}

}  // namespace quelvo
