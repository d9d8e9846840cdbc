#include "certificates/TPkcs11Module.h"

#include <dlfcn.h>

#include <cstdio>
#include <map>
#include <mutex>

#include "certificates/ECertificateError.h"

namespace quelvo {

namespace {

// The modules loaded now, with how many holders each has. Loading, the last release and the
// unloading run under the one lock, so a module is never initialised while it is finalised.
struct Loaded {
    TPkcs11Module* module = nullptr;
    int holders = 0;
};

std::mutex& RegistryLock() {
    static std::mutex lock;
    return lock;
}

std::map<std::string, Loaded>& Registry() {
    static std::map<std::string, Loaded> registry;
    return registry;
}

}  // namespace

std::string Pkcs11Text(const unsigned char* field, size_t size) {
    std::string text(reinterpret_cast<const char*>(field), size);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) {
        text.pop_back();
    }
    return text;
}

std::string Pkcs11ReturnText(CK_RV rv) {
    switch (rv) {
#define QUELVO_CKR(name) \
    case name:           \
        return #name;
        QUELVO_CKR(CKR_OK)
        QUELVO_CKR(CKR_CANCEL)
        QUELVO_CKR(CKR_HOST_MEMORY)
        QUELVO_CKR(CKR_SLOT_ID_INVALID)
        QUELVO_CKR(CKR_GENERAL_ERROR)
        QUELVO_CKR(CKR_FUNCTION_FAILED)
        QUELVO_CKR(CKR_ARGUMENTS_BAD)
        QUELVO_CKR(CKR_CANT_LOCK)
        QUELVO_CKR(CKR_ATTRIBUTE_SENSITIVE)
        QUELVO_CKR(CKR_ATTRIBUTE_TYPE_INVALID)
        QUELVO_CKR(CKR_DEVICE_ERROR)
        QUELVO_CKR(CKR_DEVICE_MEMORY)
        QUELVO_CKR(CKR_DEVICE_REMOVED)
        QUELVO_CKR(CKR_FUNCTION_NOT_SUPPORTED)
        QUELVO_CKR(CKR_OBJECT_HANDLE_INVALID)
        QUELVO_CKR(CKR_OPERATION_ACTIVE)
        QUELVO_CKR(CKR_PIN_INCORRECT)
        QUELVO_CKR(CKR_PIN_INVALID)
        QUELVO_CKR(CKR_PIN_LEN_RANGE)
        QUELVO_CKR(CKR_PIN_EXPIRED)
        QUELVO_CKR(CKR_PIN_LOCKED)
        QUELVO_CKR(CKR_SESSION_CLOSED)
        QUELVO_CKR(CKR_SESSION_COUNT)
        QUELVO_CKR(CKR_SESSION_HANDLE_INVALID)
        QUELVO_CKR(CKR_TOKEN_NOT_PRESENT)
        QUELVO_CKR(CKR_TOKEN_NOT_RECOGNIZED)
        QUELVO_CKR(CKR_USER_ALREADY_LOGGED_IN)
        QUELVO_CKR(CKR_USER_NOT_LOGGED_IN)
        QUELVO_CKR(CKR_USER_PIN_NOT_INITIALIZED)
        QUELVO_CKR(CKR_USER_TYPE_INVALID)
        QUELVO_CKR(CKR_USER_ANOTHER_ALREADY_LOGGED_IN)
        QUELVO_CKR(CKR_USER_TOO_MANY_TYPES)
        QUELVO_CKR(CKR_BUFFER_TOO_SMALL)
        QUELVO_CKR(CKR_CRYPTOKI_NOT_INITIALIZED)
        QUELVO_CKR(CKR_CRYPTOKI_ALREADY_INITIALIZED)
#undef QUELVO_CKR
        default:
            break;
    }
    char buf[32];
    std::snprintf(buf, sizeof buf, "0x%08lX", static_cast<unsigned long>(rv));
    return buf;
}

std::string TPkcs11Module::DefaultPath() {
    return QUELVO_P11KIT_PROXY;
}

bool TPkcs11Module::IsOpen(const std::string& path) {
    std::lock_guard<std::mutex> lock(RegistryLock());
    return Registry().count(path) > 0;
}

