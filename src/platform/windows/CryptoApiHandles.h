#pragma once

// The Windows headers, in the order every file that also uses OpenSSL must include them: before
// any OpenSSL header. wincrypt.h defines X509_NAME, X509_EXTENSIONS and a few other names as
// macros; OpenSSL's headers undefine them when they come later, but nothing undoes them when
// wincrypt.h comes after OpenSSL.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <wincrypt.h>

#include <ncrypt.h>

#include <memory>
#include <string>
#include <utility>

namespace quelvo {

// One owner for each CryptoAPI and CNG handle.

struct CertStoreCloser {
    void operator()(HCERTSTORE store) const { CertCloseStore(store, 0); }
};
using CertStorePtr = std::unique_ptr<void, CertStoreCloser>;

struct CertContextFreer {
    void operator()(PCCERT_CONTEXT context) const { CertFreeCertificateContext(context); }
};
using CertContextPtr = std::unique_ptr<const CERT_CONTEXT, CertContextFreer>;

struct CertChainFreer {
    void operator()(PCCERT_CHAIN_CONTEXT chain) const { CertFreeCertificateChain(chain); }
};
using CertChainPtr = std::unique_ptr<const CERT_CHAIN_CONTEXT, CertChainFreer>;

// A handle that is a number (HCRYPTPROV, HCRYPTHASH, NCRYPT_HANDLE...), 0 when none.
template <typename H, void (*Release)(H)>
class TWinHandle {
public:
    TWinHandle() = default;
    explicit TWinHandle(H handle) : handle_(handle) {}
    TWinHandle(TWinHandle&& other) noexcept : handle_(std::exchange(other.handle_, 0)) {}
    TWinHandle& operator=(TWinHandle&& other) noexcept {
        reset(std::exchange(other.handle_, 0));
        return *this;
    }
    TWinHandle(const TWinHandle&) = delete;
    TWinHandle& operator=(const TWinHandle&) = delete;
    ~TWinHandle() { reset(); }

    H get() const { return handle_; }
    explicit operator bool() const { return handle_ != 0; }
    void reset(H handle = 0) {
        if (handle_ != 0) {
            Release(handle_);
        }
        handle_ = handle;
    }
    // For a function that hands out a new handle through a pointer.
    H* receive() {
        reset();
        return &handle_;
    }

private:
    H handle_ = 0;
};

inline void ReleaseCryptProv(HCRYPTPROV h) {
    CryptReleaseContext(h, 0);
}
inline void DestroyCryptHash(HCRYPTHASH h) {
    CryptDestroyHash(h);
}
inline void DestroyCryptKey(HCRYPTKEY h) {
    CryptDestroyKey(h);
}
inline void FreeNCryptObject(NCRYPT_HANDLE h) {
    NCryptFreeObject(h);
}

using CryptProvHandle = TWinHandle<HCRYPTPROV, ReleaseCryptProv>;
using CryptHashHandle = TWinHandle<HCRYPTHASH, DestroyCryptHash>;
using CryptKeyHandle = TWinHandle<HCRYPTKEY, DestroyCryptKey>;
// An NCRYPT_KEY_HANDLE or NCRYPT_PROV_HANDLE.
using NCryptHandle = TWinHandle<NCRYPT_HANDLE, FreeNCryptObject>;

// The system's text of a Windows error code (GetLastError, HRESULT, SECURITY_STATUS) in UTF-8,
// followed by the code: "Conjunto de chaves não existe (0x80090016)".
std::string WindowsErrorText(DWORD code);

// UTF-8 and Windows' UTF-16. A text that is not UTF-8 is taken as Windows-1252.
std::wstring Utf8ToWide(const std::string& text);
std::string WideToUtf8(const wchar_t* text);

}  // namespace quelvo
