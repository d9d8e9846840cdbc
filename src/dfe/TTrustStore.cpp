#include "dfe/TTrustStore.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <mutex>
#include <vector>

#include "certificates/OpenSslHandles.h"
#include "dfe/TTrustAnchors.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "platform/SystemRoots.h"

namespace quelvo {

namespace {

// What tells whether the folder changed: its files' names, sizes and modification times.
std::string Assinatura(const std::string& folder) {
    if (folder.empty()) {
        return {};
    }
    std::vector<std::string> linhas;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(platform::PathOf(folder), ec)) {
        const std::string path = platform::Utf8Of(e.path());
        platform::FileInfo st;
        std::error_code erro;
        if (platform::StatusOf(path, st, erro)) {
            linhas.push_back(path + '\n' + std::to_string(st.size) + '\n' +
                             std::to_string(st.modifiedNs));
        } else {
            linhas.push_back(path);
        }
    }
    std::sort(linhas.begin(), linhas.end());
    std::string out;
    for (const auto& l : linhas) {
        out += l;
        out += '\n';
    }
    return out;
}

TTrustStore::Store Montar(const std::string& folder, const std::string& caFile,
                          const std::string& caPath) {
    TTrustStore::Store store(X509_STORE_new(), &X509_STORE_free);
    if (!store) {
        throw std::bad_alloc();
    }
    // The system's authorities: a missing bundle is no error here (the chain then fails with
    // the text that names ac-confiaveis/).
    if (!caFile.empty()) {
        X509_STORE_load_file(store.get(), caFile.c_str());
    }
    if (!caPath.empty()) {
        X509_STORE_load_path(store.get(), caPath.c_str());
    }
    for (const std::string& der : platform::SystemRootCertificates()) {
        const auto* p = reinterpret_cast<const unsigned char*>(der.data());
        if (const X509Ptr root{d2i_X509(nullptr, &p, static_cast<long>(der.size()))}) {
            X509_STORE_add_cert(store.get(), root.get());
        }
    }
    const TTrustAnchors anchors = TTrustAnchors::Load(folder);
    for (const auto& a : anchors.Anchors()) {
        X509_STORE_add_cert(store.get(), a.certificate.Get());
    }
    LastOpenSslError();
    return store;
}

}  // namespace

TTrustStore::Store TTrustStore::For(const std::string& folder, const std::string& caFile,
                                    const std::string& caPath) {
    struct Feita {
        std::string assinatura;
        Store store;
    };
    static std::mutex mutex;
    static std::map<std::string, Feita> feitas;
    const std::string chave = folder + '\n' + caFile + '\n' + caPath;
    const std::string assinatura = Assinatura(folder);
    std::lock_guard lock(mutex);
    auto& f = feitas[chave];
    if (!f.store || f.assinatura != assinatura) {
        f.store = Montar(folder, caFile, caPath);
        f.assinatura = assinatura;
    }
    return f.store;
}

}  // namespace quelvo
