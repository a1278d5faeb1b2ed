// Who may change a file or folder: its owner and the access its security descriptor grants,
// read from the descriptor itself. A run with an administrator's rights relies on this
// before it leaves a name for later (a restart-pending delete) or loads code from a folder:
// a name only administrators can change names the same thing at the next restart. The
// descriptor is read through a handle and parsed here, so that nothing of the security calls
// is imported: 95/98/Me have none of them, and there every program may change every file.
#include "guards.h"

// The security descriptor as the system gives it: self-relative.
#define DESCRIPTOR_SIZE 4096
#define SELF_RELATIVE 0x8000
#define DACL_PRESENT 0x0004
#define DACL_PROTECTED 0x1000
#define OWNER_AND_DACL 0x00000005 // OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION
#define ACCESS_ALLOWED 0
#define ACCESS_DENIED 1
#define INHERIT_ONLY 0x08
#define INHERITED_BY_ALL 0x03 // OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE
#define ALL_FILE_ACCESS 0x001F01FF
#define SID_SIZE 68 // revision, count, authority, 15 sub-authorities
#define TOKEN_INFORMATION_SIZE 16384

// The accounts that count as administrators whatever the descriptor says: LocalSystem, the
// Administrators group, TrustedInstaller (the owner of the system's own files), and CREATOR
// OWNER, which stands in no token. Revision 1, the count of sub-authorities, the
// authority, then the sub-authorities, as a descriptor holds them.
static const BYTE systemSid[] = {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};
static const BYTE administratorsSid[] = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 32, 2, 0, 0};
static const BYTE trustedInstallerSid[] = {
    1,    6,    0,    0,    0,    0,    0,    5,    0x50, 0,    0,    0,    0xB5, 0x89, 0xFB, 0x38,
    0x19, 0x84, 0xC2, 0xCB, 0x5C, 0x6C, 0x23, 0x6D, 0x57, 0x00, 0x77, 0x6E, 0xC0, 0x02, 0x64, 0x87};
static const BYTE creatorOwnerSid[] = {1, 1, 0, 0, 0, 0, 0, 3, 0, 0, 0, 0};
static const BYTE *const administrators[] = {systemSid, administratorsSid, trustedInstallerSid,
                                             creatorOwnerSid};

// This run's account and whether it is an administrator's, asked once.
static struct {
    int asked;
    int administrator;
    BYTE user[SID_SIZE];
} account;

static DWORD ReadDword(const BYTE *p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | ((DWORD)p[3] << 24);
}

static DWORD SidSize(const BYTE *sid) {
    return 8 + 4 * (DWORD)sid[1];
}

static int SameSid(const BYTE *a, const BYTE *b) {
    DWORD size = SidSize(a);
    if (size != SidSize(b))
        return 0;
    for (DWORD i = 0; i < size; i++)
        if (a[i] != b[i])
            return 0;
    return 1;
}

typedef BOOL(WINAPI *OpenTokenProc)(HANDLE, DWORD, HANDLE *);
typedef BOOL(WINAPI *TokenInformationProc)(HANDLE, int, void *, DWORD, DWORD *);
#define TOKEN_USER_CLASS 1
#define TOKEN_GROUPS_CLASS 2
#define GROUP_ENABLED 0x00000004
#define GROUP_DENY_ONLY 0x00000010

// The account of this process's token, and whether the token holds the Administrators group
// enabled: an elevated administrator, LocalSystem, or any administrator before Vista. A
// token that cannot be read counts as no administrator's.
static void AskAccount() {
    if (account.asked)
        return;
    account.asked = 1;
    OpenTokenProc open =
        (OpenTokenProc)(void (*)())FindSystemFunction("advapi32.dll", "OpenProcessToken");
    TokenInformationProc query =
        (TokenInformationProc)(void (*)())FindSystemFunction("advapi32.dll", "GetTokenInformation");
    HANDLE token;
    DWORD *words = 0; // a TOKEN_USER, or TOKEN_GROUPS with its SIDs: a domain account's many
    DWORD size;
    // (HANDLE)-1 is the handle GetCurrentProcess gives.
    if (!open || !query || !AllocateMemory((void **)&words, TOKEN_INFORMATION_SIZE))
        return;
    if (open((HANDLE)-1, TOKEN_QUERY, &token)) {
        if (query(token, TOKEN_USER_CLASS, words, TOKEN_INFORMATION_SIZE, &size)) {
            const BYTE *sid = (const BYTE *)(ULONG_PTR)words[0];
            if (SidSize(sid) <= SID_SIZE)
                CopyBytes(account.user, sid, SidSize(sid));
        }
        if (query(token, TOKEN_GROUPS_CLASS, words, TOKEN_INFORMATION_SIZE, &size))
            for (DWORD i = 0; i < words[0]; i++) {
                const BYTE *sid = (const BYTE *)(ULONG_PTR)words[1 + 2 * i];
                DWORD attributes = words[2 + 2 * i];
                if (SameSid(sid, administratorsSid) && (attributes & GROUP_ENABLED) &&
                    !(attributes & GROUP_DENY_ONLY))
                    account.administrator = 1;
            }
        CloseHandle(token);
    }
    ReleaseMemory((void **)&words);
}

