// vanish-pack: builds an uninstaller from a JSON manifest, and checks, inspects and scans.
// Exit codes: 0 done, 1 input refused, 2 usage.
#include "builder.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#ifdef _WIN32
#include <windows.h>
#endif

namespace fs = std::filesystem;

namespace {

constexpr int DONE = 0, REFUSED = 1, USAGE = 2;

int Fail(const std::string &message) {
    std::fprintf(stderr, "vanish-pack: %s\n", message.c_str());
    return REFUSED;
}

// Paths arrive as UTF-8 (converted from the wide command line on Windows).
bool ReadFile(const std::string &path, pack::Bytes *data, std::string *error) {
    std::error_code code;
    if (fs::is_directory(fs::u8path(path), code)) {
        *error = "cannot read " + path + ": it is a folder; give a file";
        return false;
    }
    std::ifstream in(fs::u8path(path), std::ios::binary);
    if (!in) {
        *error = "cannot open " + path + "; check the path";
        return false;
    }
    data->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.bad()) {
        *error = "cannot read " + path;
        return false;
    }
    return true;
}

std::string Thousands(size_t value) {
    std::string digits = std::to_string(value), out;
    for (size_t i = 0; i < digits.size(); i++) {
        if (i && (digits.size() - i) % 3 == 0)
            out += ',';
        out += digits[i];
    }
    return out;
}

std::string Count(size_t n, const char *one, const char *many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// --codepage: "utf-8" (any case, the hyphen optional) or a code page's number.
bool ParseCodePage(std::string text, int *page) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    if (text == "utf-8" || text == "utf8") {
        *page = pack::CODEPAGE_UTF8;
        return true;
    }
    if (text.empty() || text.size() > 6 ||
        !std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); }))
        return false;
    *page = std::stoi(text);
    return true;
}

// The file name of a path given as UTF-8.
std::string FileName(const std::string &path) {
    return fs::u8path(path).filename().u8string();
}

// Reads and checks a manifest and the icon it names (relative to the manifest's folder);
// prints every error and warning. False when it is refused.
bool LoadManifest(const std::string &path, int codePage, bool strict,
                  const std::string &uninstaller, pack::ManifestResult *result,
                  std::vector<pack::IconImage> *icon) {
    pack::Bytes text;
    std::string error;
    if (!ReadFile(path, &text, &error)) {
        Fail(error);
        return false;
    }
    *result = pack::ReadManifest(std::string(text.begin(), text.end()), codePage, uninstaller);
    if (!result->Errors() && !result->program.icon.empty()) {
        fs::path iconPath = fs::u8path(path).parent_path() / fs::u8path(result->program.icon);
        pack::Bytes ico;
        if (!ReadFile(iconPath.u8string(), &ico, &error) ||
            !pack::ReadIconFile(ico, icon, &error)) {
            pack::Diagnostic d;
            d.path = "icon";
            d.message = iconPath.u8string() + ": " + error;
            result->diagnostics.push_back(d);
        }
    }
    for (const auto &d : result->diagnostics)
        std::fprintf(stderr, "vanish-pack: %s\n", pack::FormatDiagnostic(path, d).c_str());
    if (result->Errors())
        return false;
    if (strict && result->Warnings()) {
        Fail(path + ": " + Count(result->Warnings(), "warning", "warnings") +
             " with --strict; fix them or leave out --strict");
        return false;
    }
    return true;
}

struct BuildChoices {
    bool restamp = false, strict = false, stripSignature = false;
};

