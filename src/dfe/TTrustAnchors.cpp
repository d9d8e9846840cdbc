#include "dfe/TTrustAnchors.h"

#include <openssl/evp.h>
#include <openssl/pem.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "common/SafeFile.h"
#include "dfe/RaizesIcpBrasil.h"
#include "platform/Files.h"
#include "platform/Paths.h"

namespace quelvo {

namespace {

// Every certificate of a PEM text, or the one certificate of a DER file (authorities often
// publish their roots so).
std::vector<X509Ptr> CertificatesOf(const std::string& bytes) {
    std::vector<X509Ptr> found;
    BioPtr bio(BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())));
    while (X509* c = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr)) {
        found.emplace_back(c);
    }
    if (found.empty()) {
        const auto* der = reinterpret_cast<const unsigned char*>(bytes.data());
        if (X509* c = d2i_X509(nullptr, &der, static_cast<long>(bytes.size()))) {
            found.emplace_back(c);
        }
    }
    LastOpenSslError();  // the end of the PEM text leaves an error in the queue
    return found;
}

}  // namespace

std::string Sha256Fingerprint(X509* cert) {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    if (X509_digest(cert, EVP_sha256(), md, &len) != 1) {
        throw std::runtime_error("SHA-256 do certificado: " + LastOpenSslError());
    }
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned int i = 0; i < len; ++i) {
        if (i > 0) {
            out += ':';
        }
        out += kHex[md[i] >> 4];
        out += kHex[md[i] & 0x0F];
    }
    return out;
}

const std::vector<TTrustAnchors::Anchor>& TTrustAnchors::BuiltIn() {
    static const std::vector<Anchor> roots = [] {
        std::vector<Anchor> out;
        for (const auto& raiz : RaizesIcpBrasil()) {
            out.push_back({TCertificate::FromPem(raiz.pem), true, raiz.arquivo});
        }
        return out;
    }();
    return roots;
}

TTrustAnchors TTrustAnchors::Load(const std::string& folder) {
    TTrustAnchors t;
    t.anchors_ = BuiltIn();
    if (folder.empty()) {
        return t;
    }
    std::error_code ec;
    std::vector<std::filesystem::path> files;
    for (const auto& e : std::filesystem::directory_iterator(platform::PathOf(folder), ec)) {
        const auto ext = e.path().extension();
        if (ext == ".pem" || ext == ".crt") {
            files.push_back(e.path());
        }
    }
    std::sort(files.begin(), files.end());
    for (const auto& f : files) {
        const std::string path = platform::Utf8Of(f);
        platform::FileInfo st;
        std::error_code erro;
        if (!platform::StatusOf(path, st, erro)) {
            t.problems_.push_back({path, std::strerror(erro.value())});
            continue;
        }
        if (!st.regular) {
            t.problems_.push_back({path, "não é um arquivo"});
            continue;
        }
        if (st.size > kMaxFileBytes) {
            t.problems_.push_back({path, "passa de 1 MB"});
            continue;
        }
        std::string bytes;
        try {
            bytes = ReadWholeFile(path);
        } catch (const std::system_error& e) {
            t.problems_.push_back({path, std::strerror(e.code().value())});
            continue;
        }
        auto certs = CertificatesOf(bytes);
        if (certs.empty()) {
            t.problems_.push_back({path, "não contém certificado (PEM ou DER)"});
            continue;
        }
        for (auto& c : certs) {
            t.anchors_.push_back({TCertificate(std::move(c)), false, path});
        }
    }
    return t;
}

}  // namespace quelvo
