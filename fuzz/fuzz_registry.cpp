// The company files: the earlier version's dataset packets (binary and XML) and "Empresas2.dat".
// Any bytes either load or fail with the file's error; what loads is saved and loads again with
// the same number of companies.
#include "FuzzSupport.h"
#include "common/MessageBoxes.h"
#include "monitor/TConsultasEmpresas.h"
#include "monitor/TLegacyDataset.h"

using namespace quelvo;

namespace {

class SilentBoxes : public MessageBoxes {
public:
    void Info(const std::string&) override {}
    void Error(const std::string&) override {}
    bool Confirm(const std::string&) override { return false; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const auto installed = InstallMessageBoxes(std::make_shared<SilentBoxes>());
    (void)installed;
    const std::string input = fuzz::Text(data, size);
    try {
        const TLegacyDataset ds = TLegacyDataset::Parse(input);
        for (const auto& row : ds.Rows()) {
            TLegacyDataset::Value(row, "CNPJ");
        }
    } catch (const ELegacyDatasetError&) {
    }

    const std::string path = fuzz::Scratch() + "Empresas2.dat";
    fuzz::WriteFile(path, input);
    TConsultasEmpresas loaded;
    loaded.Carregar(path);
    loaded.Salvar(path);
    TConsultasEmpresas again;
    again.Carregar(path);
    QUELVO_FUZZ_CHECK(again.Quantidade() == loaded.Quantidade());
    fuzz::ClearScratch();  // a damaged file went aside: nothing may pile up
    return 0;
}
