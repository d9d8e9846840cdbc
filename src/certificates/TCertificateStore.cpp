#include "certificates/TCertificateStore.h"

#include "certificates/TPinsRecusados.h"

#include <openssl/crypto.h>
#include <openssl/err.h>

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <system_error>

#include "common/SafeFile.h"
#include "common/Utils.h"
#include "platform/Files.h"
#include "platform/Paths.h"

namespace quelvo {

namespace {

// The PKCS#12 files this process has opened, by path: each is opened once per run (the key
// derivation of a PKCS#12 file costs milliseconds, and every cycle needs every company's key),
// and again when the file changes or another password is given. Only a salted digest of the
// password is kept with it. An entry goes as soon as its file is seen changed or gone, and at the
// sweep of a cycle when nothing used it since the last one (a company removed, a certificate
// replaced): a decrypted key does not stay in memory longer than it serves.
class TChavesAbertas {
public:
    std::optional<TClientCredentials> Buscar(const std::string& path, const platform::FileInfo& st,
                                             const std::string& senha) {
        std::lock_guard lock(mutex_);
        const auto it = abertas_.find(path);
        if (it == abertas_.end()) {
            return std::nullopt;
        }
        if (!Igual(it->second, st)) {
            abertas_.erase(it);
            return std::nullopt;
        }
        if (it->second.senha != Digest(senha)) {
            return std::nullopt;
        }
        it->second.usada = true;
        return it->second.credenciais;
    }
    void Guardar(const std::string& path, const platform::FileInfo& st, const std::string& senha,
                 const TClientCredentials& credenciais) {
        std::lock_guard lock(mutex_);
        abertas_.insert_or_assign(path, Aberta{st, Digest(senha), credenciais, true});
    }
    void Esquecer(const std::string& path) {
        std::lock_guard lock(mutex_);
        abertas_.erase(path);
    }
    // Drops the entries whose file changed or went, and those nothing used since the last sweep.
    void Varrer() {
        std::lock_guard lock(mutex_);
        for (auto it = abertas_.begin(); it != abertas_.end();) {
            platform::FileInfo st;
            std::error_code ec;
            if (!it->second.usada || !platform::StatusOf(it->first, st, ec) ||
                !Igual(it->second, st)) {
                it = abertas_.erase(it);
            } else {
                it->second.usada = false;
                ++it;
            }
        }
    }
    size_t Quantas(const std::string& prefixo) {
        std::lock_guard lock(mutex_);
        return static_cast<size_t>(std::count_if(abertas_.begin(), abertas_.end(), [&](auto& a) {
            return a.first.rfind(prefixo, 0) == 0;
        }));
    }

private:
    struct Aberta {
        platform::FileInfo arquivo;  // the file as it was when it was opened
        std::string senha;
        TClientCredentials credenciais;
        bool usada;  // since the last sweep
    };
    static bool Igual(const Aberta& a, const platform::FileInfo& st) {
        return a.arquivo.size == st.size && a.arquivo.modifiedNs == st.modifiedNs &&
               a.arquivo.id == st.id && a.arquivo.device == st.device;
    }
    std::string Digest(const std::string& senha) {
        if (sal_.empty()) {
            unsigned char sal[16];
            RAND_bytes(sal, sizeof sal);
            sal_.assign(reinterpret_cast<char*>(sal), sizeof sal);
        }
        std::string entrada = sal_ + senha;
        unsigned char md[EVP_MAX_MD_SIZE];
        unsigned int len = 0;
        EVP_Digest(entrada.data(), entrada.size(), md, &len, EVP_sha256(), nullptr);
        // The copy of the password is wiped before its memory goes back to the heap.
        OPENSSL_cleanse(entrada.data(), entrada.size());
        return std::string(reinterpret_cast<char*>(md), len);
    }
    std::mutex mutex_;
    std::string sal_;
    std::map<std::string, Aberta> abertas_;
};

TChavesAbertas& ChavesAbertas() {
    static TChavesAbertas chaves;
    return chaves;
}

// Only serial texts can name files of the store, so that no text reaches outside the folder.
bool IsSerialText(const std::string& s) {
    return !s.empty() && s.size() <= 128 && std::all_of(s.begin(), s.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
    });
}

}  // namespace

