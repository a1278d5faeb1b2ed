// Stamping a copy of the program, writing files safely and the readable report of a block.
#include "builder.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>

#ifdef _WIN32
#include <windows.h>
#endif

namespace fs = std::filesystem;

namespace pack {

namespace {

const char *const useTheBuilt = "use the uninstall.exe the build made";

void ClearSecurityDirectory(Bytes &image, const PeFile &pe) {
    size_t entry = pe.optionalHeader + 96 + 8 * PE_SECURITY;
    std::fill(image.begin() + long(entry), image.begin() + long(entry + 8), 0);
}

} // namespace

StubState ReadStubState(const Bytes &image, StubInfo *info, std::string *error) {
    *info = StubInfo();
    PeFile pe;
    if (!ReadPe(image, &pe, error) || !ReadOffset(image, &info->offset, error)) {
        *error += std::string("; ") + useTheBuilt;
        return StubState::Unprepared;
    }
    info->programEnd = pe.sectionsEnd;
    info->blockEnd = image.size();
    auto [certificates, size] = pe.directories[PE_SECURITY];
    if (certificates || size) {
        if (certificates < pe.sectionsEnd || certificates > image.size() ||
            image.size() - certificates < size) {
            *error = "its security directory (" + std::to_string(certificates) + ", " +
                     std::to_string(size) +
                     " bytes) does not point at a certificate table after "
                     "its sections; sign it again after building, or build it again";
            return StubState::Unprepared;
        }
        info->signatureOffset = certificates;
        info->signatureSize = size;
        info->blockEnd = certificates;
    }
    if (info->offset == 0) {
        *error =
            "its offset field is 0, so it carries no uninstall data; " + std::string(useTheBuilt);
        return StubState::Unprepared;
    }
    // A block appended after signing starts where the certificate table ends; the signature
    // does not cover it.
    const size_t signedEnd = size_t(info->signatureOffset) + info->signatureSize;
    if (info->signatureSize && info->offset == signedEnd && signedEnd < image.size()) {
        info->blockEnd = image.size();
        return StubState::Stamped;
    }
    if (info->offset != pe.sectionsEnd) {
        *error = "it was changed by another tool after it was built: its offset field holds " +
                 std::to_string(info->offset) + ", but its sections end at byte " +
                 std::to_string(pe.sectionsEnd) +
                 ". Give the icon, version and publisher in the manifest instead of editing "
                 "the file, and build again from the uninstall.exe the build made";
        return StubState::Unprepared;
    }
    if (info->signatureSize && signedEnd != image.size()) {
        *error = std::to_string(image.size() - signedEnd) +
                 " bytes follow its certificate table, which neither the program nor the "
                 "signature reads; sign it again after building, or build it again";
        return StubState::Unprepared;
    }
    return info->blockEnd > info->programEnd ? StubState::Stamped : StubState::Fresh;
}

bool StampCopy(const Bytes &stub, const Bytes &block, const StampOptions &options, Bytes *out,
               std::string *error) {
    StubInfo info;
    StubState state = ReadStubState(stub, &info, error);
    if (state == StubState::Unprepared)
        return false;
    if (info.signatureSize && !options.stripSignature) {
        *error = "it is signed (" + std::to_string(info.signatureSize) +
                 " bytes of certificates), and building would break the signature: sign after "
                 "building, or give --strip-signature to remove it";
        return false;
    }
    if (state == StubState::Stamped && !options.restamp) {
        *error = "it is already stamped (a block starts at byte " + std::to_string(info.offset) +
                 "); give the unstamped uninstall.exe, or --restamp to replace its block";
        return false;
    }
    // The program alone: no signature, no block.
    *out = Bytes(stub.begin(), stub.begin() + long(info.programEnd));
    PeFile pe;
    ReadPe(*out, &pe, error);
    if (info.signatureSize)
        ClearSecurityDirectory(*out, pe);
    if (options.program) {
        std::vector<Resource> resources;
        Bytes rewritten;
        if (!ReadResources(*out, pe, &resources, error) ||
            !ApplyProgramInfo(resources, *options.program, options.icon, error) ||
            !ReplaceResources(*out, resources, &rewritten, error)) {
            *error = "its resources cannot be rewritten: " + *error + "; " + useTheBuilt;
            return false;
        }
        *out = rewritten;
        ReadPe(*out, &pe, error);
    }
    if (!Stamp(*out, block, error))
        return false;
    WritePeChecksum(*out, pe);
    return true;
}

bool FinalizeImage(Bytes &image, std::string *error) {
    PeFile pe;
    uint32_t offset = 0;
    if (!ReadPe(image, &pe, error) || !ReadOffset(image, &offset, error))
        return false;
    if (image.size() != pe.sectionsEnd) {
        *error = "it is stamped or signed: " + std::to_string(image.size() - pe.sectionsEnd) +
                 " bytes follow its sections, which setting the field would cut off";
        return false;
    }
    if (!WriteOffset(image, uint32_t(image.size()), error))
        return false;
    WritePeChecksum(image, pe);
    return true;
}

bool WriteFileAtomically(const std::string &path, const Bytes &data, std::string *error) {
    fs::path target = fs::u8path(path);
    fs::path folder = target.parent_path();
    std::random_device random;
    fs::path temporary;
    std::error_code code;
    std::ofstream out;
    for (int attempt = 0; attempt < 16 && !out.is_open(); attempt++) {
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, ".%08x.tmp", unsigned(random()));
        temporary = target;
        temporary += suffix;
        if (fs::exists(temporary, code))
            continue;
        out.open(temporary, std::ios::binary | std::ios::trunc);
    }
    if (!out.is_open()) {
        *error = "cannot create a file in " +
                 (folder.empty() ? std::string(".") : folder.u8string()) +
                 "; check that the folder exists and can be written";
        return false;
    }
    out.write(reinterpret_cast<const char *>(data.data()), std::streamsize(data.size()));
    out.close();
    bool written = !out.fail();
#ifdef _WIN32
    // std::filesystem::rename does not replace an existing file with every runtime.
    bool renamed = written && MoveFileExW(temporary.wstring().c_str(), target.wstring().c_str(),
                                          MOVEFILE_REPLACE_EXISTING) != 0;
#else
    bool renamed = false;
    if (written) {
        fs::rename(temporary, target, code);
        renamed = !code;
    }
#endif
    if (!renamed) {
        fs::remove(temporary, code);
        *error = written ? "cannot replace " + path + "; check that it is not open or read-only"
                         : "cannot write " + temporary.u8string() + "; check the free space";
        return false;
    }
    return true;
}

