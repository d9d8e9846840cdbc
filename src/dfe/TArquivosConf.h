#pragma once

namespace quelvo {

// File settings of a fiscal-document client: whether decoded documents are saved (never, on
// this program's roads).
class TArquivosConf {
public:
    bool Salvar = false;
};

}  // namespace quelvo
