// A PKCS#11 module for the tests that passes every call to another module (the one named by
// QUELVO_TEST_PKCS11_MODULE) and adds the token flags named by QUELVO_TEST_PKCS11_FLAGS (a decimal
// number, read at every C_GetTokenInfo) to what C_GetTokenInfo reports. SoftHSM2 keeps no count of
// wrong PINs, so this is how a test meets a token that says it has seen one, or has one try left.
#include <dlfcn.h>
#include <p11-kit/pkcs11.h>

#include <cstdlib>
#include <mutex>

namespace {

CK_FUNCTION_LIST gList;
CK_FUNCTION_LIST* gReal = nullptr;
std::once_flag gOnce;

CK_RV GetTokenInfo(CK_SLOT_ID slot, CK_TOKEN_INFO* info) {
    const CK_RV rv = gReal->C_GetTokenInfo(slot, info);
    if (rv == CKR_OK) {
        if (const char* flags = std::getenv("QUELVO_TEST_PKCS11_FLAGS")) {
            info->flags |= std::strtoul(flags, nullptr, 10);
        }
    }
    return rv;
}

void Load() {
    const char* path = std::getenv("QUELVO_TEST_PKCS11_MODULE");
    void* library = path != nullptr ? dlopen(path, RTLD_NOW | RTLD_LOCAL) : nullptr;
    auto get = library != nullptr
                   ? reinterpret_cast<CK_C_GetFunctionList>(dlsym(library, "C_GetFunctionList"))
                   : nullptr;
    if (get == nullptr || get(&gReal) != CKR_OK) {
        gReal = nullptr;
        return;
    }
    gList = *gReal;
    gList.C_GetTokenInfo = GetTokenInfo;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) CK_RV C_GetFunctionList(
    CK_FUNCTION_LIST_PTR_PTR list) {
    std::call_once(gOnce, Load);
    if (gReal == nullptr) {
        return CKR_GENERAL_ERROR;
    }
    *list = &gList;
    return CKR_OK;
}
