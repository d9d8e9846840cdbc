#include "platform/Process.h"

#include "platform/windows/WindowsText.h"

#include <shellapi.h>
#include <shlobj.h>

#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <thread>

namespace quelvo::platform {

namespace {

using windows::Utf8Path;
using windows::Wide;

// A known folder of the user or the machine, with "/" between folders; "" when Windows has none.
std::string KnownFolder(REFKNOWNFOLDERID id) {
    PWSTR path = nullptr;
    std::string out;
    if (SUCCEEDED(::SHGetKnownFolderPath(id, KF_FLAG_DEFAULT, nullptr, &path)) && path != nullptr) {
        out = Utf8Path(path);
    }
    ::CoTaskMemFree(path);
    return out;
}

// Lower case, "/" between folders and no "/" at the end: paths compared as Windows compares
// them.
std::wstring Comparable(std::string path) {
    while (!path.empty() && (path.back() == '/' || path.back() == '\\')) {
        path.pop_back();
    }
    std::wstring w = Wide(path);
    for (auto& c : w) {
        if (c == L'\\') {
            c = L'/';
        }
    }
    if (!w.empty()) {
        ::CharLowerBuffW(w.data(), static_cast<DWORD>(w.size()));
    }
    return w;
}

bool Inside(const std::string& path, const std::string& folder) {
    if (folder.empty()) {
        return false;
    }
    const std::wstring p = Comparable(path);
    const std::wstring f = Comparable(folder);
    return p.size() > f.size() && p.compare(0, f.size(), f) == 0 && p[f.size()] == L'/';
}

// A command line argument quoted as the C run time and CommandLineToArgvW read it back.
std::wstring Quoted(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
        return arg;
    }
    std::wstring out = L"\"";
    size_t backslashes = 0;
    for (const wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        if (c == L'"') {
            out.append(backslashes * 2 + 1, L'\\');
        } else {
            out.append(backslashes, L'\\');
        }
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, L'\\');
    return out + L"\"";
}

std::atomic<bool>* gStop = nullptr;
std::atomic<bool> gEnded{false};

BOOL WINAPI OnConsoleEvent(DWORD event) {
    if (gStop == nullptr) {
        return FALSE;
    }
    *gStop = true;
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
        // Windows ends the process when this returns: the program gets the few seconds Windows
        // allows to save and leave on its own.
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(4500);
        while (!gEnded && std::chrono::steady_clock::now() < until) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    return TRUE;
}

}  // namespace

std::string ExecutablePath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) {
            return {};
        }
        if (n < path.size()) {
            path.resize(n);
            return Utf8Path(path);
        }
        path.resize(path.size() * 2);
    }
}

long ProcessId() {
    return static_cast<long>(::GetCurrentProcessId());
}

std::vector<std::string> Arguments(int /*argc*/, char** /*argv*/) {
    std::vector<std::string> out;
    int n = 0;
    LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &n);
    if (wide == nullptr) {
        return out;
    }
    for (int i = 1; i < n; ++i) {
        out.push_back(windows::Utf8(wide[i]));
    }
    ::LocalFree(wide);
    return out;
}

bool IsInstalledCopy(const std::string& executable, const std::string& /*programsFolder*/) {
    if (executable.empty()) {
        return false;
    }
    for (const auto& id : {FOLDERID_ProgramFiles, FOLDERID_ProgramFilesX86,
                           FOLDERID_ProgramFilesX64, FOLDERID_UserProgramFiles}) {
        if (Inside(executable, KnownFolder(id))) {
            return true;
        }
    }
    return false;
}

std::string InstalledCopyDataFolder() {
    const std::string local = KnownFolder(FOLDERID_LocalAppData);
    if (local.empty()) {
        throw std::runtime_error(
            "Não foi possível saber a pasta de dados do usuário (%LOCALAPPDATA%): use --pasta "
            "para dizer onde ficam os arquivos do aplicativo.");
    }
    return local + "/Quelvo/";
}

std::string OpenSslModulesFolder() {
    std::wstring exe(MAX_PATH, L'\0');
    const DWORD n = ::GetModuleFileNameW(nullptr, exe.data(), static_cast<DWORD>(exe.size()));
    if (n == 0 || n >= exe.size()) {
        return {};
    }
    exe.resize(n);
    std::wstring folder = exe.substr(0, exe.find_last_of(L"\\/") + 1) + L"ossl-modules";
    // OpenSSL opens it with the ANSI functions: a folder with letters outside the ANSI code page
    // goes by its short name.
    std::wstring shortName(MAX_PATH, L'\0');
    const DWORD s =
        ::GetShortPathNameW(folder.c_str(), shortName.data(), static_cast<DWORD>(shortName.size()));
    if (s > 0 && s < shortName.size()) {
        shortName.resize(s);
        folder = shortName;
    }
    const int size =
        ::WideCharToMultiByte(CP_ACP, 0, folder.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string ansi(static_cast<size_t>(size > 0 ? size : 1), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, folder.c_str(), -1, ansi.data(), size, nullptr, nullptr);
    ansi.resize(ansi.find('\0'));
    return ansi;
}

bool StartDetached(const std::vector<std::string>& argv) {
    if (argv.empty()) {
        return false;
    }
    std::wstring line;
    for (const auto& a : argv) {
        if (!line.empty()) {
            line += L' ';
        }
        line += Quoted(Wide(a));
    }
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    const std::wstring program = windows::WidePath(argv[0]);
    if (!::CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE,
                          DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP, nullptr, nullptr, &si,
                          &pi)) {
        return false;
    }
    ::CloseHandle(pi.hThread);
    ::CloseHandle(pi.hProcess);
    return true;
}

double ThreadCpuSeconds() {
    FILETIME creation{}, exit{}, kernel{}, user{};
    if (!::GetThreadTimes(::GetCurrentThread(), &creation, &exit, &kernel, &user)) {
        return 0;
    }
    const auto ticks = [](const FILETIME& t) {
        return static_cast<double>((static_cast<uint64_t>(t.dwHighDateTime) << 32) |
                                   t.dwLowDateTime);
    };
    return (ticks(kernel) + ticks(user)) / 1e7;  // 100 ns units
}

void PrepareConsole() {
    // Accents in statuses and names print as on Linux, to the console and to pipes alike: the
    // program writes UTF-8.
    ::SetConsoleOutputCP(CP_UTF8);
    ::SetConsoleCP(CP_UTF8);
}

void OnStopRequest(std::atomic<bool>& stop) {
    gStop = &stop;
    gEnded = false;
    static const bool registered = [] {
        std::atexit([] { gEnded = true; });
        return true;
    }();
    (void)registered;
    ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

bool InputIsTerminal() {
    DWORD mode = 0;
    const HANDLE in = ::GetStdHandle(STD_INPUT_HANDLE);
    return ::GetFileType(in) == FILE_TYPE_CHAR && ::GetConsoleMode(in, &mode);
}

struct EchoOff::Saved {
    DWORD mode = 0;
};

EchoOff::EchoOff() {
    const HANDLE in = ::GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (::GetConsoleMode(in, &mode) && ::SetConsoleMode(in, mode & ~ENABLE_ECHO_INPUT)) {
        saved_ = std::make_unique<Saved>(Saved{mode});
    }
}

EchoOff::~EchoOff() {
    if (saved_) {
        ::SetConsoleMode(::GetStdHandle(STD_INPUT_HANDLE), saved_->mode);
    }
}

}  // namespace quelvo::platform
