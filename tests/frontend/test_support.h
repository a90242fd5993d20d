// Helpers shared by the front-end tests: a scratch directory, file reading, and running a program as a
// process.
#ifndef FRONTEND_TEST_SUPPORT_H
#define FRONTEND_TEST_SUPPORT_H

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace testsupport {

// A fresh directory, removed with everything in it at the end of the test.
class TempDir {
  public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "morvane_test_XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

  private:
    std::filesystem::path path_;
};

// Works in another directory for the rest of the scope.
class ScopedChdir {
  public:
    explicit ScopedChdir(const std::filesystem::path& directory)
        : previous_(std::filesystem::current_path()) {
        std::filesystem::current_path(directory);
    }
    ~ScopedChdir() {
        std::error_code ignored;
        std::filesystem::current_path(previous_, ignored);
    }
    ScopedChdir(const ScopedChdir&) = delete;
    ScopedChdir& operator=(const ScopedChdir&) = delete;

  private:
    std::filesystem::path previous_;
};

inline std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void writeFile(const std::filesystem::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

// The file's lines without their line feeds (a last line without one counts too).
inline std::vector<std::string> readLines(const std::filesystem::path& path) {
    std::vector<std::string> lines;
    std::istringstream in(readFile(path));
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// The log's time stamp of a moment: month/day/two-digit year and the time of day, local time.
inline std::string logStamp(std::time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    char text[64];
    std::snprintf(text, sizeof text, "%d/%d/%02d %02d:%02d:%02d", local.tm_mon + 1, local.tm_mday,
                  local.tm_year - 100, local.tm_hour, local.tm_min, local.tm_sec);
    return text;
}

struct ProcessResult {
    std::string out;
    std::string err;
    int status = -1; // exit status, or -1 when the process did not exit normally
};

// Runs program with the arguments in directory, standard input from /dev/null; collects stdout and stderr.
inline ProcessResult runProcess(const std::string& program, const std::vector<std::string>& args,
                                const std::filesystem::path& directory) {
    int outPipe[2];
    int errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    std::vector<std::string> words{program};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    const pid_t child = fork();
    if (child < 0)
        throw std::runtime_error("fork failed");
    if (child == 0) {
        const int input = open("/dev/null", O_RDONLY);
        if (chdir(directory.c_str()) != 0 || input < 0 || dup2(input, 0) < 0 || dup2(outPipe[1], 1) < 0 ||
            dup2(errPipe[1], 2) < 0)
            _exit(127);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(outPipe[1]);
    close(errPipe[1]);

    ProcessResult result;
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int openPipes = 2;
    while (openPipes > 0) {
        if (poll(fds, 2, -1) < 0)
            break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            char buffer[4096];
            const ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
            if (got > 0) {
                sinks[i]->append(buffer, static_cast<size_t>(got));
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                --openPipes;
            }
        }
    }
    int status = 0;
    waitpid(child, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

} // namespace testsupport

#endif