TClientCredentials OpenPkcs12(const std::string& bytes, const std::string& password,
                              const std::string& name) {
    EnableLegacyAlgorithms();
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    Pkcs12Ptr p12(d2i_PKCS12(nullptr, &data, static_cast<long>(bytes.size())));
    if (!p12) {
        LastOpenSslError();
        throw ECertificateError("O arquivo \"" + name +
                                "\" não é um certificado digital PKCS#12 (.pfx ou .p12) válido.");
    }
    // An empty password may have been stored as no password at all.
    const char* pass = password.c_str();
    if (!PKCS12_verify_mac(p12.get(), pass, static_cast<int>(password.size()))) {
        if (!password.empty() || !PKCS12_verify_mac(p12.get(), nullptr, 0)) {
            LastOpenSslError();
            throw ECertificateError("A senha informada não abre o certificado digital \"" + name +
                                    "\".");
        }
        pass = nullptr;
    }
    EVP_PKEY* rawKey = nullptr;
    X509* rawCert = nullptr;
    STACK_OF(X509)* rawCa = nullptr;
    if (!PKCS12_parse(p12.get(), pass, &rawKey, &rawCert, &rawCa)) {
        const std::string reason = LastOpenSslError();
        throw ECertificateError("Não foi possível ler o certificado digital \"" + name +
                                "\": " + reason);
    }
    EvpPkeyPtr key(rawKey);
    X509Ptr cert(rawCert);
    X509StackPtr ca(rawCa);
    if (!key) {
        throw ECertificateError("O certificado digital \"" + name +
                                "\" não contém a chave privada.");
    }
    if (!cert) {
        // The parser pairs the key with the certificate it matches; certificates left over
        // mean the key belongs to none of them.
        if (ca && sk_X509_num(ca.get()) > 0) {
            throw ECertificateError("A chave privada do arquivo \"" + name +
                                    "\" não corresponde ao seu certificado digital.");
        }
        throw ECertificateError("O arquivo \"" + name + "\" não contém um certificado digital.");
    }
    if (X509_check_private_key(cert.get(), key.get()) != 1) {
        LastOpenSslError();
        throw ECertificateError("A chave privada do arquivo \"" + name +
                                "\" não corresponde ao seu certificado digital.");
    }
    std::vector<X509Ptr> chain;
    while (ca && sk_X509_num(ca.get()) > 0) {
        chain.emplace_back(sk_X509_shift(ca.get()));
    }
    return TClientCredentials(TCertificate(std::move(cert), std::move(chain)), std::move(key));
}

TCertificateStore::TCertificateStore(std::string folder, std::string tokenModule)
    : folder_(std::move(folder)), tokenModule_(std::move(tokenModule)) {
    if (!folder_.empty() && folder_.back() != '/') {
        folder_ += '/';
    }
}

TCertificateStore TCertificateStore::Default() {
    return TCertificateStore(ApplicationDir() + "certificados/");
}

std::string TCertificateStore::PathOf(const std::string& serial, const char* extension) const {
    return folder_ + serial + extension;
}

TCertificate TCertificateStore::Import(const std::string& pkcs12File, const std::string& password) {
    std::string bytes;
    try {
        bytes = ReadWholeFile(pkcs12File);
    } catch (const std::system_error& e) {
        throw ECertificateError("Não foi possível ler o arquivo \"" + pkcs12File +
                                "\": " + e.code().message());
    }
    return ImportBytes(bytes, password, pkcs12File);
}

TCertificate TCertificateStore::ImportBytes(const std::string& pkcs12, const std::string& password,
                                            const std::string& fileName) {
    const TClientCredentials opened = OpenPkcs12(pkcs12, password, fileName);
    const std::string serial = opened.Certificate().SerialNumber();
    std::error_code ec;
    std::filesystem::create_directories(platform::PathOf(folder_), ec);
    platform::MakeFolderOwnerOnly(folder_, true);
    try {
        // The key file first: a public certificate is listed only once its key is in place.
        WriteFileAtomic(PathOf(serial, ".pfx"), pkcs12, 0600);
        WriteFileAtomic(PathOf(serial, ".pem"), opened.Certificate().ToPem(), 0600);
    } catch (const std::system_error& e) {
        throw ECertificateError("Não foi possível gravar o certificado na pasta \"" + folder_ +
                                "\": " + e.code().message());
    }
    return opened.Certificate();
}

std::vector<TCertificate> TCertificateStore::List(std::string* tokenProblem) const {
    std::vector<std::string> serials;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(platform::PathOf(folder_), ec)) {
        const std::string serial = platform::Utf8Of(entry.path().stem());
        if (entry.path().extension() == ".pem" && IsSerialText(serial)) {
            serials.push_back(serial);
        }
    }
    std::vector<TCertificate> out;
    for (const auto& serial : serials) {
        if (auto cert = FindInFolder(serial)) {
            out.push_back(*cert);
        }
    }
    try {
        const bool precede = platform::SystemCertificates::TakesPrecedenceOverFolder();
        for (auto& cert : System().List()) {
            const std::string serial = cert.SerialNumber();
            const auto same = std::find_if(out.begin(), out.end(), [&](const TCertificate& c) {
                return c.SerialNumber() == serial;
            });
            if (same == out.end()) {
                out.push_back(std::move(cert));
            } else if (precede) {
                *same = std::move(cert);
            }
        }
    } catch (const ECertificateError& e) {
        if (tokenProblem != nullptr) {
            *tokenProblem = e.what();
        }
    }
    std::stable_sort(out.begin(), out.end(), [](const TCertificate& a, const TCertificate& b) {
        return a.SerialNumber() < b.SerialNumber();
    });
    return out;
}

