#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

// What the program asks of the operating system about itself: where its executable is, which
// process it is, where an installed copy keeps its files, how its command line and console are
// read, and how it learns that it must end. posix/Process.cpp and windows/Process.cpp implement
// it. Text is UTF-8 on both systems.
namespace quelvo::platform {

// The running executable's full path ("" when the system does not say).
std::string ExecutablePath();

// This process's number.
long ProcessId();

// The command line's arguments after the program's name, as UTF-8 (Windows hands them over in
// the wide form: argv there is in the ANSI code page and would lose accents).
std::vector<std::string> Arguments(int argc, char** argv);

// Whether `executable` is a copy of the program that was installed, not a portable folder: on
// Linux it lies in the package's folder of programs (`programsFolder`, "/usr/bin"); on Windows
// under "Program Files" or the user's own programs folder ("%LOCALAPPDATA%\Programs").
bool IsInstalledCopy(const std::string& executable, const std::string& programsFolder);

// Where an installed copy keeps the user's files, with a trailing "/": "$XDG_DATA_HOME/quelvo/"
// on Linux ("~/.local/share/quelvo/" when XDG_DATA_HOME is unset, empty or not an absolute path),
// "%LOCALAPPDATA%/Quelvo/" on Windows. Raises std::runtime_error when the user has no such
// folder.
std::string InstalledCopyDataFolder();

// Where OpenSSL finds its loadable providers ("legacy", for the older PKCS#12 files), as OpenSSL
// takes the path: "" on Linux (OpenSSL's own folder); on Windows the folder "ossl-modules" beside
// the executable, which the program carries.
std::string OpenSslModulesFolder();

// Starts a program detached from this one (a session of its own, no terminal, its standard
// input and output going nowhere), so that it outlives this process. `argv[0]` is the program's
// full path. False when it could not be started.
bool StartDetached(const std::vector<std::string>& argv);

// The processor time the calling thread has used so far (user and system), in seconds.
double ThreadCpuSeconds();

// Prepares the console for the program's output: UTF-8 on Windows (accents print as on Linux, to
// the console and to pipes); on Linux, a peer that closes a pipe or connection is an error of
// that call, never the end of the program.
void PrepareConsole();

// Sets `stop` when the user or the system asks the program to end: SIGTERM and SIGINT on Linux;
// Ctrl+C, Ctrl+Break and the console's closing on Windows (the program then has a few seconds to
// save and exit).
void OnStopRequest(std::atomic<bool>& stop);

// Whether standard input is a terminal (a person typing) and not a pipe or a file.
bool InputIsTerminal();

// The terminal's echo off for the life of the object (a password typed at the keyboard is not
// shown); nothing when standard input is no terminal.
class EchoOff {
public:
    EchoOff();
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;
    ~EchoOff();

private:
    struct Saved;
    std::unique_ptr<Saved> saved_;
};

}  // namespace quelvo::platform
