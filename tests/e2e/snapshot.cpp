#include "snapshot.h"

#include <cstdio>

namespace snapshot {

namespace {

const DWORD kShownAttributes =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

std::string AttributeText(DWORD attributes) {
    std::string text;
    if (attributes & FILE_ATTRIBUTE_READONLY)
        text += ", read-only";
    if (attributes & FILE_ATTRIBUTE_HIDDEN)
        text += ", hidden";
    if (attributes & FILE_ATTRIBUTE_SYSTEM)
        text += ", system";
    return text;
}

bool Printable(const std::string &bytes) {
    for (unsigned char c : bytes)
        if (c < 32 && c != '\r' && c != '\n' && c != '\t')
            return false;
    return true;
}

std::string Quoted(const std::string &text) {
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '\r')
            quoted += "\\r";
        else if (c == '\n')
            quoted += "\\n";
        else if (c == '\t')
            quoted += "\\t";
        else
            quoted += c;
    }
    return quoted + "\"";
}

// Small text files are shown as they are; anything else by its size and a hash.
std::string ContentText(const std::string &path, DWORD size) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return ", unreadable";
    std::string bytes;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got)
        bytes.append(buffer, got);
    CloseHandle(file);
    if (bytes.size() != size)
        return ", read " + std::to_string(bytes.size()) + " bytes";
    if (bytes.size() <= 160 && Printable(bytes))
        return " " + Quoted(bytes);
    unsigned hash = 2166136261u; // FNV-1a
    for (unsigned char c : bytes)
        hash = (hash ^ c) * 16777619u;
    char text[32];
    std::snprintf(text, sizeof text, ", hash %08x", hash);
    return text;
}

std::string FileDescription(const std::string &path, const WIN32_FIND_DATAA &data) {
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        return "folder" + AttributeText(data.dwFileAttributes & kShownAttributes);
    return "file " + std::to_string(data.nFileSizeLow) + " bytes" +
           AttributeText(data.dwFileAttributes & kShownAttributes) +
           ContentText(path, data.nFileSizeLow);
}

bool FindOne(const std::string &path, WIN32_FIND_DATAA *data) {
    // FindFirstFile cannot look at a drive root; its attributes are enough there.
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return false;
    ZeroMemory(data, sizeof *data);
    data->dwFileAttributes = attributes;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        HANDLE find = FindFirstFileA(path.c_str(), data);
        if (find == INVALID_HANDLE_VALUE)
            return false;
        FindClose(find);
    }
    return true;
}

void AddTree(std::map<std::string, std::string> &items, const std::string &folder) {
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return;
    do {
        std::string name = data.cFileName;
        if (name == "." || name == "..")
            continue;
        std::string path = folder + "\\" + name;
        items[path] = FileDescription(path, data);
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            AddTree(items, path);
    } while (FindNextFileA(find, &data));
    FindClose(find);
}

std::string ValueDescription(DWORD type, const std::vector<BYTE> &data) {
    if ((type == REG_SZ || type == REG_EXPAND_SZ) && !data.empty() && data.back() == 0) {
        std::string text((const char *)data.data(), data.size() - 1);
        if (text.find('\0') == std::string::npos)
            return TextDescription(text) + (type == REG_EXPAND_SZ ? " (expand)" : "");
    }
    if (type == REG_DWORD && data.size() == 4) {
        DWORD value;
        CopyMemory(&value, data.data(), 4);
        return DwordDescription(value);
    }
    std::string text = "value type " + std::to_string(type) + ":";
    char hex[4];
    for (BYTE b : data) {
        std::snprintf(hex, sizeof hex, " %02x", b);
        text += hex;
    }
    return text;
}

void AddValues(std::map<std::string, std::string> &items, HKEY key, const std::string &item) {
    for (DWORD i = 0;; i++) {
        char name[16384];
        DWORD nameSize = sizeof name;
        DWORD type = 0, size = 0;
        LONG result = RegEnumValueA(key, i, name, &nameSize, nullptr, &type, nullptr, &size);
        if (result != ERROR_SUCCESS)
            break;
        std::vector<BYTE> data(size);
        nameSize = sizeof name;
        if (RegEnumValueA(key, i, name, &nameSize, nullptr, &type, data.data(), &size) !=
            ERROR_SUCCESS)
            break;
        data.resize(size);
        items[item + "\\\\" + std::string(name, nameSize)] = ValueDescription(type, data);
    }
}

void AddKeyTree(std::map<std::string, std::string> &items, HKEY key, const std::string &item) {
    items[item] = "key";
    AddValues(items, key, item);
    for (DWORD i = 0;; i++) {
        char name[1024];
        DWORD size = sizeof name;
        if (RegEnumKeyExA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        HKEY child;
        if (RegOpenKeyExA(key, name, 0, KEY_READ, &child) != ERROR_SUCCESS)
            continue;
        AddKeyTree(items, child, item + "\\" + name);
        RegCloseKey(child);
    }
}

bool Below(const std::string &path, const std::string &top) {
    return path.size() > top.size() && path.compare(0, top.size(), top) == 0 &&
           path[top.size()] == '\\';
}

} // namespace