std::unique_ptr<TCertificate> TCertificateStore::Find(const std::string& serial) const {
    if (platform::SystemCertificates::TakesPrecedenceOverFolder()) {
        if (auto cert = FindInSystem(serial)) {
            return cert;
        }
        return FindInFolder(serial);
    }
    if (auto cert = FindInFolder(serial)) {
        return cert;
    }
    return FindInSystem(serial);
}

platform::SystemCertificates TCertificateStore::System() const {
    return platform::SystemCertificates(tokenModule_, folder_ + TPinsRecusados::kArquivo);
}

std::unique_ptr<TCertificate> TCertificateStore::FindInSystem(const std::string& serial) const {
    if (serial.empty() || tokenModule_.empty()) {
        return nullptr;
    }
    try {
        for (auto& cert : System().List()) {
            if (cert.SerialNumber() == serial) {
                return std::make_unique<TCertificate>(std::move(cert));
            }
        }
    } catch (const ECertificateError&) {
        // What cannot be reached holds nothing that could be found.
    }
    return nullptr;
}

std::unique_ptr<TCertificate> TCertificateStore::FindInFolder(const std::string& serial) const {
    if (!IsSerialText(serial) || !FileExists(PathOf(serial, ".pem"))) {
        return nullptr;
    }
    try {
        auto cert = std::make_unique<TCertificate>(
            TCertificate::FromPem(ReadWholeFile(PathOf(serial, ".pem"))));
        // The file name is only an index: the certificate itself must carry the serial.
        return cert->SerialNumber() == serial ? std::move(cert) : nullptr;
    } catch (const std::exception&) {
        return nullptr;  // an unreadable entry is not in the store
    }
}

bool TCertificateStore::HasKey(const std::string& serial) const {
    return IsSerialText(serial) && FileExists(PathOf(serial, ".pfx"));
}

TClientCredentials TCertificateStore::LoadCredentials(const std::string& serial,
                                                      const std::string& password,
                                                      bool digitado) const {
    if (!HasKey(serial) || platform::SystemCertificates::TakesPrecedenceOverFolder()) {
        if (auto onToken = FindInSystem(serial); onToken && onToken->Token()) {
            return LoadCredentials(*onToken, password, digitado);
        }
    }
    if (!HasKey(serial)) {
        throw ECertificateError("A chave privada do certificado digital \"" + serial +
                                "\" não está no repositório de certificados.");
    }
    const std::string path = PathOf(serial, ".pfx");
    platform::FileInfo st;
    std::error_code erro;
    const bool visto = platform::StatusOf(path, st, erro);
    if (visto) {
        if (auto aberta = ChavesAbertas().Buscar(path, st, password)) {
            return *aberta;
        }
    } else {
        ChavesAbertas().Esquecer(path);
    }
    std::string bytes;
    try {
        bytes = ReadWholeFile(path);
    } catch (const std::system_error& e) {
        throw ECertificateError("Não foi possível ler a chave do certificado digital \"" + serial +
                                "\": " + e.code().message());
    }
    TClientCredentials opened = OpenPkcs12(bytes, password, serial);
    if (opened.Certificate().SerialNumber() != serial) {
        throw ECertificateError("O arquivo de chave do certificado digital \"" + serial +
                                "\" guarda outro certificado.");
    }
    if (visto) {
        ChavesAbertas().Guardar(path, st, password, opened);
    }
    return opened;
}

void TCertificateStore::VarrerChavesAbertas() {
    ChavesAbertas().Varrer();
}

size_t TCertificateStore::ChavesAbertasNaPasta() const {
    return ChavesAbertas().Quantas(folder_);
}

TClientCredentials TCertificateStore::LoadCredentials(const TCertificate& certificate,
                                                      const std::string& password,
                                                      bool digitado) const {
    if (certificate.Token() != nullptr) {
        return System().LoadCredentials(certificate, password, digitado);
    }
    return LoadCredentials(certificate.SerialNumber(), password);
}

}  // namespace quelvo
