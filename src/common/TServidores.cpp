#include "common/TServidores.h"

#include "common/ProfileFile.h"
#include "common/Utils.h"

namespace quelvo {

TServidores TServidores::Load(const std::string& appDir) {
    TServidores s;
    const TProfileFile file(appDir + kFileName);
    const auto read = [&](const char* key, std::string& value) {
        const std::string v = file.ReadString("Servidores", key);
        if (!v.empty()) {
            value = v;
        }
    };
    read("Site", s.Site);
    read("SiteChaves", s.SiteChaves);
    read("DFeProducao", s.DFeProducao);
    read("DFeHomologacao", s.DFeHomologacao);
    return s;
}

TServidores TServidores::Current() {
    return Load(ApplicationDir());
}

}  // namespace quelvo