int Build(const std::string &manifest, const std::string &stubPath, const std::string &outPath,
          int codePage, const BuildChoices &choices) {
    std::error_code code;
    for (const std::string *input : {&manifest, &stubPath})
        if (fs::equivalent(fs::u8path(*input), fs::u8path(outPath), code))
            return Fail(outPath + ": the output would replace the input " + *input +
                        "; write it elsewhere");
    pack::ManifestResult result;
    std::vector<pack::IconImage> icon;
    // The shipped uninstaller has the output's name in the install folder.
    if (!LoadManifest(manifest, codePage, choices.strict, FileName(outPath), &result, &icon))
        return REFUSED;
    pack::Bytes stub, image;
    std::string error;
    if (!ReadFile(stubPath, &stub, &error))
        return Fail(error);
    pack::Bytes block = pack::EncodeBlock(result.block);
    pack::StampOptions options;
    options.restamp = choices.restamp;
    options.stripSignature = choices.stripSignature;
    options.program = &result.program;
    options.icon = result.program.icon.empty() ? nullptr : &icon;
    if (!pack::StampCopy(stub, block, options, &image, &error))
        return Fail(stubPath + ": " + error);
    if (!pack::WriteFileAtomically(outPath, image, &error))
        return Fail(outPath + ": " + error);
    const pack::Block &b = result.block;
    std::string version =
        result.program.hasVersion ? ", version " + result.program.versionText : "";
    std::string languages = b.furtherTexts.empty()
                                ? ""
                                : " in " + std::to_string(1 + b.furtherTexts.size()) + " languages";
    std::printf("vanish-pack: built %s: %s%s, %s, %s, %s; runs as %s%s; block %s bytes, file %s "
                "bytes\n",
                outPath.c_str(), Count(b.texts.size(), "text", "texts").c_str(), languages.c_str(),
                Count(b.files.size(), "file entry", "file entries").c_str(),
                Count(b.folders.size(), "folder entry", "folder entries").c_str(),
                Count(b.registry.size(), "registry entry", "registry entries").c_str(),
                pack::ExecutionLevelName(result.program.level), version.c_str(),
                Thousands(block.size()).c_str(), Thousands(image.size()).c_str());
    return DONE;
}

int Lint(const std::string &manifest, int codePage, bool strict, const std::string &uninstaller) {
    pack::ManifestResult result;
    std::vector<pack::IconImage> icon;
    if (!LoadManifest(manifest, codePage, strict, uninstaller, &result, &icon))
        return REFUSED;
    if (result.diagnostics.empty())
        std::printf("vanish-pack: %s: no errors, no warnings\n", manifest.c_str());
    else
        std::printf("vanish-pack: %s: no errors, %s\n", manifest.c_str(),
                    Count(result.Warnings(), "warning", "warnings").c_str());
    return DONE;
}

// The lines of inspect about the program's file itself: its execution level, version
// information, signature and layout.
std::string DescribeProgram(const pack::Bytes &image, const pack::StubInfo &info,
                            const pack::BlockReading *reading) {
    pack::ProgramInfo program;
    std::vector<std::string> notes;
    std::string out;
    if (pack::ReadProgramInfo(image, &program, &notes))
        out +=
            std::string("program: runs as \"") + pack::ExecutionLevelName(program.level) + "\"\n";
    if (program.hasVersion)
        out += "version information: " + program.name + " " + program.versionText +
               (program.publisher.empty() ? "" : ", " + program.publisher) + "\n";
    if (info.signatureSize) {
        out += "signature: " + Thousands(info.signatureSize) + " bytes of certificates at byte " +
               Thousands(info.signatureOffset);
        if (!reading)
            out += ", signing the program alone\n";
        else if (reading->end <= info.signatureOffset)
            out += "; the block lies inside what it signs\n";
        else
            out += "; the block lies outside what it signs (appended after signing), so a "
                   "changed block goes unnoticed and a strict check of the signature fails: "
                   "build, then sign\n";
    }
    for (const std::string &fault : pack::CheckPeLayout(image))
        notes.push_back(fault);
    for (const std::string &note : notes)
        out += "note: " + note + "\n";
    return out;
}

