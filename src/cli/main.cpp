// quelvo-monitor: the headless program. Same engine as the desktop program, with the console in
// place of windows.
#include <curl/curl.h>

#include <iostream>
#include <string>
#include <vector>

#include "cli/TMonitorCli.h"
#include "common/Version.h"
#include "platform/Process.h"

QUELVO_PROGRAM_MARKER("quelvo-monitor");

int main(int argc, char** argv) {
    // Once, before any thread starts.
    quelvo::platform::PrepareConsole();
    curl_global_init(CURL_GLOBAL_DEFAULT);
    quelvo::TMonitorCli cli(std::cout, std::cerr, std::cin);
    const int code = cli.Run(quelvo::platform::Arguments(argc, argv));
    std::cout.flush();
    curl_global_cleanup();
    return code;
}