int RunsAsAdministrator() {
    AskAccount();
    return account.administrator;
}

// LocalSystem, LocalService and NetworkService: S-1-5-18 to S-1-5-20, the NT authority's
// accounts of one sub-authority.
int RunsAsSystemAccount() {
    AskAccount();
    for (DWORD i = 0; i < 8; i++)
        if (account.user[i] != systemSid[i])
            return 0;
    DWORD rid = ReadDword(account.user + 8);
    return rid >= 18 && rid <= 20;
}

// An administrator's own account counts as an administrator's: whatever it may do, this run
// may do already.
static int IsAdministrator(const BYTE *sid) {
    for (DWORD i = 0; i < sizeof administrators / sizeof administrators[0]; i++)
        if (SameSid(sid, administrators[i]))
            return 1;
    AskAccount();
    return account.administrator && account.user[0] && SameSid(sid, account.user);
}

static DWORD ReadWord(const BYTE *p) {
    return p[0] | (p[1] << 8);
}

// A SID that lies whole inside the descriptor, or null.
static const BYTE *SidAt(const BYTE *descriptor, DWORD size, DWORD offset) {
    if (offset == 0 || offset > size - 8 || offset + SidSize(descriptor + offset) > size)
        return 0;
    return descriptor + offset;
}

int DescriptorLetsOthers(const BYTE *descriptor, DWORD size, DWORD rights) {
    // Anything that cannot be read whole, or is not the self-relative form, lets anyone in.
    if (size < 20 || descriptor[0] != 1 || !(ReadWord(descriptor + 2) & SELF_RELATIVE))
        return 1;
    const BYTE *owner = SidAt(descriptor, size, ReadDword(descriptor + 4));
    // The owner may always change the access, whatever the access list says.
    if (!owner || !IsAdministrator(owner))
        return 1;
    DWORD dacl = ReadDword(descriptor + 16);
    // Without an access list, everyone has every right.
    if (!(ReadWord(descriptor + 2) & DACL_PRESENT) || dacl == 0 || dacl > size - 8)
        return 1;
    DWORD aclSize = ReadWord(descriptor + dacl + 2), count = ReadWord(descriptor + dacl + 4);
    if (aclSize > size - dacl)
        return 1;
    const BYTE *ace = descriptor + dacl + 8, *end = descriptor + dacl + aclSize;
    for (DWORD i = 0; i < count; i++) {
        if (ace + 4 > end || ReadWord(ace + 2) < 4 || ace + ReadWord(ace + 2) > end)
            return 1;
        DWORD type = ace[0], flags = ace[1], aceSize = ReadWord(ace + 2);
        // A denial only takes rights away: passing it over errs on the safe side. An entry
        // that only children inherit grants nothing here. Any kind of entry not read here
        // may grant anything.
        if (type == ACCESS_ALLOWED && !(flags & INHERIT_ONLY)) {
            if (aceSize < 8 + 8 || 8 + SidSize(ace + 8) > aceSize)
                return 1;
            if ((ReadDword(ace + 4) & rights) && !IsAdministrator(ace + 8))
                return 1;
        } else if (type != ACCESS_DENIED && !(flags & INHERIT_ONLY)) {
            return 1;
        }
        ace += aceSize;
    }
    return 0;
}

int NonAdministratorsMay(HANDLE object, DWORD rights) {
    typedef BOOL(WINAPI * ReadSecurity)(HANDLE, DWORD, void *, DWORD, DWORD *);
    ReadSecurity read =
        (ReadSecurity)(void (*)())FindSystemFunction("advapi32.dll", "GetKernelObjectSecurity");
    BYTE descriptor[DESCRIPTOR_SIZE];
    DWORD size = 0;
    if (!read || !read(object, OWNER_AND_DACL, descriptor, sizeof descriptor, &size))
        return 1;
    return DescriptorLetsOthers(descriptor, size < sizeof descriptor ? size : sizeof descriptor,
                                rights);
}