// codePage: the one --codepage gives, or 0 for the block's own (its record, else 1252).
int Inspect(const std::string &path, int codePage, bool asJson) {
    if (codePage && !pack::IsSupportedCodePage(codePage))
        return Fail("code page " + std::to_string(codePage) + " is not supported; use one of " +
                    pack::SupportedCodePages());
    pack::Bytes image;
    std::string error;
    if (!ReadFile(path, &image, &error))
        return Fail(error);
    pack::StubInfo info;
    pack::StubState state = pack::ReadStubState(image, &info, &error);
    if (state == pack::StubState::Unprepared)
        return Fail(path + ": " + error);
    const uint32_t offset = info.offset;
    if (state == pack::StubState::Fresh) {
        if (!asJson)
            std::printf("%s", DescribeProgram(image, info, nullptr).c_str());
        return Fail(path +
                    ": not stamped: " + (info.signatureSize ? "a signed stub, " : std::string()) +
                    "its offset field holds the end of its sections and no block follows");
    }
    // The block ends where the certificate table starts, or with the file.
    pack::Bytes stamped(image.begin(), image.begin() + long(info.blockEnd));
    pack::BlockReading reading;
    if (!pack::ReadBlock(stamped, offset, &reading)) {
        if (!asJson)
            std::printf("%s: block at byte %u, read up to its damage:\n%s", path.c_str(), offset,
                        pack::DescribeReading(reading, codePage).c_str());
        return Fail(path + ": damaged: " + reading.damage + "; the program shows message " +
                    std::to_string(reading.programCode) + " and removes nothing");
    }
    if (asJson) {
        std::string json;
        std::vector<std::string> notes = reading.notes;
        pack::ProgramInfo program;
        pack::ReadProgramInfo(image, &program, &notes);
        const int page = pack::ShownCodePage(reading.block, codePage);
        if (!pack::WriteManifest(reading.block, page, &json, &error, &notes, &program))
            return Fail(path + ": " + error);
        if (!(reading.block.optionFlags & pack::OPTION_UTF8)) {
            notes.push_back("a legacy block (no UTF-8 flag), read in code page " +
                            std::to_string(page) + "; build this manifest with --codepage " +
                            std::to_string(page) + " to get the same bytes");
            if (reading.block.codePage != uint32_t(page))
                notes.push_back("its code page record names " +
                                (reading.block.codePage ? std::to_string(reading.block.codePage)
                                                        : std::string("nothing (it has none)")) +
                                "; a build with --codepage " + std::to_string(page) +
                                " writes one that names " + std::to_string(page));
        }
        for (const auto &note : notes)
            std::fprintf(stderr, "vanish-pack: note: %s\n", note.c_str());
        if (pack::EncodeBlock(reading.block) !=
            pack::Bytes(image.begin() + offset, image.begin() + long(reading.end)))
            std::fprintf(stderr,
                         "vanish-pack: note: the block is laid out otherwise than vanish-pack "
                         "writes it; a build from this manifest gives the same entries, not the "
                         "same bytes\n");
        std::fwrite(json.data(), 1, json.size(), stdout);
        return DONE;
    }
    std::printf("%s: %s bytes, block at byte %u, %s bytes up to its end record\n%s", path.c_str(),
                Thousands(image.size()).c_str(), offset, Thousands(reading.end - offset).c_str(),
                pack::DescribeReading(reading, codePage).c_str());
    // A signing tool pads the file to 8 bytes before its certificate table.
    bool padding = info.signatureSize && info.blockEnd - reading.end < 8 &&
                   std::all_of(image.begin() + long(reading.end),
                               image.begin() + long(info.blockEnd), [](uint8_t b) { return !b; });
    if (reading.end < info.blockEnd && !padding)
        std::printf("note: %s bytes follow the end record; the program never reads them\n",
                    Thousands(info.blockEnd - reading.end).c_str());
    std::printf("%s", DescribeProgram(image, info, &reading).c_str());
    return DONE;
}

// One tree of a scan and the folder it is installed to.
struct Tree {
    std::string folder, under;
};

