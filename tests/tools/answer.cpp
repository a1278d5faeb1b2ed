// answer PROGRAM [ARGUMENTS] -- ANSWER...: runs a program, answers each box it shows with
// the next answer (ok, cancel, yes, no, retry, yestoall, notoall, esc), prints every box
// and the exit code. The demo uses it to click through the uninstaller's dialogs.
#include "support.h"

#include <cstdio>
#include <cstring>

using namespace testing_support;

static Action Parse(const char *word) {
    struct Name {
        const char *name;
        int button;
    } names[] = {{"ok", IDOK},       {"cancel", IDCANCEL}, {"yes", IDYES},   {"no", IDNO},
                 {"retry", IDRETRY}, {"yestoall", 1001},   {"notoall", 1002}};
    for (const Name &n : names)
        if (!std::strcmp(word, n.name))
            return Action::Press(n.button);
    if (!std::strcmp(word, "esc"))
        return Action::Key(Action::Escape);
    std::fprintf(stderr, "answer: unknown answer %s\n", word);
    std::exit(2);
}

int main(int argc, char **argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: answer PROGRAM [ARGUMENTS] -- ANSWER...\n");
        return 2;
    }
    std::string arguments;
    std::vector<Action> script;
    int i = 2;
    for (; i < argc && std::strcmp(argv[i], "--"); i++)
        arguments += (arguments.empty() ? "" : " ") + std::string(argv[i]);
    for (i++; i < argc; i++)
        script.push_back(Parse(argv[i]));
    RunResult run = RunAndAnswer(argv[1], arguments, script, 60000);
    if (!run.started) {
        std::printf("could not start %s\n", argv[1]);
        return 1;
    }
    for (const Box &box : run.boxes) {
        std::printf("  box \"%s\": %s\n", box.caption.c_str(), box.text.c_str());
        std::fflush(stdout);
    }
    if (!run.finished) {
        std::printf("  the program did not end in time\n");
        return 1;
    }
    std::printf("  exit code %d\n", (int)run.exitCode);
    return 0;
}