TPkcs11Module::TPkcs11Module(std::string path, void* library, CK_FUNCTION_LIST* functions,
                             bool finalize)
    : path_(std::move(path)), library_(library), functions_(functions), finalize_(finalize) {}

TPkcs11Module::~TPkcs11Module() {
    if (finalize_) {
        functions_->C_Finalize(nullptr);
    }
    dlclose(library_);
}

std::shared_ptr<TPkcs11Module> TPkcs11Module::Open(const std::string& path) {
    std::lock_guard<std::mutex> lock(RegistryLock());
    Loaded& entry = Registry()[path];
    if (entry.module == nullptr) {
        void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr) {
            const char* why = dlerror();
            Registry().erase(path);
            throw ECertificateError("Não foi possível carregar o módulo PKCS#11 \"" + path +
                                    "\" dos tokens e cartões: " + (why ? why : "?"));
        }
        auto getList = reinterpret_cast<CK_C_GetFunctionList>(dlsym(library, "C_GetFunctionList"));
        CK_FUNCTION_LIST* functions = nullptr;
        CK_RV rv = getList ? getList(&functions) : CKR_FUNCTION_NOT_SUPPORTED;
        if (rv == CKR_OK && functions == nullptr) {
            rv = CKR_GENERAL_ERROR;
        }
        if (rv == CKR_OK) {
            CK_C_INITIALIZE_ARGS args{};
            args.flags = CKF_OS_LOCKING_OK;
            rv = functions->C_Initialize(&args);
        }
        if (rv != CKR_OK && rv != CKR_CRYPTOKI_ALREADY_INITIALIZED) {
            dlclose(library);
            Registry().erase(path);
            throw ECertificateError("Não foi possível iniciar o módulo PKCS#11 \"" + path +
                                    "\" dos tokens e cartões: " + Pkcs11ReturnText(rv));
        }
        entry.module =
            new TPkcs11Module(path, library, functions, rv != CKR_CRYPTOKI_ALREADY_INITIALIZED);
    }
    ++entry.holders;
    return std::shared_ptr<TPkcs11Module>(entry.module, [](TPkcs11Module* module) {
        std::lock_guard<std::mutex> lock(RegistryLock());
        auto it = Registry().find(module->Path());
        if (--it->second.holders == 0) {
            Registry().erase(it);
            delete module;
        }
    });
}

CK_RV TPkcs11Module::TokenInfo(CK_SLOT_ID slot, CK_TOKEN_INFO& info) const {
    std::lock_guard<std::mutex> lock(tokenInfo_);
    return functions_->C_GetTokenInfo(slot, &info);
}

std::vector<TTokenInfo> TPkcs11Module::Tokens() const {
    std::vector<CK_SLOT_ID> slots;
    CK_RV rv = CKR_OK;
    // The list may grow between the two calls (a token plugged in).
    do {
        CK_ULONG count = 0;
        rv = functions_->C_GetSlotList(CK_TRUE, nullptr, &count);
        if (rv != CKR_OK) {
            break;
        }
        slots.resize(count);
        rv = functions_->C_GetSlotList(CK_TRUE, slots.data(), &count);
        slots.resize(rv == CKR_OK ? count : 0);
    } while (rv == CKR_BUFFER_TOO_SMALL);
    if (rv != CKR_OK) {
        throw ECertificateError("Não foi possível listar os tokens e cartões do módulo PKCS#11 \"" +
                                path_ + "\": " + Pkcs11ReturnText(rv));
    }
    std::vector<TTokenInfo> out;
    for (CK_SLOT_ID slot : slots) {
        CK_TOKEN_INFO info{};
        // A token pulled out meanwhile is simply not there.
        if (TokenInfo(slot, info) != CKR_OK || !(info.flags & CKF_TOKEN_INITIALIZED)) {
            continue;
        }
        out.push_back(TTokenInfo{slot, Pkcs11Text(info.label, sizeof info.label),
                                 Pkcs11Text(info.manufacturerID, sizeof info.manufacturerID),
                                 Pkcs11Text(info.model, sizeof info.model),
                                 Pkcs11Text(info.serialNumber, sizeof info.serialNumber),
                                 info.flags});
    }
    return out;
}

}  // namespace quelvo
