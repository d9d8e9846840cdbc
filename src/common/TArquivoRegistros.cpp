#include "common/TArquivoRegistros.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <system_error>
#include <unordered_set>
#include <utility>

#include "common/SafeFile.h"
#include "common/Utils.h"

namespace quelvo {

namespace {

TArquivoRegistros::Campos Dividir(const std::string& linha) {
    TArquivoRegistros::Campos campos;
    size_t inicio = 0;
    for (;;) {
        const size_t fim = linha.find(TArquivoRegistros::kSeparador, inicio);
        campos.push_back(linha.substr(inicio, fim - inicio));
        if (fim == std::string::npos) {
            return campos;
        }
        inicio = fim + 1;
    }
}

std::string Juntar(const TArquivoRegistros::Campos& campos, size_t quantos) {
    std::string texto;
    for (size_t i = 0; i < quantos && i < campos.size(); ++i) {
        if (i > 0) {
            texto += TArquivoRegistros::kSeparador;
        }
        texto += campos[i];
    }
    return texto;
}

[[noreturn]] void FalhaDeLeitura(const std::string& path, const std::string& motivo) {
    throw std::runtime_error("Não foi possível ler o arquivo " + path + ": " + motivo);
}

}  // namespace

TArquivoRegistros::TArquivoRegistros(std::string path, size_t camposDaChave, Verificador valido,
                                     size_t limiteBytes)
    : path_(std::move(path)),
      camposDaChave_(camposDaChave),
      valido_(std::move(valido)),
      limite_(limiteBytes) {}

std::string TArquivoRegistros::Chave(const Campos& registro) const {
    return Juntar(registro, camposDaChave_);
}

void TArquivoRegistros::Indexar() {
    indice_.clear();
    for (size_t i = 0; i < registros_.size(); ++i) {
        indice_[Chave(registros_[i])] = i;
    }
}

void TArquivoRegistros::CarregarLocked() {
    if (carregado_) {
        return;
    }
    struct stat st {};
    if (::stat(path_.c_str(), &st) != 0) {
        if (errno == ENOENT) {
            registros_.clear();
            indice_.clear();
            carregado_ = true;
            return;
        }
        FalhaDeLeitura(path_, std::strerror(errno));
    }
    if (!S_ISREG(st.st_mode)) {
        FalhaDeLeitura(path_, "não é um arquivo comum");
    }
    std::string bytes;
    bool inteiro = true;
    try {
        bytes = ReadFileStart(path_, limite_, &inteiro);
    } catch (const std::system_error& e) {
        FalhaDeLeitura(path_, e.code().message());
    }
    if (!inteiro) {
        // Only whole lines count: the one the limit cut goes with the rest.
        const size_t quebra = bytes.find_last_of("\r\n");
        bytes.resize(quebra == std::string::npos ? 0 : quebra + 1);
    }
    registros_.clear();
    indice_.clear();
    size_t danificadas = 0;
    for (const std::string& linha : SplitLines(bytes)) {
        if (linha.empty()) {
            continue;
        }
        Campos campos = Dividir(linha);
        if (campos.size() < camposDaChave_ || !valido_(campos)) {
            ++danificadas;
            continue;
        }
        // A key written twice: the later line wins, in the earlier one's place.
        const auto [it, novo] = indice_.try_emplace(Chave(campos), registros_.size());
        if (novo) {
            registros_.push_back(std::move(campos));
        } else {
            registros_[it->second] = std::move(campos);
        }
    }
    if (danificadas > 0 || !inteiro) {
        // The next write leaves those lines out: keep the file as it was beside it first, under a
        // name of its own (an earlier copy may be the only trace of other lines).
        std::string copia;
        try {
            copia = CopyAsideFile(path_, "danificado");
        } catch (const std::system_error& e) {
            registros_.clear();
            indice_.clear();
            FalhaDeLeitura(path_,
                           "há linhas que não podem ser usadas e não foi possível guardar "
                           "uma cópia do arquivo (" +
                               e.code().message() + ")");
        }
        std::string motivo;
        if (!inteiro) {
            motivo = "passou do limite de " + std::to_string(limite_) +
                     " bytes (as linhas além dele foram deixadas de lado)";
        }
        if (danificadas > 0) {
            motivo += motivo.empty() ? "tinha " : " e tinha ";
            motivo += std::to_string(danificadas) + (danificadas == 1
                                                         ? " linha danificada, deixada de lado"
                                                         : " linhas danificadas, deixadas de lado");
        }
        aviso_ = "O arquivo " + path_ + " " + motivo +
                 "; uma cópia do arquivo como estava foi guardada em " + copia + ".";
    }
    carregado_ = true;
}

void TArquivoRegistros::MudarLocked(const std::function<bool()>& mudar) {
    CarregarLocked();
    std::vector<Campos> antes = registros_;
    if (!mudar()) {
        return;
    }
    std::string texto;
    for (const auto& r : registros_) {
        texto += Juntar(r, r.size());
        texto += "\r\n";
    }
    if (texto.size() > limite_) {
        // The reader would not take it back whole: the change is not made.
        registros_ = std::move(antes);
        Indexar();
        throw std::runtime_error("Não foi possível gravar o arquivo " + path_ +
                                 ": ele passaria do limite de " + std::to_string(limite_) +
                                 " bytes");
    }
    try {
        WriteFileAtomic(path_, texto);
    } catch (const std::system_error& e) {
        throw std::runtime_error("Não foi possível gravar o arquivo " + path_ + ": " +
                                 e.code().message());
    }
}

std::optional<TArquivoRegistros::Campos> TArquivoRegistros::Buscar(const std::string& chave) {
    std::lock_guard lock(mutex_);
    CarregarLocked();
    const auto it = indice_.find(chave);
    if (it == indice_.end()) {
        return std::nullopt;
    }
    return registros_[it->second];
}

std::vector<TArquivoRegistros::Campos> TArquivoRegistros::Registros() {
    std::lock_guard lock(mutex_);
    CarregarLocked();
    return registros_;
}

size_t TArquivoRegistros::Contar(const std::function<bool(const Campos&)>& filtro) {
    std::lock_guard lock(mutex_);
    CarregarLocked();
    size_t n = 0;
    for (const auto& r : registros_) {
        n += filtro(r) ? 1 : 0;
    }
    return n;
}

void TArquivoRegistros::Gravar(const std::vector<Campos>& registros) {
    std::lock_guard lock(mutex_);
    MudarLocked([&] {
        for (const auto& novo : registros) {
            const auto [it, inserido] = indice_.try_emplace(Chave(novo), registros_.size());
            if (inserido) {
                registros_.push_back(novo);
            } else {
                registros_[it->second] = novo;
            }
        }
        return true;
    });
}

void TArquivoRegistros::Apagar(const std::vector<std::string>& chaves) {
    std::lock_guard lock(mutex_);
    MudarLocked([&] {
        const std::unordered_set<std::string> apagar(chaves.begin(), chaves.end());
        const size_t antes = registros_.size();
        std::erase_if(registros_, [&](const Campos& r) { return apagar.count(Chave(r)) > 0; });
        if (registros_.size() == antes) {
            return false;
        }
        Indexar();
        return true;
    });
}

void TArquivoRegistros::Alterar(const std::function<void(Campos&)>& mudar) {
    std::lock_guard lock(mutex_);
    MudarLocked([&] {
        for (auto& r : registros_) {
            mudar(r);
        }
        return true;
    });
}

std::string TArquivoRegistros::TomarAviso() {
    std::lock_guard lock(mutex_);
    try {
        CarregarLocked();
    } catch (const std::exception&) {
        // Said by the call that needs the records.
    }
    return std::exchange(aviso_, std::string());
}

}  // namespace quelvo