int Scan(const std::vector<Tree> &trees, const std::string &outPath, const std::string &name,
         pack::ScanOptions options) {
    std::vector<pack::FileEntry> entries;
    std::vector<std::string> notes;
    std::string error, utf8;
    // The manifest is UTF-8 throughout, the application's name included.
    if (!pack::DecodeText(name, pack::CODEPAGE_UTF8, &utf8, &error))
        return Fail("--name: not UTF-8 (" + error + ")");
    for (const Tree &tree : trees) {
        std::vector<pack::FileEntry> more;
        options.under = tree.under;
        if (!pack::ScanTree(tree.folder, options, &more, &notes, &error))
            return Fail(error);
        entries.insert(entries.end(), more.begin(), more.end());
    }
    // The summary: every name read in a code page and every flag inferred, so that the
    // author can veto it.
    for (const std::string &note : notes)
        std::fprintf(stderr, "vanish-pack: scan: %s\n", note.c_str());
    if (std::any_of(entries.begin(), entries.end(),
                    [](const pack::FileEntry &e) { return e.flags != 0; }))
        std::fprintf(stderr, "vanish-pack: scan: the flags above come from what the files are; "
                             "take out any that is wrong, or scan with --no-infer\n");
    auto quote = [](const std::string &text) { return nlohmann::json(text).dump(); };
    static const std::pair<uint8_t, const char *> flagNames[] = {
        {pack::FILE_SHARED, "shared"},
        {pack::FILE_FONT, "font"},
        {pack::FILE_COMSERVER, "comServer"},
        {pack::FILE_CHECKINUSE, "checkInUse"}};
    std::string text = "{\n";
    if (!name.empty())
        text += "  \"name\": " + quote(name) + ",\n";
    text += "  \"files\": [";
    for (size_t i = 0; i < entries.size(); i++) {
        std::string flags;
        for (const auto &[bit, flagName] : flagNames)
            if (entries[i].flags & bit)
                flags += std::string(flags.empty() ? "" : ", ") + quote(flagName);
        text += std::string(i ? "," : "") + "\n    {\"folder\": " + quote(entries[i].folder) +
                ", \"name\": " + quote(entries[i].name) +
                (flags.empty() ? "" : ", \"flags\": [" + flags + "]") + "}";
    }
    text += entries.empty() ? "]\n}\n" : "\n  ]\n}\n";
    if (outPath.empty() || outPath == "-") {
        std::fwrite(text.data(), 1, text.size(), stdout);
        return DONE;
    }
    if (!pack::WriteFileAtomically(outPath, pack::Bytes(text.begin(), text.end()), &error))
        return Fail(outPath + ": " + error);
    std::printf("vanish-pack: wrote %s: %s\n", outPath.c_str(),
                Count(entries.size(), "file entry", "file entries").c_str());
    return DONE;
}

// Pairs each --as with the tree named before it (one given before every tree goes with the
// first); false with error for a tree given two.
bool PairTrees(const CLI::App *scan, const CLI::Option *folderOption, const CLI::Option *asOption,
               const std::vector<std::string> &folders, const std::vector<std::string> &unders,
               std::vector<Tree> *trees, std::string *error) {
    size_t nextFolder = 0, nextUnder = 0;
    std::vector<bool> given; // whether each tree has its --as
    std::string pending;     // an --as before the first tree
    bool havePending = false;
    for (const CLI::Option *option : scan->parse_order()) {
        if (option == folderOption && nextFolder < folders.size()) {
            trees->push_back({folders[nextFolder++], havePending ? pending : "."});
            given.push_back(havePending);
            havePending = false;
        } else if (option == asOption && nextUnder < unders.size()) {
            const std::string &under = unders[nextUnder++];
            if ((trees->empty() && havePending) || (!trees->empty() && given.back())) {
                *error = "--as \"" + under + "\": " +
                         (trees->empty()
                              ? std::string("a second --as before the first tree")
                              : "the tree " + trees->back().folder + " has its --as already") +
                         "; give one --as after each tree";
                return false;
            }
            if (trees->empty()) {
                pending = under;
                havePending = true;
            } else {
                trees->back().under = under;
                given.back() = true;
            }
        }
    }
    return true;
}

int Finalize(const std::string &path) {
    pack::Bytes image;
    std::string error;
    if (!ReadFile(path, &image, &error))
        return Fail(error);
    if (!pack::FinalizeImage(image, &error))
        return Fail(path + ": " + error);
    if (!pack::WriteFileAtomically(path, image, &error))
        return Fail(path + ": " + error);
    return DONE;
}

std::vector<std::string> Arguments(int argc, char **argv) {
    std::vector<std::string> args;
#ifdef _WIN32
    // The wide command line, so that any file name arrives whole, as UTF-8.
    (void)argv;
    int count = 0;
    LPWSTR *wide = CommandLineToArgvW(GetCommandLineW(), &count);
    for (int i = 0; i < count; i++) {
        int size = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
        std::string one(size_t(size > 0 ? size : 1), '\0');
        WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, &one[0], size, nullptr, nullptr);
        one.resize(one.size() - 1);
        args.push_back(one);
    }
    LocalFree(wide);
    (void)argc;
#else
    args.assign(argv, argv + argc);
#endif
    return args;
}

} // namespace

