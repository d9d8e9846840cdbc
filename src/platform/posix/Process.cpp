#include "platform/Process.h"

#include <fcntl.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <vector>

extern char** environ;

namespace quelvo::platform {

namespace {

namespace fs = std::filesystem;

// A path with its links resolved as far as it exists, so that "/bin/x" and "/usr/bin/x" on a
// merged /usr, or a path with "..", compare equal.
fs::path Resolved(const std::string& path) {
    std::error_code ec;
    fs::path p = fs::weakly_canonical(fs::absolute(path, ec), ec);
    if (ec) {
        p = fs::absolute(path).lexically_normal();
    }
    return p;
}

// The user's home folder: $HOME, else the password database's entry.
std::string Home() {
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') {
        return home;
    }
    std::vector<char> buf(16384);
    passwd pw{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &pw, buf.data(), buf.size(), &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr && found->pw_dir[0] == '/') {
        return found->pw_dir;
    }
    throw std::runtime_error(
        "Não foi possível saber a pasta pessoal do usuário (HOME não está definido): use "
        "--pasta para dizer onde ficam os arquivos do aplicativo.");
}

std::atomic<bool>* gStop = nullptr;

extern "C" void OnStopSignal(int) {
    if (gStop != nullptr) {
        *gStop = true;
    }
}

}  // namespace

std::string ExecutablePath() {
    std::error_code ec;
    return fs::read_symlink("/proc/self/exe", ec).string();
}

long ProcessId() {
    return static_cast<long>(::getpid());
}

std::vector<std::string> Arguments(int argc, char** argv) {
    return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

bool IsInstalledCopy(const std::string& executable, const std::string& programsFolder) {
    return !executable.empty() && !programsFolder.empty() &&
           Resolved(executable).parent_path() == Resolved(programsFolder);
}

std::string InstalledCopyDataFolder() {
    std::string data;
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg != nullptr && xdg[0] == '/') {
        data = xdg;
    } else {
        data = (fs::path(Home()) / ".local" / "share").string();
    }
    return (fs::path(data) / "quelvo").lexically_normal().string() + "/";
}

std::string OpenSslModulesFolder() {
    return {};
}

bool StartDetached(const std::vector<std::string>& argv) {
    std::vector<std::string> copia = argv;
    std::vector<char*> args;
    for (auto& a : copia) {
        args.push_back(a.data());
    }
    args.push_back(nullptr);
    posix_spawnattr_t attr;
    posix_spawn_file_actions_t acoes;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
    posix_spawn_file_actions_init(&acoes);
    for (const int fd : {0, 1, 2}) {
        posix_spawn_file_actions_addopen(&acoes, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
    }
    pid_t pid = 0;
    const int erro = ::posix_spawn(&pid, args[0], &acoes, &attr, args.data(), environ);
    posix_spawn_file_actions_destroy(&acoes);
    posix_spawnattr_destroy(&attr);
    return erro == 0;
}

double ThreadCpuSeconds() {
    rusage u{};
    ::getrusage(RUSAGE_THREAD, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void PrepareConsole() {
    std::signal(SIGPIPE, SIG_IGN);
}

void OnStopRequest(std::atomic<bool>& stop) {
    gStop = &stop;
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);
}

bool InputIsTerminal() {
    return ::isatty(STDIN_FILENO) == 1;
}

struct EchoOff::Saved {
    termios terminal{};
};

EchoOff::EchoOff() {
    termios current{};
    if (::tcgetattr(STDIN_FILENO, &current) == 0) {
        termios quiet = current;
        quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
        if (::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) == 0) {
            saved_ = std::make_unique<Saved>(Saved{current});
        }
    }
}

EchoOff::~EchoOff() {
    if (saved_) {
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved_->terminal);
    }
}

}  // namespace quelvo::platform
