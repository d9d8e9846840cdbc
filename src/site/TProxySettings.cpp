#include "site/TProxySettings.h"

#include <charconv>

#include "common/Utils.h"

namespace quelvo {

namespace {
constexpr const char* kSection = "Proxy";
}

TTravonHttpProxy TProxySettings::ToProxy(const TProxyFields& fields) {
    TTravonHttpProxy proxy;
    proxy.Server = fields.Servidor;
    int port = 0;
    const auto& p = fields.Porta;
    const auto [end, ec] = std::from_chars(p.data(), p.data() + p.size(), port);
    proxy.Port = (ec == std::errc{} && end == p.data() + p.size()) ? port : 0;
    proxy.User = fields.Usuario;
    proxy.Password = fields.Senha;
    return proxy;
}

TProxyFields TProxySettings::Cancelar(const TProfileFile& file, Guarded<TTravonHttpProxy>& shared) {
    TProxyFields fields{file.ReadString(kSection, "Servidor"), file.ReadString(kSection, "Porta"),
                        file.ReadString(kSection, "Usuario"), file.ReadString(kSection, "Senha")};
    shared.Set(ToProxy(fields));
    return fields;
}

bool TProxySettings::Salvar(TProxyFields& fields, TProfileFile& file,
                            Guarded<TTravonHttpProxy>& shared,
                            const std::function<bool(const std::string&)>& confirm) {
    fields.Porta = OnlyDigits(fields.Porta);
    if (!confirm(kConfirmText)) {
        return false;
    }
    file.WriteString(kSection, "Servidor", fields.Servidor);
    file.WriteString(kSection, "Porta", fields.Porta);
    file.WriteString(kSection, "Usuario", fields.Usuario);
    file.WriteString(kSection, "Senha", fields.Senha);
    fields = Cancelar(file, shared);
    return true;
}

}  // namespace quelvo
