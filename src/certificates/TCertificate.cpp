#include "certificates/TCertificate.h"

#include <openssl/asn1.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <map>
#include <mutex>
#include <stdexcept>

#include "platform/Time.h"

namespace quelvo {

namespace {

std::shared_ptr<X509> Share(X509Ptr p) {
    return std::shared_ptr<X509>(p.release(), X509_free);
}

// The authorities' certificates that came in chains, one copy of each: an office's thousands of
// e-CNPJ files carry the same few of them, and each parsed copy costs kilobytes for the whole run.
class TCadeiasComuns {
public:
    std::shared_ptr<X509> Comum(X509Ptr cert) {
        unsigned char md[EVP_MAX_MD_SIZE];
        unsigned int len = 0;
        if (X509_digest(cert.get(), EVP_sha256(), md, &len) != 1) {
            return Share(std::move(cert));
        }
        const std::string chave(reinterpret_cast<char*>(md), len);
        std::lock_guard lock(mutex_);
        auto& guardado = certificados_[chave];
        if (auto comum = guardado.lock()) {
            return comum;
        }
        auto novo = Share(std::move(cert));
        guardado = novo;
        if (certificados_.size() >= 2 * tamanhoNaLimpeza_) {
            std::erase_if(certificados_, [](const auto& c) { return c.second.expired(); });
            tamanhoNaLimpeza_ = std::max<size_t>(certificados_.size(), 64);
        }
        return novo;
    }

private:
    std::mutex mutex_;
    std::map<std::string, std::weak_ptr<X509>> certificados_;  // SHA-256 of the DER -> copy
    size_t tamanhoNaLimpeza_ = 64;
};

TCadeiasComuns& CadeiasComuns() {
    static TCadeiasComuns comuns;
    return comuns;
}

std::string EntryText(const X509_NAME* name, int nid) {
    const int index = X509_NAME_get_index_by_NID(name, nid, -1);
    if (index < 0) {
        return {};
    }
    const ASN1_STRING* data = X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, index));
    unsigned char* utf8 = nullptr;
    const int len = ASN1_STRING_to_UTF8(&utf8, data);
    if (len < 0) {
        return {};
    }
    std::string out(reinterpret_cast<char*>(utf8), static_cast<size_t>(len));
    OPENSSL_free(utf8);
    return out;
}

void AppendPem(std::string& out, X509* cert) {
    BioPtr bio(BIO_new(BIO_s_mem()));
    PEM_write_bio_X509(bio.get(), cert);
    char* data = nullptr;
    const long len = BIO_get_mem_data(bio.get(), &data);
    out.append(data, static_cast<size_t>(len));
}

}  // namespace

std::string SerialNumberOf(const X509* cert) {
    // The serial's content octets as DER writes them (a leading 00 stays where the encoding has
    // one), as the certificate's holders see it in their tools.
    const ASN1_INTEGER* serial = X509_get0_serialNumber(cert);
    unsigned char* der = nullptr;
    const int len = i2d_ASN1_INTEGER(serial, &der);
    std::string hex;
    if (len > 2) {
        // Skip the tag and the length octets.
        size_t start = 2;
        if (der[1] & 0x80) {
            start += der[1] & 0x7F;
        }
        static const char kHex[] = "0123456789ABCDEF";
        for (size_t i = start; i < static_cast<size_t>(len); ++i) {
            hex += kHex[der[i] >> 4];
            hex += kHex[der[i] & 0x0F];
        }
    }
    OPENSSL_free(der);
    return hex;
}

TCertificate::TCertificate(X509Ptr cert, std::vector<X509Ptr> chain)
    : cert_(Share(std::move(cert))) {
    for (auto& c : chain) {
        chain_.push_back(CadeiasComuns().Comum(std::move(c)));
    }
}

TCertificate TCertificate::FromPem(std::string_view pem) {
    BioPtr bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    X509Ptr first(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
    if (!first) {
        LastOpenSslError();
        throw std::runtime_error("Certificado ilegível.");
    }
    std::vector<X509Ptr> chain;
    while (X509Ptr next{PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr)}) {
        chain.push_back(std::move(next));
    }
    LastOpenSslError();  // the end of the text leaves an error behind
    return TCertificate(std::move(first), std::move(chain));
}

std::string TCertificate::SerialNumber() const {
    return SerialNumberOf(cert_.get());
}

TDateTime TCertificate::NotAfter() const {
    std::tm tm{};
    ASN1_TIME_to_tm(X509_get0_notAfter(cert_.get()), &tm);
    return TDateTime::FromTimeT(platform::FromUtc(tm));
}

std::string TCertificate::SubjectName() const {
    BioPtr bio(BIO_new(BIO_s_mem()));
    const unsigned long flags =
        (XN_FLAG_RFC2253 & ~XN_FLAG_SEP_MASK & ~ASN1_STRFLGS_ESC_MSB) | XN_FLAG_SEP_CPLUS_SPC;
    X509_NAME_print_ex(bio.get(), X509_get_subject_name(cert_.get()), 0, flags);
    char* data = nullptr;
    const long len = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<size_t>(len));
}

std::string TCertificate::SimpleName() const {
    const X509_NAME* name = X509_get_subject_name(cert_.get());
    for (int nid : {NID_commonName, NID_organizationName, NID_organizationalUnitName}) {
        if (auto text = EntryText(name, nid); !text.empty()) {
            return text;
        }
    }
    return SubjectName();
}

std::string TCertificate::HolderName() const {
    const std::string simple = SimpleName();
    return simple.substr(0, simple.find(':'));
}

std::string TCertificate::CNPJ() const {
    GeneralNamesPtr names(static_cast<GENERAL_NAMES*>(
        X509_get_ext_d2i(cert_.get(), NID_subject_alt_name, nullptr, nullptr)));
    if (!names) {
        return {};
    }
    char oid[64];
    for (int i = 0; i < sk_GENERAL_NAME_num(names.get()); ++i) {
        const GENERAL_NAME* name = sk_GENERAL_NAME_value(names.get(), i);
        if (name->type != GEN_OTHERNAME) {
            continue;
        }
        OBJ_obj2txt(oid, sizeof oid, name->d.otherName->type_id, 1);
        if (std::string_view(oid) != kOidCnpj) {
            continue;
        }
        const ASN1_TYPE* value = name->d.otherName->value;
        // Authorities write the digits in an OCTET STRING or in one of the text types.
        if (value == nullptr || value->type == V_ASN1_BOOLEAN || value->type == V_ASN1_NULL ||
            value->type == V_ASN1_OBJECT) {
            return {};
        }
        const ASN1_STRING* s = value->value.asn1_string;
        std::string digits;
        for (int k = 0; k < ASN1_STRING_length(s); ++k) {
            const auto c = static_cast<char>(ASN1_STRING_get0_data(s)[k]);
            if (c >= '0' && c <= '9') {
                digits += c;
            }
        }
        return digits;
    }
    return {};
}

std::string TCertificate::ToPem() const {
    std::string out;
    AppendPem(out, cert_.get());
    for (const auto& c : chain_) {
        AppendPem(out, c.get());
    }
    return out;
}

}  // namespace quelvo