int main(int argc, char **argv) {
#ifdef _WIN32
    SetConsoleOutputCP(CP_UTF8);
#endif
    CLI::App app{"vanish-pack: builds a Vanish uninstaller from a JSON manifest.\n"
                 "Exit codes: 0 done, 1 input refused, 2 usage.",
                 "vanish-pack"};
    app.require_subcommand(1);
    app.footer("See docs/manifest.md for the manifest and docs/format.md for the block.");
    std::string codePageText, nameCodePageText;
    std::string manifest, stub, out, exe, name;
    bool strict = false, asJson = false;
    BuildChoices choices;
    std::string uninstaller = "uninstall.exe";
    // build and lint write UTF-8 or a legacy code page; inspect takes the flag of the block
    // for UTF-8 and needs a code page only for a legacy block.
    const CLI::Validator writtenIn(
        [](std::string &text) {
            int page;
            return ParseCodePage(text, &page)
                       ? std::string()
                       : "expected utf-8 or a code page number, found \"" + text + "\"";
        },
        "UTF-8|N");
    const CLI::Validator shownIn(
        [](std::string &text) {
            int page;
            if (!ParseCodePage(text, &page))
                return "expected a code page number, found \"" + text + "\"";
            if (page == pack::CODEPAGE_UTF8)
                return std::string("a UTF-8 block is read as UTF-8 by its flag; give the code "
                                   "page of a legacy block");
            return std::string();
        },
        "N");
    auto codePageOption = [&](CLI::App *command, bool writes) {
        command
            ->add_option(
                "--codepage", codePageText,
                writes ? "what the texts and paths are written in: utf-8 (the default), read "
                         "the same on every system; or a code page for a legacy block, read "
                         "right only where the system's ANSI code page is that one (" +
                             pack::SupportedCodePages() + ")"
                       : "the code page a legacy block (one without the UTF-8 flag) is shown in "
                         "(default: the one its code page record names, else 1252; " +
                             pack::SupportedCodePages() + "); a UTF-8 block is read as UTF-8")
            ->check(writes ? writtenIn : shownIn);
    };

    CLI::App *build =
        app.add_subcommand("build", "Check a manifest and write a stamped copy of uninstall.exe");
    build
        ->add_option("MANIFEST", manifest,
                     "the JSON manifest (UTF-8, or UTF-16 with its byte order mark)")
        ->required();
    build->add_option("--stub", stub, "the unstamped uninstall.exe to copy")->required();
    build->add_option("-o,--output", out, "the uninstaller to write")->required();
    build->add_flag("--restamp", choices.restamp, "replace the block of an already stamped stub");
    build->add_flag("--strip-signature", choices.stripSignature,
                    "remove the signature of a signed stub or uninstaller (sign after building)");
    build->add_flag("--strict", choices.strict, "refuse the manifest when it has warnings");
    codePageOption(build, true);

    CLI::App *inspect =
        app.add_subcommand("inspect", "Show the uninstall data inside a stamped uninstaller");
    inspect->add_option("EXE", exe, "the stamped uninstaller")->required();
    inspect->add_flag("--json", asJson, "print it as a manifest that builds the same block");
    codePageOption(inspect, false);

    CLI::App *lint = app.add_subcommand("lint", "Check a manifest without building");
    lint->add_option("MANIFEST", manifest,
                     "the JSON manifest (UTF-8, or UTF-16 with its byte order mark)")
        ->required();
    lint->add_flag("--strict", strict, "count warnings as errors (exit 1)");
    const char *const ownFile =
        "the uninstaller's file name in the install folder (default uninstall.exe)";
    lint->add_option("--stub", uninstaller, ownFile);
    codePageOption(lint, true);

    CLI::App *scan = app.add_subcommand(
        "scan", "Write the file entries of a staged install folder as a manifest");
    std::vector<std::string> scanFolders, scanUnders;
    CLI::Option *folderOption =
        scan->add_option("DIR", scanFolders,
                         "a staged tree; give several, each followed by its --as, to list them "
                         "in one manifest")
            ->required();
    scan->add_option("-o,--output", out, "the manifest to write (default: standard output)");
    scan->add_option("--name", name, "the application's name for the manifest");
    scan->add_option("--stub", uninstaller,
                     std::string(ownFile) + ", left out of the list: the program removes itself");
    scan->add_option("--name-codepage", nameCodePageText,
                     "read a file name that is not UTF-8 in this single-byte code page (" +
                         pack::SupportedCodePages() +
                         ") instead of refusing it; names on Windows are always Unicode")
        ->check(writtenIn);
    // One value each time, so that each --as stays with the tree before it.
    CLI::Option *asOption =
        scan->add_option("--as", scanUnders,
                         "the folder the tree before it is installed to, written before every "
                         "path: \".\" (the default, the install folder), \".\\sub\", a full "
                         "path, or one that begins with a folder token such as "
                         "{programfiles}\\Acme (see docs/manifest.md)")
            ->allow_extra_args(false)
            ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    bool noInfer = false, confirmShared = false;
    scan->add_flag("--no-infer", noInfer,
                   "write no flags: by default .ttf, .otf, .fon and .ttc files are fonts and "
                   "program files that export DllUnregisterServer COM servers");
    scan->add_flag("--shared", confirmShared,
                   "mark the DLLs of a tree installed under {system} or {commonfiles} shared");

    // The build's post-link step; not for authors.
    CLI::App *finalize = app.add_subcommand("finalize", "");
    finalize->group("");
    finalize->add_option("EXE", exe)->required();

    std::vector<std::string> args = Arguments(argc, argv);
    static const char *const commands[] = {"build", "inspect", "lint", "scan", "finalize"};
    if (args.size() > 1 && args[1][0] != '-' &&
        std::none_of(std::begin(commands), std::end(commands),
                     [&](const char *c) { return args[1] == c; })) {
        std::fprintf(
            stderr,
            "vanish-pack: unknown command '%s'; the commands are build, inspect, lint and scan "
            "(see 'vanish-pack --help')\n",
            args[1].c_str());
        return USAGE;
    }
    // Name an unknown option before CLI11 reports a missing argument instead.
    for (CLI::App *sub : {build, inspect, lint, scan})
        if (args.size() > 1 && args[1] == sub->get_name())
            for (size_t i = 2; i < args.size(); i++) {
                std::string name = args[i].substr(0, args[i].find('='));
                if (name.size() > 1 && name[0] == '-' && name != "-h" && name != "--help" &&
                    !sub->get_option_no_throw(name)) {
                    std::fprintf(
                        stderr,
                        "vanish-pack: unknown option '%s' for %s; see 'vanish-pack %s --help'\n",
                        name.c_str(), sub->get_name().c_str(), sub->get_name().c_str());
                    return USAGE;
                }
            }
    std::vector<std::string> reversed(args.rbegin(), args.rend() - 1);
    try {
        app.parse(reversed);
    } catch (const CLI::CallForHelp &e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp &e) {
        return app.exit(e);
    } catch (const CLI::ParseError &e) {
        std::string what = e.what();
        std::string command = "vanish-pack";
        for (CLI::App *sub : {build, inspect, lint, scan})
            if (sub->parsed())
                command += " " + sub->get_name();
        std::fprintf(stderr, "vanish-pack: %s; see '%s --help'\n", what.c_str(), command.c_str());
        return USAGE;
    }
    // Without --codepage, build and lint write UTF-8; inspect shows a legacy block in the code
    // page its record names, else 1252.
    int codePage = inspect->parsed() ? 0 : pack::CODEPAGE_UTF8;
    if (!codePageText.empty())
        ParseCodePage(codePageText, &codePage);
    if (build->parsed())
        return Build(manifest, stub, out, codePage, choices);
    if (inspect->parsed())
        return Inspect(exe, codePage, asJson);
    if (lint->parsed())
        return Lint(manifest, codePage, strict, FileName(uninstaller));
    if (scan->parsed()) {
        pack::ScanOptions options;
        options.uninstaller = FileName(uninstaller);
        options.inferFlags = !noInfer;
        options.confirmShared = confirmShared;
        if (!nameCodePageText.empty())
            ParseCodePage(nameCodePageText, &options.nameCodePage);
        std::vector<Tree> trees;
        std::string error;
        if (!PairTrees(scan, folderOption, asOption, scanFolders, scanUnders, &trees, &error)) {
            std::fprintf(stderr, "vanish-pack: %s; see 'vanish-pack scan --help'\n", error.c_str());
            return USAGE;
        }
        return Scan(trees, out, name, options);
    }
    return Finalize(exe);
}
