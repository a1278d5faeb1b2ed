// Snapshots of part of the machine, and their comparison with an expected state.
//
// A snapshot maps each item it found to a short description: folders and files (size,
// attributes and the text of small text files) below chosen folders, keys and values below
// chosen keys. Items are named as a person would write them: "C:\Program Files\App\a.dll",
// "HKLM\Software\App" for a key, "HKLM\Software\App\\Version" for a value (two backslashes
// before the value name, as registry entries write it).
#ifndef VANISH_SNAPSHOT_H
#define VANISH_SNAPSHOT_H

#include <windows.h>

#include <map>
#include <string>
#include <vector>

namespace snapshot {

// What a snapshot takes: every item is looked at afresh by Take.
class Scope {
  public:
    void Tree(const std::string &folder);            // the folder, if present, and all below it
    void Path(const std::string &path);              // one file or folder, if present; no listing
    void KeyTree(HKEY root, const std::string &key); // the key, its values and subkeys
    void Key(HKEY root, const std::string &key);     // whether the key exists, nothing more
    void Value(HKEY root, const std::string &key, const std::string &name);

  private:
    friend class Snapshot;
    struct Item {
        enum Kind { Tree, Path, KeyTree, Key, Value } kind;
        HKEY root;
        std::string path;
        std::string name;
    };
    std::vector<Item> items_;
};

class Snapshot {
  public:
    static Snapshot Take(const Scope &scope);

    // Expected changes, applied to a copy of a snapshot taken before a run.
    void Remove(const std::string &item); // the item and everything below it
    void Set(const std::string &item, const std::string &description);
    bool Has(const std::string &item) const;
    std::string Describe(const std::string &item) const; // "" when absent

    const std::map<std::string, std::string> &Items() const {
        return items_;
    }

  private:
    std::map<std::string, std::string> items_;
};

// Readable differences between what was expected and what was found, one line each; empty
// when they are the same.
std::string Compare(const Snapshot &expected, const Snapshot &actual);

// Item names and descriptions, for the expected changes.
std::string RootName(HKEY root);
std::string KeyItem(HKEY root, const std::string &key);
std::string ValueItem(HKEY root, const std::string &key, const std::string &name);
std::string DwordDescription(DWORD value);
std::string TextDescription(const std::string &text); // a REG_SZ value with this text
std::string TextFileDescription(const std::string &text, DWORD attributes = 0);

} // namespace snapshot

#endif
