#pragma once

#include <p11-kit/pkcs11.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace quelvo {

// A token present in a slot, as its description names it (the blanks that pad the texts
// removed).
struct TTokenInfo {
    CK_SLOT_ID slot = 0;
    std::string label;
    std::string manufacturer;
    std::string model;
    std::string serial;
    CK_FLAGS flags = 0;
};

// A PKCS#11 module, loaded and initialised for calls from any thread. One instance per path lives
// while anyone holds it; when the last holder lets go it is finalised and unloaded, so that the
// next use sees the system's modules and tokens afresh. Loading and unloading never overlap.
class TPkcs11Module {
public:
    // The module at the path. Raises ECertificateError naming the path when it cannot be loaded
    // or initialised.
    static std::shared_ptr<TPkcs11Module> Open(const std::string& path);
    // p11-kit's proxy module: it reaches every module that p11-kit has registered on this system
    // (a token's vendor module included), with no configuration of ours.
    static std::string DefaultPath();
    // Whether the module at the path is loaded by this process now.
    static bool IsOpen(const std::string& path);

    TPkcs11Module(const TPkcs11Module&) = delete;
    TPkcs11Module& operator=(const TPkcs11Module&) = delete;
    ~TPkcs11Module();

    const std::string& Path() const { return path_; }
    CK_FUNCTION_LIST* Functions() const { return functions_; }

    // Every slot that holds an initialised token now.
    std::vector<TTokenInfo> Tokens() const;
    // C_GetTokenInfo. Modules are not all safe for it from two threads at once (SoftHSM2
    // formats the token's clock with gmtime), so it runs one call at a time.
    CK_RV TokenInfo(CK_SLOT_ID slot, CK_TOKEN_INFO& info) const;

private:
    TPkcs11Module(std::string path, void* library, CK_FUNCTION_LIST* functions, bool finalize);

    std::string path_;
    void* library_;
    CK_FUNCTION_LIST* functions_;
    bool finalize_;  // false when someone else in the process had initialised it already
    mutable std::mutex tokenInfo_;
};

// The name of a PKCS#11 return value ("CKR_PIN_INCORRECT"), or its number in hexadecimal.
std::string Pkcs11ReturnText(CK_RV rv);

// A text field of a PKCS#11 description, without the blanks that pad it.
std::string Pkcs11Text(const unsigned char* field, size_t size);

}  // namespace quelvo
