#include "support.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

namespace host_support {

std::string ReadText(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteText(const std::string &path, const std::string &text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

std::string FencedAfter(const std::string &file, const std::string &marker) {
    std::string text = ReadText(file);
    size_t at = text.find(marker);
    if (at == std::string::npos)
        return "";
    size_t open = text.find("```", at);
    size_t start = text.find('\n', open) + 1;
    size_t close = text.find("\n```", start);
    return text.substr(start, close - start + 1);
}

Bytes ParseListing(const std::string &listing, std::string *error) {
    Bytes bytes;
    std::istringstream lines(listing);
    std::string line;
    while (std::getline(lines, line)) {
        line = line.substr(0, line.find(';'));
        size_t colon = line.find(':');
        if (colon == std::string::npos)
            continue;
        if (std::stoul(line.substr(0, colon), nullptr, 16) != bytes.size()) {
            *error = "offset " + line.substr(0, colon) + " does not follow the bytes before it";
            return {};
        }
        std::istringstream hex(line.substr(colon + 1));
        std::string pair;
        while (hex >> pair)
            bytes.push_back(uint8_t(std::stoul(pair, nullptr, 16)));
    }
    return bytes;
}

pack::ManifestResult Read(const std::string &json, int page) {
    return pack::ReadManifest(json, page);
}

std::string Diagnostics(const pack::ManifestResult &result) {
    std::string all;
    for (const auto &d : result.diagnostics)
        all += pack::FormatDiagnostic("", d) + "\n";
    return all;
}

ToolRun Tool(const std::string &arguments) {
    std::string out = fs::temp_directory_path() / ("vanish-pack-out-" + std::to_string(::getpid()));
    std::string err = out + ".err";
    int status = std::system((kTool + " " + arguments + " >" + out + " 2>" + err).c_str());
    ToolRun run{WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadText(out), ReadText(err)};
    fs::remove(out);
    fs::remove(err);
    return run;
}

ToolRun ToolDirect(const std::vector<std::string> &arguments, int tag) {
    std::string out = fs::temp_directory_path() /
                      ("vanish-pack-out-" + std::to_string(::getpid()) + "-" + std::to_string(tag));
    std::string err = out + ".err";
    std::vector<char *> argv{const_cast<char *>(kTool.c_str())};
    for (const std::string &argument : arguments)
        argv.push_back(const_cast<char *>(argument.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = 0;
    int status = -1;
    if (posix_spawn(&pid, kTool.c_str(), &actions, nullptr, argv.data(), environ) != 0 ||
        waitpid(pid, &status, 0) != pid)
        status = -1;
    posix_spawn_file_actions_destroy(&actions);
    ToolRun run{status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadText(out),
                ReadText(err)};
    fs::remove(out);
    fs::remove(err);
    return run;
}

size_t Lines(const std::string &text) {
    return size_t(std::count(text.begin(), text.end(), '\n'));
}

void Scratch::SetUp() {
    const auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = fs::temp_directory_path() /
           ("vanish-pack-test-" + std::to_string(::getpid()) + "-" + info->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
}

void Scratch::TearDown() {
    fs::current_path(fs::temp_directory_path());
    fs::remove_all(dir_);
}

} // namespace host_support
