// scan: the names it writes, read as UTF-8 or refused by name.
#include "builder.h"
#include "support.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace host_support;

namespace {

// A name as the file system holds it, bytes and all.
void Touch(const fs::path &path) {
    WriteText(path.string(), "x");
}

TEST_F(Scratch, ScanRefusesANameThatIsNotUtf8ByItsPath) {
    fs::create_directories(dir_ / "tree/sub");
    Touch(dir_ / "tree/a.txt");
    Touch(dir_ / "tree/sub/caf\xE9.txt"); // café in code page 1252
    fs::current_path(dir_);
    struct Case {
        const char *name;
        const char *arguments;
        int code;
        const char *err; // the one line on the error output
    } cases[] = {
        {"refused by name", "scan tree --name Acme -o m.json", 1,
         "vanish-pack: tree/sub/caf\\xE9.txt: the name is not UTF-8 (ill-formed UTF-8 at byte 3 "
         "(0xE9)), and a manifest holds UTF-8 only; rename it, or give --name-codepage with the "
         "code page such names are written in\n"},
        {"read in the code page given", "scan tree --name Acme -o m.json --name-codepage 1252", 0,
         "vanish-pack: scan: tree/sub/caf\\xE9.txt: not UTF-8, read in code page 1252 as "
         "\"café.txt\"\n"},
        {"a code page without the byte", "scan tree --name Acme -o m.json --name-codepage 1255", 0,
         "vanish-pack: scan: tree/sub/caf\\xE9.txt: not UTF-8, read in code page 1255 as "
         "\"caf\xD7\x99.txt\"\n"}, // 0xE9 is yod in Hebrew
        {"UTF-8 is no code page for names", "scan tree --name Acme -o m.json --name-codepage utf-8", 1,
         "vanish-pack: --name-codepage: 65001 is not a single-byte code page vanish-pack reads; "
         "give one of 437, 850, 1250"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(Path("m.json"));
        ToolRun run = Tool(c.arguments);
        EXPECT_EQ(c.code, run.code);
        EXPECT_EQ(0u, run.err.find(c.err)) << run.err;
        EXPECT_EQ(1u, Lines(run.err)) << run.err;
        EXPECT_EQ(c.code == 0, fs::exists(Path("m.json"))) << "a refused scan writes nothing";
        if (c.code == 0) {
            pack::ManifestResult result = Read(ReadText(Path("m.json")));
            EXPECT_EQ(0u, result.diagnostics.size()) << Diagnostics(result);
        }
    }

    // A folder's name is refused the same way, and nothing reaches the output.
    fs::rename(dir_ / "tree/sub", dir_ / "tree/d\xFCr");
    ToolRun run = Tool("scan tree");
    EXPECT_EQ(1, run.code);
    EXPECT_EQ("", run.out);
    EXPECT_NE(std::string::npos, run.err.find("tree/d\\xFCr: the name is not UTF-8")) << run.err;
    run = Tool("scan tree --name-codepage 1252");
    EXPECT_EQ(0, run.code) << run.err;
    EXPECT_NE(std::string::npos, run.out.find(R"({"folder": ".\\dür", "name": "café.txt"})"))
        << run.out;
    // So is a name given on the command line.
    run = Tool("scan tree --name-codepage 1252 --name \"$(printf 'Caf\\351')\"");
    EXPECT_EQ(1, run.code);
    EXPECT_EQ("vanish-pack: --name: not UTF-8 (ill-formed UTF-8 at byte 3 (0xE9))\n", run.err);
}

TEST_F(Scratch, ScanWritesEveryNameAsAJsonStringThatReadsBack) {
    const std::string odd[] = {"quote\"d.txt", "back`tick.txt", "tab\there.txt", "new\nline.txt",
                               "機能 😀.txt"};
    for (const std::string &name : odd)
        Touch(dir_ / name);
    fs::current_path(dir_);
    ToolRun run = Tool("scan . --name Acme -o m.json");
    ASSERT_EQ(0, run.code) << run.err;
    pack::ManifestResult result = Read(ReadText(Path("m.json")));
    ASSERT_EQ(0u, result.Errors()) << Diagnostics(result);
    std::vector<std::string> listed;
    for (const pack::FileEntry &e : result.block.files)
        listed.push_back(e.name);
    std::vector<std::string> expected(std::begin(odd), std::end(odd));
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, listed);
}

} // namespace
