// quelvo-monitor: the headless program. Same engine as the desktop program, with the console in
// place of windows.
#include <curl/curl.h>

#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include "cli/TMonitorCli.h"

int main(int argc, char** argv) {
    // Once, before any thread starts. A peer that closes its connection is an error of that
    // call, never the end of the program.
    std::signal(SIGPIPE, SIG_IGN);
    curl_global_init(CURL_GLOBAL_DEFAULT);
    quelvo::TMonitorCli cli(std::cout, std::cerr, std::cin);
    const int code = cli.Run(std::vector<std::string>(argv + 1, argv + argc));
    std::cout.flush();
    curl_global_cleanup();
    return code;
}
