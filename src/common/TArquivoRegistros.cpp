#include "common/TArquivoRegistros.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <system_error>
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

void TArquivoRegistros::CarregarLocked() {
    if (carregado_) {
        return;
    }
    struct stat st {};
    if (::stat(path_.c_str(), &st) != 0) {
        if (errno == ENOENT) {
            registros_.clear();
            carregado_ = true;
            return;
        }
        FalhaDeLeitura(path_, std::strerror(errno));
    }
    if (!S_ISREG(st.st_mode)) {
        FalhaDeLeitura(path_, "não é um arquivo comum");
    }
    if (static_cast<unsigned long long>(st.st_size) > limite_) {
        FalhaDeLeitura(path_, "o arquivo tem " + std::to_string(st.st_size) +
                                  " bytes, mais do que o limite de " + std::to_string(limite_));
    }
    std::string bytes;
    try {
        bytes = ReadWholeFile(path_);
    } catch (const std::system_error& e) {
        FalhaDeLeitura(path_, e.code().message());
    }
    if (bytes.size() > limite_) {  // it grew while being read
        FalhaDeLeitura(path_, "o arquivo passou do limite de " + std::to_string(limite_) +
                                  " bytes durante a leitura");
    }
    std::vector<Campos> lidos;
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
        const std::string chave = Chave(campos);
        bool substituiu = false;
        for (auto& r : lidos) {
            if (Chave(r) == chave) {
                r = std::move(campos);
                substituiu = true;
                break;
            }
        }
        if (!substituiu) {
            lidos.push_back(std::move(campos));
        }
    }
    if (danificadas > 0) {
        // The next write leaves those lines out: keep the file as it was beside it first.
        const std::string copia = path_ + ".danificado";
        try {
            WriteFileAtomic(copia, bytes);
        } catch (const std::system_error& e) {
            FalhaDeLeitura(path_, "há linhas danificadas e não foi possível guardar uma cópia em " +
                                      copia + " (" + e.code().message() + ")");
        }
        aviso_ = "O arquivo " + path_ + " tinha " + std::to_string(danificadas) +
                 (danificadas == 1 ? " linha danificada, deixada de lado"
                                   : " linhas danificadas, deixadas de lado") +
                 "; uma cópia do arquivo como estava foi guardada em " + copia + ".";
    }
    registros_ = std::move(lidos);
    carregado_ = true;
}

void TArquivoRegistros::SalvarLocked() {
    std::string texto;
    for (const auto& r : registros_) {
        texto += Juntar(r, r.size());
        texto += "\r\n";
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
    for (const auto& r : registros_) {
        if (Chave(r) == chave) {
            return r;
        }
    }
    return std::nullopt;
}

std::vector<TArquivoRegistros::Campos> TArquivoRegistros::Registros() {
    std::lock_guard lock(mutex_);
    CarregarLocked();
    return registros_;
}

void TArquivoRegistros::Gravar(const std::vector<Campos>& registros) {
    std::lock_guard lock(mutex_);
    CarregarLocked();
    for (const auto& novo : registros) {
        const std::string chave = Chave(novo);
        bool substituiu = false;
        for (auto& r : registros_) {
            if (Chave(r) == chave) {
                r = novo;
                substituiu = true;
                break;
            }
        }
        if (!substituiu) {
            registros_.push_back(novo);
        }
    }
    SalvarLocked();
}

void TArquivoRegistros::Apagar(const std::vector<std::string>& chaves) {
    std::lock_guard lock(mutex_);
    CarregarLocked();
    const size_t antes = registros_.size();
    std::erase_if(registros_, [&](const Campos& r) {
        const std::string chave = Chave(r);
        for (const auto& c : chaves) {
            if (c == chave) {
                return true;
            }
        }
        return false;
    });
    if (registros_.size() != antes) {
        SalvarLocked();
    }
}

void TArquivoRegistros::Alterar(const std::function<void(Campos&)>& mudar) {
    std::lock_guard lock(mutex_);
    CarregarLocked();
    for (auto& r : registros_) {
        mudar(r);
    }
    SalvarLocked();
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
