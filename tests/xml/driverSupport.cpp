#include "driverSupport.h"

#include <sys/inotify.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace xmltest {

namespace {

std::string readAll(int fd) {
    std::string text;
    std::array<char, 4096> buffer{};
    for (;;) {
        ssize_t got = ::read(fd, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return text;
        text.append(buffer.data(), static_cast<std::size_t>(got));
    }
}

std::string shellQuote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

} // namespace

std::string fixturePath(const std::string& name) {
    return std::string(XML_FIXTURES) + "/" + name;
}

Workspace::Workspace() {
    std::string pattern = ::testing::TempDir() + "xml_road_XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (mkdtemp(name.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    dir_ = name.data();
    // TMPDIR outside the working directory, so that the watch on it sees only what lands there.
    tmp_ = dir_ + ".tmp";
    fs::create_directory(tmp_);
}

Workspace::~Workspace() {
    if (std::getenv("XML_KEEP_SCRATCH") != nullptr)
        return;
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
    fs::remove_all(tmp_, ignored);
}

void Workspace::fixture(const std::string& name, const std::string& as) {
    fs::path target = file(as.empty() ? name : as);
    fs::create_directories(target.parent_path());
    fs::copy_file(fixturePath(name), target, fs::copy_options::overwrite_existing);
}

void Workspace::write(const std::string& name, const std::string& text) const {
    fs::path target = file(name);
    fs::create_directories(target.parent_path());
    std::ofstream out(target, std::ios::binary);
    out << text;
}

std::string Workspace::read(const std::string& name) const {
    std::ifstream in(file(name), std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

bool Workspace::exists(const std::string& name) const {
    return fs::exists(file(name));
}

std::vector<std::string> Workspace::tmpEntries() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(tmp_))
        names.push_back(entry.path().filename().string());
    return names;
}

RunResult Workspace::run(const std::vector<std::string>& steps, std::optional<std::string> support,
                         std::optional<std::string> tmpDir) const {
    RunResult result;
    int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watch < 0 || inotify_add_watch(watch, dir_.c_str(), IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO) < 0)
        throw std::runtime_error("inotify failed");
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0)
        throw std::runtime_error("pipe failed");
    pid_t child = fork();
    if (child == 0) {
        dup2(pipeEnds[1], 1);
        dup2(pipeEnds[1], 2);
        close(pipeEnds[0]);
        close(pipeEnds[1]);
        if (chdir(dir_.c_str()) != 0)
            _exit(126);
        setenv("TMPDIR", tmpDir.value_or(tmp_).c_str(), 1);
        if (support)
            setenv("ZELKOR_SUPPORT_FILES", support->c_str(), 1);
        else
            unsetenv("ZELKOR_SUPPORT_FILES");
        std::vector<char*> argv;
        std::string driver = XML_DRIVER;
        argv.push_back(driver.data());
        std::vector<std::string> copies(steps);
        for (std::string& step : copies)
            argv.push_back(step.data());
        argv.push_back(nullptr);
        execv(driver.c_str(), argv.data());
        _exit(127);
    }
    close(pipeEnds[1]);
    result.output = readAll(pipeEnds[0]);
    close(pipeEnds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    alignas(inotify_event) char events[64 * 1024];
    for (;;) {
        ssize_t got = ::read(watch, events, sizeof events);
        if (got <= 0)
            break;
        for (char* at = events; at < events + got;) {
            auto* event = reinterpret_cast<inotify_event*>(at);
            std::string name = event->len > 0 ? event->name : "";
            if (event->mask & IN_CREATE)
                result.created.push_back(name);
            if (event->mask & IN_DELETE)
                result.deleted.push_back(name);
            if (event->mask & IN_MOVED_FROM)
                result.movedFrom.push_back(name);
            if (event->mask & IN_MOVED_TO)
                result.movedTo.push_back(name);
            at += sizeof(inotify_event) + event->len;
        }
    }
    close(watch);
    return result;
}

std::vector<long> stepStatuses(const std::string& output, const std::string& step) {
    // The library's own texts may end without a line feed, so a result can follow them on the same line.
    std::vector<long> statuses;
    const std::string prefix = step + " status=";
    for (std::size_t at = output.find(prefix); at != std::string::npos; at = output.find(prefix, at + 1)) {
        if (at > 0 && std::isalnum(static_cast<unsigned char>(output[at - 1])))
            continue;
        statuses.push_back(std::strtol(output.c_str() + at + prefix.size(), nullptr, 10));
    }
    return statuses;
}

long stepStatus(const std::string& output, const std::string& step, int occurrence) {
    std::vector<long> statuses = stepStatuses(output, step);
    return occurrence < static_cast<int>(statuses.size()) ? statuses[static_cast<std::size_t>(occurrence)] : -1;
}

std::vector<uint8_t> bytesOf(const std::string& text) {
    return std::vector<uint8_t>(text.begin(), text.end());
}

std::vector<WalkedPage> walkImage(const std::vector<uint8_t>& image) {
    std::vector<WalkedPage> pages;
    const std::vector<uint8_t> header = {0xF9, 0x04, 0x10, 0x08, 0xFF, 0xFF, 0x00, 0x01};
    if (image.size() < header.size() || !std::equal(header.begin(), header.end(), image.begin())) {
        ADD_FAILURE() << "region header is not F9 04 10 08 FF FF 00 01";
        return pages;
    }
    std::size_t at = header.size();
    while (at + 8 <= image.size()) {
        const unsigned length = image[at + 4] | (image[at + 5] << 8);
        if (length == 0 || length == 0xFFFF)
            break;
        const uint16_t id = static_cast<uint16_t>(image[at + 6] | (image[at + 7] << 8));
        EXPECT_EQ(image[at], 0xF9) << "flags of page " << id;
        EXPECT_EQ(image[at + 2], 0xFF);
        EXPECT_EQ(image[at + 3], 0xFF);
        if (length < 4 || at + 4 + length > image.size()) {
            ADD_FAILURE() << "page " << id << " does not fit";
            return pages;
        }
        uint8_t sum = 0;
        for (std::size_t i = at + 4; i < at + 4 + length; ++i)
            sum = static_cast<uint8_t>(sum + image[i]);
        EXPECT_EQ(image[at + 1], sum) << "checksum of page " << id;
        pages.push_back({id, std::vector<uint8_t>(image.begin() + static_cast<long>(at + 8),
                                                  image.begin() + static_cast<long>(at + 4 + length))});
        at += 4 + length;
    }
    EXPECT_EQ(at, image.size()) << "bytes after the last page";
    return pages;
}

bool schemaValid(const std::string& document, const std::string& schema) {
    std::string command = "xmllint --noout --nonet --schema " + shellQuote(schema) + " " + shellQuote(document) +
                          " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

std::string canonicalForm(const std::string& document) {
    std::string command = "xmllint --nonet --c14n " + shellQuote(document) + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return "<xmllint did not run>";
    std::string text = readAll(fileno(pipe));
    pclose(pipe);
    return text;
}

} // namespace xmltest
