// SPDX-License-Identifier: GPL-3.0-or-later
// The one way tests run a program: the brinesong binary, or a tool beside it (parecord, pacat).
// The child gets the test's environment with some variables set or removed, its standard output
// and error go to files of its own (read after it ended), and every wait has a limit, so a hang
// fails the test instead of stalling the run.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "support/Eventually.h"
#include "support/Files.h"

extern char** environ;

namespace brinesong::testing {

// How the child is run.
struct RunOptions {
    // "NAME=value" sets a variable, "NAME" alone removes it.
    std::vector<std::string> environment;
    // Standard input from this file (default: /dev/null).
    std::string input = "/dev/null";
    // The working directory (default: the test's).
    std::string directory{};
};

// For `brinesong --play`: a session bus that is not there, in whatever environment the test runs,
// and the line the player then begins its standard error with.
inline const std::string kNoSessionBus =
    "DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/brinesong/bus";
inline const std::string kNoSessionBusLine =
    "brinesong: nothing but a signal can control this playback: no session bus (Failed to "
    "connect to socket /nonexistent/brinesong/bus: No such file or directory)\n";

class Program {
public:
    explicit Program(std::vector<std::string> arguments, const RunOptions& options = {})
        : output_("brinesong-run") {
        std::vector<std::string> environment;
        for (char** e = environ; *e != nullptr; ++e) {
            environment.emplace_back(*e);
        }
        for (const std::string& change : options.environment) {
            const std::string name = change.substr(0, change.find('='));
            std::erase_if(environment, [&name](const std::string& e) {
                return e.compare(0, name.size() + 1, name + "=") == 0;
            });
            if (change.find('=') != std::string::npos) {
                environment.push_back(change);
            }
        }
        std::vector<char*> argv;
        for (std::string& a : arguments) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        std::vector<char*> envp;
        for (std::string& e : environment) {
            envp.push_back(e.data());
        }
        envp.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, options.input.c_str(), O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, output_.file("out").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, output_.file("err").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (!options.directory.empty()) {
            posix_spawn_file_actions_addchdir_np(&actions, options.directory.c_str());
        }
        if (posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
    }

    ~Program() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    bool started() const { return pid_ > 0 || status_ >= 0; }
    pid_t pid() const { return pid_; }
    void signal(int number) const {
        if (pid_ > 0) {
            ::kill(pid_, number);
        }
    }
    // True once the child has ended (it is then reaped).
    bool ended() {
        if (pid_ > 0) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                reaped(status);
            }
        }
        return pid_ <= 0;
    }

    // The exit status, 128 + the signal that ended it, or -1 when it has not ended within `limit`
    // (a hang guard, never a timing check: the limit is far beyond any run's length).
    int wait(std::chrono::seconds limit = std::chrono::seconds(120)) {
        return eventually([this] { return ended(); }, limit, std::chrono::milliseconds(5)) ? status_
                                                                                           : -1;
    }

    std::string out() const { return readFile(output_.file("out")); }
    std::string err() const { return readFile(output_.file("err")); }

private:
    void reaped(int status) {
        pid_ = -1;
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    ScratchDir output_;
    pid_t pid_ = -1;
    int status_ = -1;
};

struct ProgramRun {
    int status = -1;  // exit status, 128 + signal, or -1 for a hang
    std::string out;
    std::string err;
};

// Runs to the end and returns what it printed.
inline ProgramRun runProgram(const std::vector<std::string>& arguments,
                             const RunOptions& options = {}) {
    Program program(arguments, options);
    ProgramRun run;
    run.status = program.wait();
    run.out = program.out();
    run.err = program.err();
    return run;
}

#ifdef BRINESONG_BINARY
// The brinesong binary under test with `arguments`.
inline std::vector<std::string> brinesong(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), BRINESONG_BINARY);
    return arguments;
}
#endif

// The user the permission tests run the program as: nobody. As root (CI runs as root) the
// command drops to that user with setpriv, since root passes every permission check; as any
// other user it runs unchanged, that user being unprivileged already.
inline constexpr uid_t kUnprivilegedUid = 65534;
inline constexpr gid_t kUnprivilegedGid = 65534;
inline std::vector<std::string> unprivileged(std::vector<std::string> command) {
    if (::geteuid() == 0) {
        command.insert(command.begin(),
                       {"setpriv", "--reuid=" + std::to_string(kUnprivilegedUid),
                        "--regid=" + std::to_string(kUnprivilegedGid), "--clear-groups", "--"});
    }
    return command;
}

}  // namespace brinesong::testing
