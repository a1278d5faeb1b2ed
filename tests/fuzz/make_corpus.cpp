// Writes the fuzz corpus: well-formed blocks made with the block writer, each loading
// successfully. The files are kept in tests/fuzz/corpus; a host test checks that they are
// still what this program writes.
//   fuzz-corpus FOLDER       writes FOLDER/<name>.block
//   fuzz-corpus --check FOLDER   fails when a file differs
#include "pack.h"

#include <cstdio>
#include <cstring>
#include <string>

using namespace pack;

namespace {

// Message N reads "code N: %s", so a shown message names the code that caused it.
std::vector<std::string> CodeTexts(int count) {
    std::vector<std::string> texts = {"Fuzz caption"};
    for (int n = 1; n < count; n++)
        texts.push_back("code " + std::to_string(n) + ": %s");
    return texts;
}

Record End() {
    return MakeRecord(TAG_END, {});
}

struct CorpusBlock {
    const char *name;
    Bytes bytes;
};

std::vector<CorpusBlock> Corpus() {
    std::vector<CorpusBlock> corpus;

    Block typical;
    typical.texts = CodeTexts(16);
    typical.files = {{".", "app.exe", FILE_CHECKINUSE},
                     {".\\bin", "core.dll", FILE_SHARED | FILE_COMSERVER},
                     {"C:\\Windows\\Fonts", "face.ttf", FILE_FONT},
                     {"C:\\Program Files\\Common Files\\Vendor", "shared.dll", FILE_SHARED},
                     {".\\data", "", 0}};
    typical.folders = {{2, "C:\\Program Files\\Vendor\\App", "settings.ini"}, {0, ".\\cache", ""}};
    typical.registry = {{0x80000002, "Software\\Vendor\\App"},
                        {0x80000001, "Software\\Vendor\\App\\\\LastRun"},
                        {0x80000000, ".vnd"}};
    typical.optionFlags = OPTION_WAIT;
    typical.program = "cleanup.exe /all";
    typical.document = "http://example.test/goodbye";
    corpus.push_back({"typical", EncodeBlock(typical)});

    Block minimal;
    minimal.texts = CodeTexts(9);
    corpus.push_back({"minimal", EncodeBlock(minimal)});

    // Many small entries spread over several records of each kind.
    std::vector<Record> many = {MakeRecord(TAG_STRINGS, StringTablePayload(CodeTexts(16)))};
    for (int r = 0; r < 3; r++) {
        std::vector<FileEntry> files;
        std::vector<FolderEntry> folders;
        std::vector<RegistryEntry> keys;
        for (int i = 0; i < 8; i++) {
            std::string n = std::to_string(r) + std::to_string(i);
            files.push_back({".\\f" + n, "file" + n + ".txt", uint8_t(i & 0x0F)});
            folders.push_back({uint8_t(i), ".\\d" + n, i % 2 ? "x" + n : ""});
            keys.push_back({0x80000001u + i % 3, "Software\\K" + n});
        }
        many.push_back(MakeRecord(TAG_FILES, FileEntriesPayload(files)));
        many.push_back(MakeRecord(TAG_FOLDERS, FolderEntriesPayload(folders)));
        many.push_back(MakeRecord(TAG_REGISTRY, RegistryEntriesPayload(keys)));
    }
    many.push_back(MakeRecord(TAG_OPTIONS, OptionsPayload(OPTION_KEEPTHEME, "", "readme.txt")));
    many.push_back(End());
    corpus.push_back({"many-entries", EncodeRecords(many)});

    // Texts at the scratch buffer's limit, one past it (dropped), and the longest registry
    // path that fits.
    std::string folder300(300, 'F'), name218(218, 'n'), name219(219, 'o');
    corpus.push_back(
        {"long-texts",
         EncodeRecords({MakeRecord(TAG_STRINGS, StringTablePayload(CodeTexts(16))),
                        MakeRecord(TAG_FILES, FileEntriesPayload({{folder300, name218, 0},
                                                                  {folder300, name219, 0},
                                                                  {".", "after.txt", 0}})),
                        MakeRecord(TAG_FOLDERS, FolderEntriesPayload({{255, folder300, name218}})),
                        MakeRecord(TAG_REGISTRY,
                                   RegistryEntriesPayload({{0x80000002, std::string(519, 'k')},
                                                           {0x80000002, std::string(520, 'l')}})),
                        MakeRecord(TAG_OPTIONS, OptionsPayload(0, "p.exe", "d.txt")), End()})});

    // The stream rules: several tables, unknown tags, padded payloads, empty records,
    // replacements, and an end record with a payload.
    Record padded = MakeRecord(TAG_FILES, FileEntriesPayload({{"C:\\P", "padded.txt", 0}}));
    padded.payload.insert(padded.payload.end(), 9, 0xEE);
    Record endWithPayload = MakeRecord(TAG_END, {1, 2, 3, 4, 5});
    corpus.push_back(
        {"stream-rules",
         EncodeRecords(
             {MakeRecord(TAG_OPTIONS, OptionsPayload(1, "first.exe", "")),
              MakeRecord(TAG_STRINGS, StringTablesPayload({CodeTexts(9), {"second"}, {"x", "y"}})),
              MakeRecord(0x1238, {1, 2, 3}), MakeRecord(0x1239, Bytes(40, 0x39)), padded,
              MakeRecord(TAG_FILES, {}), MakeRecord(TAG_FOLDERS, {0, 0, 0, 0}),
              MakeRecord(TAG_REGISTRY, {0, 0, 0, 0}), MakeRecord(TAG_OPTIONS, {}),
              MakeRecord(TAG_STRINGS, {1, 0, 0, 0}),
              MakeRecord(TAG_FILES, FileEntriesPayload({{"", "", 0}})),
              MakeRecord(TAG_STRINGS, StringTablePayload(CodeTexts(16))),
              MakeRecord(TAG_OPTIONS, OptionsPayload(2, "", "")), endWithPayload})});
    return corpus;
}

} // namespace

int main(int argc, char **argv) {
    bool check = argc == 3 && std::strcmp(argv[1], "--check") == 0;
    if (argc != 2 && !check) {
        std::fprintf(stderr, "usage: fuzz-corpus [--check] FOLDER\n");
        return 2;
    }
    std::string folder = argv[argc - 1];
    int status = 0;
    for (const CorpusBlock &block : Corpus()) {
        std::string path = folder + "/" + block.name + ".block", error;
        if (check) {
            Bytes stored;
            if (!ReadWholeFile(path, &stored, &error) || stored != block.bytes) {
                std::fprintf(stderr, "%s differs from what the writer makes\n", path.c_str());
                status = 1;
            }
        } else if (!WriteWholeFile(path, block.bytes, &error)) {
            std::fprintf(stderr, "%s: %s\n", path.c_str(), error.c_str());
            status = 1;
        }
    }
    return status;
}
