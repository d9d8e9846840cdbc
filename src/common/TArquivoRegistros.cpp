#include "common/TArquivoRegistros.h"

#include <stdexcept>
#include <system_error>
#include <unordered_set>
#include <utility>

#include "common/SafeFile.h"
#include "common/Utils.h"
#include "platform/Files.h"

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
    platform::FileInfo info;
    std::error_code ec;
    if (!platform::StatusOf(path_, info, ec)) {
        if (ec == std::errc::no_such_file_or_directory) {
            registros_.clear();
            indice_.clear();
            tamanhoArquivo_ = 0;
            tamanhoVivo_ = 0;
            reescrever_ = false;
            carregado_ = true;
            return;
        }
        FalhaDeLeitura(path_, ec.message());
    }
    if (!info.regular) {
        FalhaDeLeitura(path_, "não é um arquivo comum");
    }
    std::string bytes;
    bool inteiro = true;
    try {
        bytes = ReadFileStart(path_, limite_, &inteiro);
    } catch (const std::system_error& e) {
        FalhaDeLeitura(path_, e.code().message());
    }
    tamanhoArquivo_ = bytes.size();
    reescrever_ = false;
    if (const size_t quebra = bytes.find_last_of("\r\n"); quebra + 1 != bytes.size()) {
        // Only whole lines count: the one the limit cut goes with the rest, and one without its
        // line break was being appended when the program ended. The next change writes the file
        // whole, so that nothing is appended to the fragment.
        bytes.resize(quebra == std::string::npos ? 0 : quebra + 1);
        reescrever_ = true;
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
    tamanhoVivo_ = 0;
    for (const auto& r : registros_) {
        tamanhoVivo_ += Juntar(r, r.size()).size() + 2;
    }
    if (danificadas > 0 || !inteiro) {
        reescrever_ = true;
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
    ReescreverLocked(&antes);
}

void TArquivoRegistros::ReescreverLocked(const std::vector<Campos>* antes) {
    std::string texto;
    for (const auto& r : registros_) {
        texto += Juntar(r, r.size());
        texto += "\r\n";
    }
    if (texto.size() > limite_) {
        // The reader would not take it back whole: the change is not made.
        if (antes != nullptr) {
            registros_ = *antes;
            Indexar();
        }
        throw std::runtime_error("Não foi possível gravar o arquivo " + path_ +
                                 ": ele passaria do limite de " + std::to_string(limite_) +
                                 " bytes");
    }
    tamanhoVivo_ = texto.size();
    try {
        WriteFileAtomic(path_, texto);
    } catch (const std::system_error& e) {
        reescrever_ = true;
        throw std::runtime_error("Não foi possível gravar o arquivo " + path_ + ": " +
                                 e.code().message());
    }
    tamanhoArquivo_ = texto.size();
    reescrever_ = false;
    porSincronizar_ = false;  // written whole, and flushed
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

std::vector<TArquivoRegistros::Campos> TArquivoRegistros::Registros(
    const std::function<bool(const Campos&)>& filtro) {
    std::lock_guard lock(mutex_);
    CarregarLocked();
    if (!filtro) {
        return registros_;
    }
    std::vector<Campos> escolhidos;
    for (const auto& r : registros_) {
        if (filtro(r)) {
            escolhidos.push_back(r);
        }
    }
    return escolhidos;
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
    CarregarLocked();
    // The lines as they will read back, and what the records will need once they are in.
    std::string linhas;
    size_t vivo = tamanhoVivo_;
    std::unordered_map<std::string, size_t> novos;  // key -> line size, for keys seen here
    for (const auto& r : registros) {
        const std::string linha = Juntar(r, r.size());
        linhas += linha;
        linhas += "\r\n";
        const std::string chave = Chave(r);
        size_t anterior = 0;
        if (const auto n = novos.find(chave); n != novos.end()) {
            anterior = n->second;
        } else if (const auto it = indice_.find(chave); it != indice_.end()) {
            const Campos& atual = registros_[it->second];
            anterior = Juntar(atual, atual.size()).size() + 2;
        }
        vivo = vivo - anterior + linha.size() + 2;
        novos[chave] = linha.size() + 2;
    }
    const size_t crescido = tamanhoArquivo_ + linhas.size();
    const bool acrescentar =
        !reescrever_ && crescido <= limite_ && crescido <= 2 * vivo + kFolgaDeAcrescimos;
    std::vector<Campos> antes;
    if (!acrescentar) {
        antes = registros_;
    }
    for (const auto& novo : registros) {
        const auto [it, inserido] = indice_.try_emplace(Chave(novo), registros_.size());
        if (inserido) {
            registros_.push_back(novo);
        } else {
            registros_[it->second] = novo;
        }
    }
    if (!acrescentar) {
        ReescreverLocked(&antes);
        return;
    }
    tamanhoVivo_ = vivo;
    try {
        AppendToFile(path_, linhas);
    } catch (const std::system_error& e) {
        // The change holds for this run; the file, perhaps with part of the lines, is written
        // whole at the next change.
        reescrever_ = true;
        throw std::runtime_error("Não foi possível gravar o arquivo " + path_ + ": " +
                                 e.code().message());
    }
    tamanhoArquivo_ = crescido;
    porSincronizar_ = true;
}

void TArquivoRegistros::Reparar() {
    std::lock_guard lock(mutex_);
    CarregarLocked();
    if (reescrever_) {
        ReescreverLocked(nullptr);
    }
}

void TArquivoRegistros::Sincronizar() {
    std::lock_guard lock(mutex_);
    if (!porSincronizar_) {
        return;
    }
    try {
        SyncFile(path_);
    } catch (const std::system_error& e) {
        throw std::runtime_error("Não foi possível gravar o arquivo " + path_ + ": " +
                                 e.code().message());
    }
    porSincronizar_ = false;
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
