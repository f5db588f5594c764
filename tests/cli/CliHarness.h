#pragma once
// tandel-cli run as a program of its own against simulated devices on pseudo-terminals and a
// catalogue server on 127.0.0.1, both served from threads of the test.

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "CliFiles.h"
#include "PtyDeviceSet.h"
#include "PtyLoop.h"
#include "ServerThread.h"

namespace clitest {

using Steady = std::chrono::steady_clock;

// The simulated devices (COM1 a server with a card behind it, COM2 a card reader) served
// from a thread until Stop; their models may be read after it.
class Devices {
  public:
    Devices(const fs::path& dir, PtyDeviceSet::Options options)
        : portDir(dir / "ports"), flashDir(dir / "flash"), set_(WithFlashDir(options, flashDir)) {
        set_.Create(portDir.string());
        if (::pipe2(stop_, O_CLOEXEC) != 0) std::abort();
        thread_ = std::thread([this] { RunPtyLines(set_.Lines(), stop_[0]); });
    }
    ~Devices() {
        Stop();
        ::close(stop_[0]);
        ::close(stop_[1]);
    }
    void Stop() {
        if (!thread_.joinable()) return;
        (void)!::write(stop_[1], "x", 1);
        thread_.join();
    }
    // Only after Stop.
    const PtyDeviceSet& Set() const { return set_; }

    const fs::path portDir;
    const fs::path flashDir;

  private:
    static PtyDeviceSet::Options WithFlashDir(PtyDeviceSet::Options options, const fs::path& dir) {
        options.flashDir = dir.string();
        return options;
    }
    PtyDeviceSet set_;
    int stop_[2] = {-1, -1};
    std::thread thread_;
};

// One tandel-cli process: its folder, its environment and both of its outputs. Standard input
// is /dev/null, or with `onTerminal` a pseudo-terminal that is also its standard error and
// the controlling terminal of its own session (a resize signals it). `program`: another one.
class Cli {
  public:
    Cli(const fs::path& folder, const std::vector<std::string>& arguments,
        const std::map<std::string, std::string>& environment, bool onTerminal = false,
        const std::string& program = TANDEL_CLI) {
        std::vector<std::string> env;
        for (char** e = environ; *e != nullptr; ++e) {
            const std::string entry = *e;
            if (!environment.count(entry.substr(0, entry.find('=')))) env.push_back(entry);
        }
        for (const auto& [name, value] : environment) env.push_back(name + "=" + value);
        std::vector<std::string> args{program};
        args.insert(args.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv, envp;
        for (auto& a : args) argv.push_back(a.data());
        for (auto& e : env) envp.push_back(e.data());
        argv.push_back(nullptr);
        envp.push_back(nullptr);

        int out[2], err[2];
        if (::pipe2(out, O_CLOEXEC) != 0) std::abort();
        if (onTerminal ? ::openpty(&err[0], &err[1], nullptr, nullptr, nullptr) != 0
                       : ::pipe2(err, O_CLOEXEC) != 0) {
            std::abort();
        }
        for (const int fd : err) ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        const std::string dir = folder.string();
        pid_ = ::fork();
        if (pid_ == 0) {
            const int in = onTerminal ? err[1] : ::open("/dev/null", O_RDONLY);
            if (onTerminal && (::setsid() < 0 || ::ioctl(err[1], TIOCSCTTY, 0) != 0)) ::_exit(127);
            if (::chdir(dir.c_str()) != 0 || ::dup2(in, 0) < 0 || ::dup2(out[1], 1) < 0 ||
                ::dup2(err[1], 2) < 0) {
                ::_exit(127);
            }
            ::execve(argv[0], argv.data(), envp.data());
            ::_exit(127);
        }
        ::close(out[1]);
        ::close(err[1]);
        out_ = out[0];
        err_ = err[0];
        started_ = Steady::now();
    }
    ~Cli() {
        if (status_ < 0) {
            ::kill(pid_, SIGKILL);
            Finish(5000);
        }
        if (out_ >= 0) ::close(out_);
        ::close(err_);
    }

    // Stops reading standard output, as a reader that goes away does.
    void CloseOutput() {
        ::close(out_);
        out_ = -1;
        closed_[0] = true;
    }
    // Makes the terminal `columns` wide, as a resized window does.
    void Resize(unsigned short columns) {
        const winsize size{24, columns, 0, 0};
        ::ioctl(err_, TIOCSWINSZ, &size);
    }
    // Types on the terminal.
    void Type(const std::string& text) { (void)!::write(err_, text.data(), text.size()); }
    // Reads until standard error holds `text` (true) or `ms` pass.
    bool WaitForError(const std::string& text, int ms = 20000) {
        const auto deadline = Steady::now() + std::chrono::milliseconds(ms);
        while (err.find(text) == std::string::npos && Steady::now() < deadline) {
            if (!Pump(50)) return false;
        }
        return err.find(text) != std::string::npos;
    }
    // Reads until standard output holds the line `line` (true) or `ms` pass.
    bool WaitForLine(const std::string& line, int ms = 20000) {
        const auto deadline = Steady::now() + std::chrono::milliseconds(ms);
        while (Steady::now() < deadline) {
            for (const auto& got : SplitLines(out)) {
                if (got == line) return true;
            }
            if (!Pump(50)) return false;
        }
        return false;
    }
    void Signal(int number) { ::kill(pid_, number); }
    pid_t Pid() const { return pid_; }
    // Reads both outputs to their end and returns the exit status (-1 when killed).
    int Finish(int ms = 60000) {
        const auto deadline = Steady::now() + std::chrono::milliseconds(ms);
        while (Pump(100) && Steady::now() < deadline) {
        }
        if (Steady::now() >= deadline) ::kill(pid_, SIGKILL);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
        ended_ = Steady::now();
        return status_;
    }
    std::vector<std::string> OutLines() const { return SplitLines(out); }
    double Seconds() const { return std::chrono::duration<double>(ended_ - started_).count(); }

    std::string out, err;

  private:
    // Takes what the outputs hold within `ms`; false once both are closed.
    bool Pump(int ms) {
        if (closed_[0] && closed_[1]) return false;
        pollfd fds[2] = {{closed_[0] ? -1 : out_, POLLIN, 0}, {closed_[1] ? -1 : err_, POLLIN, 0}};
        if (::poll(fds, 2, ms) <= 0) return true;
        std::string* sinks[2] = {&out, &err};
        for (int i = 0; i < 2; ++i) {
            if (fds[i].revents == 0) continue;
            char buffer[4096];
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n <= 0)
                closed_[i] = true;
            else
                sinks[i]->append(buffer, static_cast<size_t>(n));
        }
        return true;
    }

    pid_t pid_ = -1;
    int out_ = -1, err_ = -1;
    bool closed_[2] = {false, false};
    int status_ = -1;
    Steady::time_point started_, ended_;
};

}  // namespace clitest
