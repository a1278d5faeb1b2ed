// What the end-to-end tests know of the machine: the folders and keys that no uninstall may
// remove, resolved here through other calls than the program's own, and small helpers.
#ifndef VANISH_E2E_MACHINE_H
#define VANISH_E2E_MACHINE_H

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "snapshot.h"

namespace e2e {

struct ProtectedFolder {
    std::string name;
    std::string path; // as the system reports it, without a trailing backslash
    bool ntOnly;      // protected on the NT family only
};

// Every protected folder this system family resolves. The all-users folders, protected on
// the NT family only, are left out on the 95/98/Me family.
std::vector<ProtectedFolder> ProtectedFolders();

// Keys that a key entry must never delete, below the root they are listed for.
struct ProtectedKey {
    HKEY root;
    std::string path;
};
// The keys in the program's table and examples of the keys directly below the shared lists,
// spelt as listed; every root is one a key entry can name.
std::vector<ProtectedKey> ProtectedKeys();

// Folders and keys, each checked for existence only (their contents belong to everyone).
void AddProtected(snapshot::Scope &scope);

bool IsNT();
std::string ShellFolder(int identifier);
std::string RegistryFolder(const char *name); // "ProgramFilesDir" or "CommonFilesDir"
std::string WithoutBackslash(std::string path);
std::string Upper(std::string text);
bool MakeFolders(const std::string &path);
bool KeyExists(HKEY root, const std::string &key);

// Wine has no command.com, which the self-removal of the 95/98/Me family starts: those runs
// get the stand-in from tests/fixtures in the Windows folder, which hands the batch to
// cmd.exe. A real command.com is left alone; the stand-in goes again at the end, once the
// last batch's interpreter has let go of it.
class CommandComStandIn : public ::testing::Environment {
  public:
    void SetUp() override;
    void TearDown() override;

  private:
    std::string path_;
};

// Polls for a state, bounded: the machine may be slow, but the state must come.
template <typename Condition> bool WaitFor(Condition condition, DWORD timeoutMs = 60000) {
    for (DWORD waited = 0; waited < timeoutMs; waited += 50) {
        if (condition())
            return true;
        Sleep(50);
    }
    return condition();
}

} // namespace e2e

#endif
