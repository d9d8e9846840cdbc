#include "TestPki.h"

#include "TestKeys.h"

#include <openssl/ec.h>
#include <openssl/pem.h>
#include <openssl/rand.h>

#include <stdexcept>

namespace quelvo::testpki {

namespace {

void Check(int ok, const char* what) {
    if (ok <= 0) {
        throw std::runtime_error(std::string("test PKI: ") + what + ": " + LastOpenSslError());
    }
}

EvpPkeyPtr NewEcKey() {
    EvpPkeyPtr key(EVP_EC_gen("P-256"));
    Check(key != nullptr, "key generation");
    return key;
}

void AddExtension(X509* cert, X509* issuer, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    Check(ext != nullptr, value);
    X509_add_ext(cert, ext, -1);
    X509_EXTENSION_free(ext);
}

// A random positive serial of 16 bytes; about half of them have the top bit set, so that their
// encoding starts with a 00 byte.
void SetRandomSerial(X509* cert) {
    unsigned char bytes[16];
    RAND_bytes(bytes, sizeof bytes);
    if (bytes[0] == 0) {
        bytes[0] = 1;
    }
    BIGNUM* bn = BN_bin2bn(bytes, sizeof bytes, nullptr);
    BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(cert));
    BN_free(bn);
}

X509Ptr NewCert(EVP_PKEY* key, const std::vector<std::pair<const char*, std::string>>& subject,
                const Validity& validity) {
    X509Ptr cert(X509_new());
    X509_set_version(cert.get(), 2);
    SetRandomSerial(cert.get());
    Check(ASN1_TIME_set_string_X509(X509_getm_notBefore(cert.get()), validity.notBefore.c_str()),
          "notBefore");
    Check(ASN1_TIME_set_string_X509(X509_getm_notAfter(cert.get()), validity.notAfter.c_str()),
          "notAfter");
    X509_NAME* name = X509_get_subject_name(cert.get());
    for (const auto& [field, value] : subject) {
        X509_NAME_add_entry_by_txt(name, field, MBSTRING_UTF8,
                                   reinterpret_cast<const unsigned char*>(value.c_str()), -1, -1,
                                   0);
    }
    X509_set_pubkey(cert.get(), key);
    return cert;
}

void Sign(X509* cert, const Issued* issuer, EVP_PKEY* ownKey) {
    X509_set_issuer_name(cert, X509_get_subject_name(issuer ? issuer->cert.get() : cert));
    Check(X509_sign(cert, issuer ? issuer->key.get() : ownKey, EVP_sha256()), "sign");
}

Issued MakeCa(const std::string& cn, const Issued* parent) {
    Issued ca;
    ca.key = NewEcKey();
    ca.cert = NewCert(ca.key.get(), {{"C", "BR"}, {"O", "ICP-Brasil Teste"}, {"CN", cn}},
                      {"20200101120000Z", "20491231120000Z"});
    X509* issuerCert = parent ? parent->cert.get() : ca.cert.get();
    AddExtension(ca.cert.get(), issuerCert, NID_basic_constraints, "critical,CA:TRUE");
    AddExtension(ca.cert.get(), issuerCert, NID_key_usage, "critical,keyCertSign,cRLSign");
    AddExtension(ca.cert.get(), issuerCert, NID_subject_key_identifier, "hash");
    Sign(ca.cert.get(), parent, ca.key.get());
    return ca;
}

// subjectAltName with the ICP-Brasil otherName entries of a company certificate.
void AddECnpjNames(X509* cert, const std::string& cnpj) {
    GeneralNamesPtr names(sk_GENERAL_NAME_new_null());
    auto addOther = [&](const char* oid, const std::string& value) {
        ASN1_OCTET_STRING* octets = ASN1_OCTET_STRING_new();
        ASN1_OCTET_STRING_set(octets, reinterpret_cast<const unsigned char*>(value.data()),
                              static_cast<int>(value.size()));
        ASN1_TYPE* type = ASN1_TYPE_new();
        ASN1_TYPE_set(type, V_ASN1_OCTET_STRING, octets);
        GENERAL_NAME* gen = GENERAL_NAME_new();
        GENERAL_NAME_set0_othername(gen, OBJ_txt2obj(oid, 1), type);
        sk_GENERAL_NAME_push(names.get(), gen);
    };
    // Responsible person's data (2.16.76.1.3.4), the CNPJ (2.16.76.1.3.3), the name of the
    // responsible person (2.16.76.1.3.2) and the INSS number (2.16.76.1.3.7), as issued.
    addOther("2.16.76.1.3.4", "010119800000000000000000000000000000000000000SSPSP");
    addOther("2.16.76.1.3.2", "RESPONSAVEL TESTE");
    addOther("2.16.76.1.3.3", cnpj);
    addOther("2.16.76.1.3.7", "000000000000");
    X509_add1_ext_i2d(cert, NID_subject_alt_name, names.get(), 0, X509V3_ADD_DEFAULT);
}

}  // namespace

std::string CertPem(X509* cert) {
    BioPtr bio(BIO_new(BIO_s_mem()));
    PEM_write_bio_X509(bio.get(), cert);
    char* data = nullptr;
    const long len = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<size_t>(len));
}

std::string KeyPem(EVP_PKEY* key) {
    BioPtr bio(BIO_new(BIO_s_mem()));
    PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr);
    char* data = nullptr;
    const long len = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<size_t>(len));
}

TestPki::TestPki()
    : root_(MakeCa("AC Raiz Teste Quelvo", nullptr)),
      intermediate_(MakeCa("AC Intermediaria Teste Quelvo", &root_)) {}