namespace {

std::string Shown(const std::string &bytes, int page) {
    std::string utf8, error, out = "\"";
    if (!DecodeText(bytes, page, &utf8, &error)) {
        // Show each byte that starts no character (one the code page leaves undefined, or
        // one outside a well-formed UTF-8 sequence) as \xNN.
        utf8.clear();
        for (size_t at = 0; at < bytes.size();) {
            std::string one;
            size_t size = 1;
            while (size <= 4 && at + size <= bytes.size() &&
                   !DecodeText(bytes.substr(at, size), page, &one, &error))
                size++;
            if (size <= 4 && at + size <= bytes.size()) {
                utf8 += one;
                at += size;
            } else {
                char hex[8];
                std::snprintf(hex, sizeof hex, "\\x%02X", (unsigned char)bytes[at]);
                utf8 += hex;
                at++;
            }
        }
    }
    for (char c : utf8) {
        if (c == '"')
            out += '\\';
        if ((unsigned char)c < 0x20) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", (unsigned char)c);
            out += hex;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

} // namespace

int ShownCodePage(const Block &block, int given) {
    if (given)
        return given;
    if (block.codePage && int(block.codePage) != CODEPAGE_UTF8 &&
        IsSupportedCodePage(int(block.codePage)))
        return int(block.codePage);
    return 1252;
}

std::string DescribeReading(const BlockReading &reading, int given) {
    static const char *const roots[] = {"HKCR", "HKCU", "HKLM", "HKU", "0x80000004", "HKCC"};
    std::string out;
    const Block &b = reading.block;
    const bool utf8 = (b.optionFlags & OPTION_UTF8) != 0;
    const int codePage = ShownCodePage(b, given);
    const int page = utf8 ? CODEPAGE_UTF8 : codePage;
    const bool fromRecord = !given && codePage == int(b.codePage);
    const std::string shownIn = "shown in code page " + std::to_string(codePage) +
                                (fromRecord ? ", as its code page record says" : " (--codepage)");
    if (utf8)
        out += "texts: UTF-8 (options flag 0x04)\n";
    else if (!reading.damage.empty() && !reading.hasOptions)
        out += "texts: not known, " + shownIn +
               ": the damage comes before the options record that would say whether they are "
               "UTF-8\n";
    else
        out += "texts: legacy, in the ANSI code page of the system that runs the program (no "
               "UTF-8 flag)" +
               (b.codePage ? ", written in code page " + std::to_string(b.codePage) +
                                 " by its code page record"
                           : std::string()) +
               "; " + shownIn + "\n";
    if (!utf8 && b.codePage && !IsSupportedCodePage(int(b.codePage)))
        out += "note: the code page record names " + std::to_string(b.codePage) +
               ", which vanish-pack cannot show; --codepage names another\n";
    // Texts a UTF-8 block holds that are not UTF-8, with where they are.
    std::vector<std::string> illFormed;
    auto show = [&](const std::string &where, const std::string &bytes) {
        std::string ignored, error;
        if (utf8 && !DecodeText(bytes, page, &ignored, &error))
            illFormed.push_back(where + ": " + error);
        return Shown(bytes, page);
    };
    out += "records:\n";
    for (size_t i = 0; i < reading.records.size(); i++) {
        const RecordInfo &r = reading.records[i];
        char line[160];
        std::snprintf(line, sizeof line, "  %2zu  at byte %-8zu tag 0x%04X %-16s %u bytes\n", i + 1,
                      r.offset, unsigned(r.tag), RecordName(r.tag), unsigned(r.length));
        out += line;
    }
    // One table as before languages; several, each under its language.
    std::vector<const std::vector<std::string> *> tables = {&b.texts};
    for (const auto &table : b.furtherTexts)
        tables.push_back(&table);
    const auto &roles = Roles();
    for (size_t t = 0; t < tables.size(); t++) {
        const std::vector<std::string> &texts = *tables[t];
        std::string which;
        if (tables.size() == 1) {
            out += "texts (" + std::to_string(texts.size()) + "):\n";
        } else {
            which = "table " + std::to_string(t) + " ";
            std::string language = "no language";
            if (t < b.languages.size()) {
                char id[8];
                std::snprintf(id, sizeof id, "0x%04X", unsigned(b.languages[t]));
                const ShippedLanguage *shipped = FindShippedLanguage(b.languages[t]);
                language = "language " +
                           (shipped ? std::string(shipped->tag) + ", " + id + ", " + shipped->name
                                    : std::string(id));
            }
            out += "texts, table " + std::to_string(t) + ", " + language +
                   (t == 0 ? ", the default" : "") + " (" + std::to_string(texts.size()) + "):\n";
        }
        for (size_t n = 0; n < texts.size(); n++) {
            char head[48];
            std::snprintf(head, sizeof head, "  %2zu %-18s ", n,
                          n < roles.size() ? roles[n].name : "(unused)");
            out += head + show(which + "text " + std::to_string(n), texts[n]) + "\n";
        }
    }
    out += "files (" + std::to_string(b.files.size()) + "; removed from the last to the first):\n";
    for (size_t i = 0; i < b.files.size(); i++) {
        const FileEntry &e = b.files[i];
        std::string flags;
        static const char *const names[] = {"shared", "font", "comServer", "checkInUse"};
        for (int bit = 0; bit < 4; bit++)
            if (e.flags & (1 << bit))
                flags += std::string(flags.empty() ? "" : ", ") + names[bit];
        std::string at = "file entry " + std::to_string(i);
        out += "  [" + std::to_string(i) + "] folder " + show(at + "'s folder", e.folder) +
               " name " + show(at + "'s name", e.name) +
               (e.name.empty() ? " (the folder itself)" : "") +
               (flags.empty() ? "" : " flags: " + flags) + "\n";
    }
    out += "folders (" + std::to_string(b.folders.size()) + "):\n";
    for (size_t i = 0; i < b.folders.size(); i++) {
        const FolderEntry &e = b.folders[i];
        std::string at = "folder entry " + std::to_string(i);
        out += "  [" + std::to_string(i) + "] folder " + show(at + "'s folder", e.folder) +
               (e.file.empty() ? "" : " file " + show(at + "'s file", e.file)) + " levels " +
               std::to_string(e.levels) + "\n";
    }
    auto rootName = [](uint32_t root) {
        return root >= 0x80000000u && root <= 0x80000005u ? std::string(roots[root - 0x80000000u])
                                                          : Hex(root);
    };
    out += "registry (" + std::to_string(b.registry.size()) + "):\n";
    for (size_t i = 0; i < b.registry.size(); i++) {
        const RegistryEntry &e = b.registry[i];
        std::string root = rootName(e.root);
        size_t last = e.path.rfind('\\');
        bool value = last != std::string::npos && last > 0 && e.path[last - 1] == '\\';
        out += "  [" + std::to_string(i) + "] " + root + " " +
               show("registry entry " + std::to_string(i) + "'s path", e.path) +
               (value ? " (a value)" : " (a key and its subkeys)") + "\n";
    }
    if (!b.emptyKeys.empty())
        out += "registry keys removed only when empty (" + std::to_string(b.emptyKeys.size()) +
               "; each with no subkeys and no values left, then up to levels of its parents):\n";
    for (size_t i = 0; i < b.emptyKeys.size(); i++) {
        const EmptyKeyEntry &e = b.emptyKeys[i];
        out += "  [" + std::to_string(i) + "] " + rootName(e.root) + " " +
               show("empty key entry " + std::to_string(i) + "'s path", e.path) + " levels " +
               std::to_string(e.levels) + "\n";
    }
    auto yes = [&](uint32_t bit) { return b.optionFlags & bit ? "yes" : "no"; };
    out += std::string("options: wait ") + yes(OPTION_WAIT) + ", keepTheme " +
           yes(OPTION_KEEPTHEME) + ", restartDelete " + yes(OPTION_RESTART_DELETE) +
           ", folder tokens " + yes(OPTION_FOLDER_TOKENS) + ", silentShared " +
           (b.optionFlags & OPTION_SILENT_SHARED ? "remove" : "keep") + ", program " +
           (b.program.empty() ? "none" : show("the program", b.program)) + ", document " +
           (b.document.empty() ? "none" : show("the document", b.document)) + "\n";
    for (const auto &note : reading.notes)
        out += "note: " + note + "\n";
    // Entries the program skips on every system: a token it cannot read.
    auto token = [&](const std::string &where, const std::string &folder) {
        std::string why;
        TokenForm form = ReadFolderToken(folder, &why);
        if ((b.optionFlags & OPTION_FOLDER_TOKENS) &&
            (form == TokenForm::Malformed || form == TokenForm::Unknown))
            out += "note: " + where + ": " + why + "; the program skips the entry\n";
    };
    for (size_t i = 0; i < b.files.size(); i++)
        token("file entry " + std::to_string(i) + "'s folder", b.files[i].folder);
    for (size_t i = 0; i < b.folders.size(); i++)
        token("folder entry " + std::to_string(i) + "'s folder", b.folders[i].folder);
    for (const auto &where : illFormed)
        out += "note: " + where +
               ", though the block is marked UTF-8; bytes outside a UTF-8 character are shown "
               "as \\xNN\n";
    return out;
}

} // namespace pack