// The drive root, each folder below it, and the item itself: none may be removed, renamed or
// given other access by an account that is no administrator, nor may the folder above remove
// it. A link on the way leads where its owner decides later: not held. Only full paths on a
// drive are judged; 95/98/Me, where every program may change every file, hold nothing.
int PathHeldByAdministrators(const char *path) {
    char part[PATH_SIZE];
    if (!CanCheckNames() || !CopyText(part, PATH_SIZE, path) || !part[0] || part[1] != ':' ||
        part[2] != '\\')
        return 0;
    RemoveBackslash(part);
    DWORD length = TextLength(part);
    // The first cut keeps the root's backslash; each later one ends a folder or the item.
    for (DWORD end = 3; end <= length; end++) {
        if (end > 3 && end < length && part[end] != '\\')
            continue;
        char kept = part[end];
        part[end] = 0;
        HANDLE handle =
            SysCreateFile(part, READ_CONTROL | FILE_READ_ATTRIBUTES, ANY_SHARING, OPEN_EXISTING,
                          FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT);
        // Wine opens what a link leads to where asked for the link: asked by name too.
        DWORD attributes = SysGetAttributes(part);
        part[end] = kept;
        if (handle == INVALID_HANDLE_VALUE)
            return 0;
        attributes |= GetHandleAttributes(handle);
        int more = end < length;
        int held = !(attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
                   !NonAdministratorsMay(handle, RIGHTS_TO_REPLACE) &&
                   (!more || !NonAdministratorsMay(handle, RIGHTS_TO_REPLACE_CHILD));
        CloseHandle(handle);
        if (!held || !more)
            return held;
    }
    return 0;
}

int FolderHeldByAdministrators(const char *folder) {
    if (!PathHeldByAdministrators(folder))
        return 0;
    HANDLE handle =
        SysCreateFile(folder, READ_CONTROL | FILE_READ_ATTRIBUTES, ANY_SHARING, OPEN_EXISTING,
                      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT);
    if (handle == INVALID_HANDLE_VALUE)
        return 0;
    int held = !NonAdministratorsMay(handle, RIGHTS_TO_ADD | RIGHTS_TO_REPLACE_CHILD);
    CloseHandle(handle);
    return held;
}

// Owner Administrators; the access list protected from what the folder above passes down,
// and LocalSystem and Administrators with every right, passed down to all inside.
DWORD AdministratorsOnlySecurity(BYTE *buffer, DWORD size) {
    DWORD ownerSize = sizeof administratorsSid;
    DWORD systemAce = 8 + sizeof systemSid, administratorsAce = 8 + sizeof administratorsSid;
    DWORD aclSize = 8 + systemAce + administratorsAce;
    DWORD total = 20 + ownerSize + aclSize;
    if (size < total)
        return 0;
    FillBytes(buffer, 0, total);
    buffer[0] = 1;
    DWORD control = SELF_RELATIVE | DACL_PRESENT | DACL_PROTECTED;
    buffer[2] = (BYTE)control;
    buffer[3] = (BYTE)(control >> 8);
    buffer[4] = 20; // the owner
    CopyBytes(buffer + 20, administratorsSid, ownerSize);
    BYTE *acl = buffer + 20 + ownerSize;
    buffer[16] = (BYTE)(acl - buffer);
    acl[0] = 2; // ACL_REVISION
    acl[2] = (BYTE)aclSize;
    acl[4] = 2;
    const BYTE *sids[] = {systemSid, administratorsSid};
    BYTE *ace = acl + 8;
    for (DWORD i = 0; i < 2; i++) {
        DWORD aceSize = 8 + SidSize(sids[i]);
        ace[0] = ACCESS_ALLOWED;
        ace[1] = INHERITED_BY_ALL;
        ace[2] = (BYTE)aceSize;
        ace[4] = (BYTE)ALL_FILE_ACCESS;
        ace[5] = (BYTE)(ALL_FILE_ACCESS >> 8);
        ace[6] = (BYTE)(ALL_FILE_ACCESS >> 16);
        CopyBytes(ace + 8, sids[i], SidSize(sids[i]));
        ace += aceSize;
    }
    return total;
}