Issued TestPki::IssueServer(const std::string& commonName,
                            const std::string& subjectAltNames) const {
    Issued out;
    out.key = NewEcKey();
    out.cert = NewCert(out.key.get(), {{"C", "BR"}, {"O", "Servidor Teste"}, {"CN", commonName}},
                       Validity::Current());
    AddExtension(out.cert.get(), Intermediate(), NID_subject_alt_name, subjectAltNames.c_str());
    AddExtension(out.cert.get(), Intermediate(), NID_ext_key_usage, "serverAuth");
    AddExtension(out.cert.get(), Intermediate(), NID_authority_key_identifier, "keyid");
    Sign(out.cert.get(), &intermediate_, nullptr);
    return out;
}

EvpPkeyPtr TestPki::NextRsaKey() const {
    const auto& keys = FixedRsaKeysPem();
    const std::string& pem = keys[nextKey_++ % keys.size()];
    BioPtr bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    EvpPkeyPtr key(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
    Check(key != nullptr, "fixed key");
    return key;
}

Issued TestPki::IssueECnpj(const std::string& name, const std::string& cnpj,
                           const Validity& validity) const {
    Issued out;
    out.key = NextRsaKey();
    out.cert = NewCert(out.key.get(),
                       {{"C", "BR"},
                        {"O", "ICP-Brasil"},
                        {"OU", "Secretaria da Receita Federal do Brasil - RFB"},
                        {"OU", "RFB e-CNPJ A1"},
                        {"CN", name + ":" + cnpj}},
                       validity);
    AddECnpjNames(out.cert.get(), cnpj);
    AddExtension(out.cert.get(), Intermediate(), NID_ext_key_usage, "clientAuth,emailProtection");
    AddExtension(out.cert.get(), Intermediate(), NID_key_usage,
                 "critical,digitalSignature,nonRepudiation,keyEncipherment");
    AddExtension(out.cert.get(), Intermediate(), NID_authority_key_identifier, "keyid");
    Sign(out.cert.get(), &intermediate_, nullptr);
    return out;
}

Issued TestPki::IssueSelfSigned(const std::string& commonName) {
    Issued out;
    out.key = NewEcKey();
    out.cert = NewCert(out.key.get(), {{"C", "BR"}, {"CN", commonName}}, Validity::Current());
    Sign(out.cert.get(), nullptr, out.key.get());
    return out;
}

std::string TestPki::Pkcs12(const Issued& issued, const std::string& password, bool legacy,
                            bool withKey, EVP_PKEY* otherKey) const {
    EnableLegacyAlgorithms();
    X509StackPtr chain(sk_X509_new_null());
    X509_up_ref(Intermediate());
    sk_X509_push(chain.get(), Intermediate());
    X509_up_ref(Root());
    sk_X509_push(chain.get(), Root());
    EVP_PKEY* key = withKey ? issued.key.get() : nullptr;
    const int nidKey = legacy ? NID_pbe_WithSHA1And3_Key_TripleDES_CBC : 0;
    const int nidCert = legacy ? NID_pbe_WithSHA1And40BitRC2_CBC : 0;
    Pkcs12Ptr p12;
    if (otherKey != nullptr) {
        // PKCS12_create refuses a key that does not match; put the bags together by hand.
        STACK_OF(PKCS12_SAFEBAG)* certBags = nullptr;
        STACK_OF(PKCS12_SAFEBAG)* keyBags = nullptr;
        STACK_OF(PKCS7)* safes = nullptr;
        PKCS12_add_cert(&certBags, issued.cert.get());
        PKCS12_add_cert(&certBags, Intermediate());
        PKCS12_add_key(&keyBags, otherKey, 0, PKCS12_DEFAULT_ITER, NID_aes_256_cbc,
                       password.c_str());
        PKCS12_add_safe(&safes, certBags, NID_aes_256_cbc, PKCS12_DEFAULT_ITER, password.c_str());
        PKCS12_add_safe(&safes, keyBags, -1, 0, nullptr);
        p12.reset(PKCS12_add_safes(safes, 0));
        sk_PKCS12_SAFEBAG_pop_free(certBags, PKCS12_SAFEBAG_free);
        sk_PKCS12_SAFEBAG_pop_free(keyBags, PKCS12_SAFEBAG_free);
        sk_PKCS7_pop_free(safes, PKCS7_free);
        Check(p12 != nullptr, "PKCS12_add_safes");
        Check(PKCS12_set_mac(p12.get(), password.c_str(), -1, nullptr, 0, PKCS12_DEFAULT_ITER,
                             EVP_sha256()),
              "PKCS12_set_mac");
    } else {
        p12.reset(PKCS12_create(password.c_str(), "certificado", key, issued.cert.get(),
                                chain.get(), nidKey, nidCert, legacy ? 2048 : 0, legacy ? 1 : 0,
                                0));
        Check(p12 != nullptr, "PKCS12_create");
    }
    if (legacy) {
        // Older files carry a SHA-1 MAC.
        Check(PKCS12_set_mac(p12.get(), password.c_str(), -1, nullptr, 0, 2048, EVP_sha1()),
              "PKCS12_set_mac");
    }
    unsigned char* der = nullptr;
    const int len = i2d_PKCS12(p12.get(), &der);
    Check(len, "i2d_PKCS12");
    std::string out(reinterpret_cast<char*>(der), static_cast<size_t>(len));
    OPENSSL_free(der);
    return out;
}

std::string TestPki::ChainPem(X509* cert) const {
    return CertPem(cert) + CertPem(Intermediate());
}

}  // namespace quelvo::testpki
