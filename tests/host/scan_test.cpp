// scan: the names it writes, read as UTF-8 or refused by name.
#include "builder.h"
#include "support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>

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
        {"UTF-8 is no code page for names", "scan tree --name Acme -o m.json --name-codepage utf-8",
         1,
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

// A 32-bit program file with one section that holds its export directory: a DLL or an EXE
// exporting the names given. Laid out as a linker lays one out, small.
Bytes ProgramFile(bool dll, const std::vector<std::string> &exports) {
    constexpr uint32_t section = 0x1000, raw = 0x200;
    const size_t n = exports.size();
    Bytes edata(40, 0);
    pack::SetU32(edata, 20, uint32_t(n));                    // functions
    pack::SetU32(edata, 24, uint32_t(n));                    // names
    pack::SetU32(edata, 28, section + 40);                   // their addresses
    pack::SetU32(edata, 32, section + 40 + 4 * uint32_t(n)); // the names' addresses
    pack::SetU32(edata, 36, section + 40 + 8 * uint32_t(n)); // their ordinals
    edata.resize(40 + 10 * n);
    for (size_t i = 0; i < n; i++) {
        pack::SetU32(edata, 40 + 4 * i, section); // every function at the section's start
        pack::SetU32(edata, 40 + 4 * n + 4 * i, section + uint32_t(edata.size()));
        edata[40 + 8 * n + 2 * i] = uint8_t(i);
        edata.insert(edata.end(), exports[i].begin(), exports[i].end());
        edata.push_back(0);
    }
    Bytes image(raw, 0);
    image[0] = 'M';
    image[1] = 'Z';
    pack::SetU32(image, 0x3C, 0x40);
    pack::SetU32(image, 0x40, 0x4550);
    image[0x44] = 0x4C; // i386
    image[0x45] = 0x01;
    image[0x46] = 1;                 // one section
    image[0x54] = 0xE0;              // the optional header's size
    image[0x56] = 0x02;              // an executable ...
    image[0x57] = dll ? 0x21 : 0x01; // ... for 32 bits, and a DLL
    const size_t opt = 0x58;
    image[opt] = 0x0B;
    image[opt + 1] = 0x01;
    pack::SetU32(image, opt + 28, 0x10000000);       // image base
    pack::SetU32(image, opt + 32, 0x1000);           // section alignment
    pack::SetU32(image, opt + 36, raw);              // file alignment
    pack::SetU32(image, opt + 56, section + 0x1000); // image size
    pack::SetU32(image, opt + 60, raw);              // headers
    pack::SetU32(image, opt + 92, 16);               // data directories
    pack::SetU32(image, opt + 96, n ? section : 0);  // the export directory
    pack::SetU32(image, opt + 100, n ? uint32_t(edata.size()) : 0);
    const size_t table = opt + 0xE0;
    std::copy_n(".edata", 6, image.begin() + long(table));
    pack::SetU32(image, table + 8, uint32_t(edata.size()));
    pack::SetU32(image, table + 12, section);
    pack::SetU32(image, table + 16, raw);
    pack::SetU32(image, table + 20, raw);
    pack::SetU32(image, table + 36, 0x40000040);
    image.insert(image.end(), edata.begin(), edata.end());
    image.resize(2 * raw);
    return image;
}

void WriteBytes(const fs::path &path, const Bytes &bytes) {
    WriteText(path.string(), std::string(bytes.begin(), bytes.end()));
}

TEST(Scan, ThePeReaderFindsTheExportsOfAProgramFile) {
    for (const std::vector<std::string> &names :
         {std::vector<std::string>{},
          {"DllUnregisterServer"},
          {"DllCanUnloadNow", "DllGetClassObject", "DllRegisterServer", "DllUnregisterServer"}}) {
        SCOPED_TRACE(names.size());
        Bytes image = ProgramFile(true, names);
        pack::PeFile pe;
        std::string error;
        ASSERT_TRUE(pack::ReadPe(image, &pe, &error)) << error;
        EXPECT_EQ(0x2000, pe.characteristics & 0x2000);
        std::vector<std::string> read;
        ASSERT_TRUE(pack::ReadPeExports(image, pe, &read, &error)) << error;
        EXPECT_EQ(names, read);
    }
    // A table of names that points outside the file is refused, not read past its end.
    Bytes image = ProgramFile(true, {"DllUnregisterServer"});
    pack::SetU32(image, 0x200 + 32, 0x7FFF0000);
    pack::PeFile pe;
    std::string error;
    ASSERT_TRUE(pack::ReadPe(image, &pe, &error)) << error;
    std::vector<std::string> read;
    EXPECT_FALSE(pack::ReadPeExports(image, pe, &read, &error));
    EXPECT_NE(std::string::npos, error.find("lies outside the file")) << error;
}

TEST_F(Scratch, ScanInfersFlagsFromWhatEachFileIsAndSaysSo) {
    WriteBytes(dir_ / "server.dll",
               ProgramFile(true, {"DllRegisterServer", "DllUnregisterServer"}));
    WriteBytes(dir_ / "plain.DLL", ProgramFile(true, {"Compress"}));
    WriteBytes(dir_ / "tool.exe", ProgramFile(false, {}));
    WriteText(Path("readme.txt"), "MZ, but no program");
    for (const char *font : {"a.ttf", "B.OTF", "c.fon", "d.ttc", "e.ttf.bak"})
        WriteText(Path(font), "font bytes do not matter");
    const uint8_t COM = pack::FILE_COMSERVER, FONT = pack::FILE_FONT, SHARED = pack::FILE_SHARED;
    struct Case {
        const char *name;
        const char *under;
        bool infer, confirm;
        std::vector<std::pair<std::string, uint8_t>> flags; // by name, in the scan's order
        std::vector<std::string> notes;
    } cases[] = {
        {"in the install folder",
         ".",
         true,
         false,
         {{"B.OTF", FONT},
          {"a.ttf", FONT},
          {"c.fon", FONT},
          {"d.ttc", FONT},
          {"e.ttf.bak", 0},
          {"plain.DLL", 0},
          {"readme.txt", 0},
          {"server.dll", COM},
          {"tool.exe", 0}},
         {".\\B.OTF: font (a .otf file)", ".\\a.ttf: font (a .ttf file)",
          ".\\c.fon: font (a .fon file)", ".\\d.ttc: font (a .ttc file)",
          ".\\server.dll: comServer (it exports DllUnregisterServer)"}},
        {"in {system}, unconfirmed",
         "{system}",
         true,
         false,
         {{"B.OTF", FONT},
          {"a.ttf", FONT},
          {"c.fon", FONT},
          {"d.ttc", FONT},
          {"e.ttf.bak", 0},
          {"plain.DLL", 0},
          {"readme.txt", 0},
          {"server.dll", COM},
          {"tool.exe", 0}},
         {"{system}: no entry of its own: a folder the program protects on every system, which "
          "the program never removes",
          "{system}\\B.OTF: font (a .otf file)", "{system}\\a.ttf: font (a .ttf file)",
          "{system}\\c.fon: font (a .fon file)", "{system}\\d.ttc: font (a .ttc file)",
          "{system}\\plain.DLL: not marked shared, though a DLL in {system}, where other "
          "programs may count on it; scan with --shared to mark such DLLs",
          "{system}\\server.dll: comServer (it exports DllUnregisterServer)",
          "{system}\\server.dll: not marked shared, though a DLL in {system}, where other "
          "programs may count on it; scan with --shared to mark such DLLs"}},
        {"in {commonfiles}, confirmed",
         "{CommonFiles}\\Acme",
         true,
         true,
         {{"", 0},
          {"B.OTF", FONT},
          {"a.ttf", FONT},
          {"c.fon", FONT},
          {"d.ttc", FONT},
          {"e.ttf.bak", 0},
          {"plain.DLL", SHARED},
          {"readme.txt", 0},
          {"server.dll", COM | SHARED},
          {"tool.exe", 0}},
         {"{CommonFiles}\\Acme\\B.OTF: font (a .otf file)",
          "{CommonFiles}\\Acme\\a.ttf: font (a .ttf file)",
          "{CommonFiles}\\Acme\\c.fon: font (a .fon file)",
          "{CommonFiles}\\Acme\\d.ttc: font (a .ttc file)",
          "{CommonFiles}\\Acme\\plain.DLL: shared (a DLL in {commonfiles}, as --shared says)",
          "{CommonFiles}\\Acme\\server.dll: comServer (it exports DllUnregisterServer)",
          "{CommonFiles}\\Acme\\server.dll: shared (a DLL in {commonfiles}, as --shared says)"}},
        {"in Program Files, confirmed: not a shared place",
         "{programfiles}\\Acme",
         true,
         true,
         {{"", 0},
          {"B.OTF", FONT},
          {"a.ttf", FONT},
          {"c.fon", FONT},
          {"d.ttc", FONT},
          {"e.ttf.bak", 0},
          {"plain.DLL", 0},
          {"readme.txt", 0},
          {"server.dll", COM},
          {"tool.exe", 0}},
         {"{programfiles}\\Acme\\B.OTF: font (a .otf file)",
          "{programfiles}\\Acme\\a.ttf: font (a .ttf file)",
          "{programfiles}\\Acme\\c.fon: font (a .fon file)",
          "{programfiles}\\Acme\\d.ttc: font (a .ttc file)",
          "{programfiles}\\Acme\\server.dll: comServer (it exports DllUnregisterServer)"}},
        {"not inferred",
         "{system}",
         false,
         true,
         {{"B.OTF", 0},
          {"a.ttf", 0},
          {"c.fon", 0},
          {"d.ttc", 0},
          {"e.ttf.bak", 0},
          {"plain.DLL", 0},
          {"readme.txt", 0},
          {"server.dll", 0},
          {"tool.exe", 0}},
         {"{system}: no entry of its own: a folder the program protects on every system, which "
          "the program never removes"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        pack::ScanOptions options;
        options.under = c.under;
        options.inferFlags = c.infer;
        options.confirmShared = c.confirm;
        std::vector<pack::FileEntry> entries;
        std::vector<std::string> notes;
        std::string error;
        ASSERT_TRUE(pack::ScanTree(dir_.string(), options, &entries, &notes, &error)) << error;
        std::vector<std::pair<std::string, uint8_t>> flags;
        for (const pack::FileEntry &e : entries)
            flags.push_back({e.name, e.flags});
        EXPECT_EQ(c.flags, flags);
        EXPECT_EQ(c.notes, notes);
    }
}

TEST_F(Scratch, ScanListsSeveralTreesInOneManifestThatLintsClean) {
    for (const char *folder : {"app/bin", "common", "fonts", "system"})
        fs::create_directories(dir_ / folder);
    WriteText(Path("app/notes.exe"), "x");
    WriteText(Path("app/uninstall.exe"), "the uninstaller, left out");
    WriteText(Path("app/bin/helper.dll"), "x");
    WriteText(Path("common/acmeui.txt"), "x");
    WriteText(Path("fonts/Acme Notes.ttf"), "x");
    WriteBytes(dir_ / "system/acmecom.dll", ProgramFile(true, {"DllUnregisterServer"}));
    fs::current_path(dir_);
    ToolRun run = Tool("scan app common --as '{commonfiles}\\Acme' fonts --as '{fonts}' system "
                       "--as '{system}' --shared --name Acme -o m.json");
    ASSERT_EQ(0, run.code) << run.err;
    EXPECT_EQ("vanish-pack: scan: {fonts}: no entry of its own: a folder the program protects on "
              "every system, which the program never removes\n"
              "vanish-pack: scan: {fonts}\\Acme Notes.ttf: font (a .ttf file)\n"
              "vanish-pack: scan: {system}: no entry of its own: a folder the program protects on "
              "every system, which the program never removes\n"
              "vanish-pack: scan: {system}\\acmecom.dll: comServer (it exports "
              "DllUnregisterServer)\n"
              "vanish-pack: scan: {system}\\acmecom.dll: shared (a DLL in {system}, as --shared "
              "says)\n"
              "vanish-pack: scan: the flags above come from what the files are; take out any that "
              "is wrong, or scan with --no-infer\n",
              run.err);
    EXPECT_EQ(R"({
  "name": "Acme",
  "files": [
    {"folder": ".", "name": "notes.exe"},
    {"folder": ".\\bin", "name": ""},
    {"folder": ".\\bin", "name": "helper.dll"},
    {"folder": "{commonfiles}\\Acme", "name": ""},
    {"folder": "{commonfiles}\\Acme", "name": "acmeui.txt"},
    {"folder": "{fonts}", "name": "Acme Notes.ttf", "flags": ["font"]},
    {"folder": "{system}", "name": "acmecom.dll", "flags": ["shared", "comServer"]}
  ]
}
)",
              ReadText(Path("m.json")));
    pack::ManifestResult result = Read(ReadText(Path("m.json")));
    EXPECT_EQ(0u, result.diagnostics.size()) << Diagnostics(result);

    // An --as before every tree goes with the first; a tree takes one --as.
    run = Tool("scan --as '{programfiles}\\Acme' app --name Acme");
    ASSERT_EQ(0, run.code) << run.err;
    EXPECT_NE(std::string::npos,
              run.out.find(R"({"folder": "{programfiles}\\Acme\\bin", "name": ""})"))
        << run.out;
    for (const char *twice : {"scan app --as . --as '{programfiles}\\Acme'",
                              "scan --as . --as '{programfiles}\\Acme' app"}) {
        SCOPED_TRACE(twice);
        run = Tool(twice);
        EXPECT_EQ(2, run.code);
        EXPECT_EQ(1u, Lines(run.err)) << run.err;
        EXPECT_NE(std::string::npos, run.err.find("give one --as after each tree")) << run.err;
        EXPECT_EQ("", run.out);
    }
}

} // namespace