void Scope::Tree(const std::string &folder) {
    items_.push_back({Item::Tree, nullptr, folder, ""});
}
void Scope::Path(const std::string &path) {
    items_.push_back({Item::Path, nullptr, path, ""});
}
void Scope::KeyTree(HKEY root, const std::string &key) {
    items_.push_back({Item::KeyTree, root, key, ""});
}
void Scope::Key(HKEY root, const std::string &key) {
    items_.push_back({Item::Key, root, key, ""});
}
void Scope::Value(HKEY root, const std::string &key, const std::string &name) {
    items_.push_back({Item::Value, root, key, name});
}

Snapshot Snapshot::Take(const Scope &scope) {
    Snapshot snapshot;
    auto &items = snapshot.items_;
    for (const Scope::Item &item : scope.items_) {
        switch (item.kind) {
        case Scope::Item::Tree:
        case Scope::Item::Path: {
            WIN32_FIND_DATAA data;
            if (!FindOne(item.path, &data))
                break;
            items[item.path] = FileDescription(item.path, data);
            if (item.kind == Scope::Item::Tree &&
                (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                AddTree(items, item.path);
            break;
        }
        case Scope::Item::KeyTree:
        case Scope::Item::Key: {
            HKEY key;
            if (RegOpenKeyExA(item.root, item.path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
                break;
            if (item.kind == Scope::Item::KeyTree)
                AddKeyTree(items, key, KeyItem(item.root, item.path));
            else
                items[KeyItem(item.root, item.path)] = "key";
            RegCloseKey(key);
            break;
        }
        case Scope::Item::Value: {
            HKEY key;
            if (RegOpenKeyExA(item.root, item.path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
                break;
            DWORD type = 0, size = 0;
            if (RegQueryValueExA(key, item.name.c_str(), nullptr, &type, nullptr, &size) ==
                ERROR_SUCCESS) {
                std::vector<BYTE> data(size);
                if (RegQueryValueExA(key, item.name.c_str(), nullptr, &type, data.data(), &size) ==
                    ERROR_SUCCESS) {
                    data.resize(size);
                    items[ValueItem(item.root, item.path, item.name)] =
                        ValueDescription(type, data);
                }
            }
            RegCloseKey(key);
            break;
        }
        }
    }
    return snapshot;
}

void Snapshot::Remove(const std::string &item) {
    for (auto it = items_.begin(); it != items_.end();)
        it = (it->first == item || Below(it->first, item)) ? items_.erase(it) : std::next(it);
}

void Snapshot::Set(const std::string &item, const std::string &description) {
    items_[item] = description;
}

bool Snapshot::Has(const std::string &item) const {
    return items_.count(item) != 0;
}

std::string Snapshot::Describe(const std::string &item) const {
    auto it = items_.find(item);
    return it == items_.end() ? "" : it->second;
}

std::string Compare(const Snapshot &expected, const Snapshot &actual) {
    std::string lines;
    for (const auto &item : expected.Items()) {
        std::string found = actual.Describe(item.first);
        if (!actual.Has(item.first))
            lines += "  gone, expected to stay: " + item.first + " (" + item.second + ")\n";
        else if (found != item.second)
            lines += "  changed: " + item.first + "\n      expected " + item.second +
                     "\n      found    " + found + "\n";
    }
    for (const auto &item : actual.Items())
        if (!expected.Has(item.first))
            lines += "  still there, expected gone: " + item.first + " (" + item.second + ")\n";
    return lines;
}

std::string RootName(HKEY root) {
    if (root == HKEY_CLASSES_ROOT)
        return "HKCR";
    if (root == HKEY_CURRENT_USER)
        return "HKCU";
    if (root == HKEY_LOCAL_MACHINE)
        return "HKLM";
    if (root == HKEY_USERS)
        return "HKU";
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lx", (unsigned long)(ULONG_PTR)root);
    return text;
}

std::string KeyItem(HKEY root, const std::string &key) {
    return RootName(root) + "\\" + key;
}

std::string ValueItem(HKEY root, const std::string &key, const std::string &name) {
    return KeyItem(root, key) + "\\\\" + name;
}

std::string DwordDescription(DWORD value) {
    return "dword " + std::to_string(value);
}

std::string TextDescription(const std::string &text) {
    return "text " + Quoted(text);
}

std::string TextFileDescription(const std::string &text, DWORD attributes) {
    return "file " + std::to_string(text.size()) + " bytes" +
           AttributeText(attributes & kShownAttributes) + " " + Quoted(text);
}

} // namespace snapshot
