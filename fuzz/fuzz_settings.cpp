// The settings file and "Servidores.ini": any file content is read by the profile rules, and a
// written value, whatever it holds, never changes another key.
#include "FuzzSupport.h"
#include "common/ProfileFile.h"
#include "common/TServidores.h"

using namespace quelvo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input = fuzz::Text(data, size);
    // The first line (up to LF) is the value written; the rest is the file.
    const size_t split = input.find('\n');
    const std::string value = split == std::string::npos ? input : input.substr(0, split);
    const std::string file = split == std::string::npos ? "" : input.substr(split + 1);
    const std::string path = fuzz::Scratch() + "Config.dat";
    fuzz::WriteFile(path, file);

    TProfileFile ini(path);
    const char* keys[] = {"Usuario", "N5Minutos1", "N30Minutos1", "CheckMostrarNotificacao"};
    std::string before[4];
    for (int i = 0; i < 4; ++i) {
        before[i] = ini.ReadString("Config", keys[i], "\x01");
    }
    const std::string proxyBefore = ini.ReadString("Proxy", "Servidor", "\x01");
    ini.ReadBool("Config", "N10Minutos1", true);
    ini.WriteString("Config", "Senha", value);
    for (int i = 0; i < 4; ++i) {
        QUELVO_FUZZ_CHECK(ini.ReadString("Config", keys[i], "\x01") == before[i]);
    }
    QUELVO_FUZZ_CHECK(ini.ReadString("Proxy", "Servidor", "\x01") == proxyBefore);

    fuzz::WriteFile(fuzz::Scratch() + TServidores::kFileName, file);
    TServidores::Load(fuzz::Scratch());
    return 0;
}
