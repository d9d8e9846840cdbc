#pragma once

#include <cstdio>
#include <string>

#include "TDfeStandIn.h"

namespace quelvo::test {

// The access key (44 digits) of the tests' n-th invoice.
inline std::string Chave(long long n) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "3526116074694800011255001%09lld1%09lld", n, n);
    return buf;
}

// The summary of that invoice, from one issuer.
inline standin::ResumoNFe Resumo(long long n, const std::string& nome = "FORNECEDOR") {
    standin::ResumoNFe r;
    r.chNFe = Chave(n);
    r.cnpjEmitente = "60746948000112";
    r.xNome = nome;
    r.ie = "110042490114";
    return r;
}

}  // namespace quelvo::test
