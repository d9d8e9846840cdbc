// quelvo-monitor: the headless program. Same engine as the desktop program, with the console in
// place of windows.
#include <curl/curl.h>

#include <iostream>
#include <string>
#include <vector>

#include "common/Utils.h"
#include "common/Version.h"

namespace {

constexpr int kExitUsage = 2;

void PrintUsage(std::ostream& out) {
    out << "Uso: quelvo-monitor [--pasta PASTA] [COMANDO]\n"
           "\n"
           "  --pasta PASTA   pasta do aplicativo (padrão: a pasta do executável)\n"
           "  --versao        mostra a versão\n"
           "  --ajuda         mostra este texto\n";
}

}  // namespace

int main(int argc, char** argv) {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    const std::vector<std::string> args(argv + 1, argv + argc);
    std::vector<std::string> commands;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--pasta") {
            if (i + 1 >= args.size()) {
                PrintUsage(std::cerr);
                return kExitUsage;
            }
            quelvo::SetApplicationDir(args[++i]);
        } else {
            commands.push_back(args[i]);
        }
    }
    if (commands.size() == 1 && commands[0] == "--versao") {
        std::cout << quelvo::ProgramVersion() << "\n";
        return 0;
    }
    if (commands.size() == 1 && commands[0] == "--ajuda") {
        PrintUsage(std::cout);
        return 0;
    }
    if (!commands.empty()) {
        PrintUsage(std::cerr);
        return kExitUsage;
    }
    std::cout << "quelvo-monitor " << quelvo::ProgramVersion() << "\n\n";
    PrintUsage(std::cout);
    curl_global_cleanup();
    return 0;
}
