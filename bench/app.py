#!/usr/bin/env python3
"""The synthetic application of the benchmark: its layout, and everything made from it.

    app.py generate OUT [--files N] [--folders N] [--keys N] [--shared N]
        writes into OUT: manifest.txt (the lists that the stamping tool and the floor
        program read), app.reg (the registry part of an installation, leftovers first
        removed), nsis.nsi (an NSIS script whose uninstaller removes the same application)
        and layout.txt (the counts, for the report).
    app.py install OUT DRIVE_C
        writes the files of the application into the Wine prefix's drive_c, after removing
        whatever a previous run left. The registry part is imported by the caller through
        Wine (regedit), so that the running wineserver holds it.

The install folder is C:\\Program Files\\Vanish Bench. Folders: N_TOP top folders cNN, each
with subfolders sMM, all holding the same number of files. The first files of each top
folder are shared files with a SharedDLLs count of 1. Registry: HKLM\\Software\\Vanish Bench,
groups below it and keys below the groups, each key with two values.
"""
import argparse
import os
import shutil
import sys

INSTALL = r"C:\Program Files\Vanish Bench"
INSTALL_REL = ("Program Files", "Vanish Bench")
APP_KEY = r"Software\Vanish Bench"
SHARED_KEY = r"Software\Microsoft\Windows\CurrentVersion\SharedDLLs"
HKLM = 0x80000002
TOP = 10        # top folders
GROUPS = 40     # registry groups below the application's key
FILE_SHARED = 0x01
EXTENSIONS = ("dll", "dat", "txt", "ini", "bin")


def layout(files, folders, keys, shared):
    """Returns (folder list, file list, key list). Folders are relative (cNN or cNN\\sMM),
    files are (folder, name, flags) in installation order: each top folder's own files,
    then each of its subfolders' files."""
    if folders % TOP or files % folders:
        sys.exit("app.py: the folders must divide by %d and the files by the folders" % TOP)
    per_folder = files // folders
    subs = folders // TOP - 1
    shared_per_top = shared // TOP
    folder_list, file_list = [], []
    for t in range(TOP):
        top = "c%02d" % t
        for f in [top] + ["%s\\s%02d" % (top, s) for s in range(subs)]:
            folder_list.append(f)
            for n in range(per_folder):
                flags = 0
                if f == top and n < shared_per_top:
                    flags = FILE_SHARED
                name = "part%03d.%s" % (n, EXTENSIONS[n % len(EXTENSIONS)])
                file_list.append((f, name, flags))
    # Keys: the application's key, its groups, and the rest spread over the groups.
    key_list = [APP_KEY]
    groups = ["%s\\Group %02d" % (APP_KEY, g) for g in range(GROUPS)]
    key_list += groups
    for k in range(keys - 1 - GROUPS):
        key_list.append("%s\\Key %04d" % (groups[k % GROUPS], k))
    return folder_list, file_list, key_list


def full(folder, name=None):
    path = INSTALL + "\\" + folder
    return path + "\\" + name if name else path


def reg_escape(text):
    return text.replace("\\", "\\\\").replace('"', '\\"')


def generate(out, files, folders, keys, shared):
    os.makedirs(out, exist_ok=True)
    folder_list, file_list, key_list = layout(files, folders, keys, shared)
    deepest_first = sorted(folder_list, key=lambda f: -f.count("\\"))
    keys_deepest_first = sorted(key_list, key=lambda k: -k.count("\\"))

    # manifest.txt: what the stamping tool puts into the block and what the floor program
    # removes. F: a file entry (flags, folder relative to the install folder, name), in
    # block order. R: a registry entry of the block (the groups, then the application's
    # key). D: a folder, deepest first. K: a key, deepest first.
    with open(os.path.join(out, "manifest.txt"), "w", newline="\n") as m:
        for f, n, flags in file_list:
            m.write("F %d .\\%s|%s\n" % (flags, f, n))
        for k in key_list[1:1 + GROUPS] + [APP_KEY]:
            m.write("R %08X %s\n" % (HKLM, k))
        for f in deepest_first:
            m.write("D .\\%s\n" % f)
        for k in keys_deepest_first:
            m.write("K %08X %s\n" % (HKLM, k))

    with open(os.path.join(out, "app.reg"), "w", newline="\r\n") as r:
        r.write("REGEDIT4\n\n[-HKEY_LOCAL_MACHINE\\%s]\n\n" % APP_KEY)
        for k in key_list:
            r.write("[HKEY_LOCAL_MACHINE\\%s]\n" % k)
            r.write('"Version"="1.0.%d"\n"Size"=dword:%08x\n\n' % (len(k), len(k) * 17))
        r.write("[HKEY_LOCAL_MACHINE\\%s]\n" % SHARED_KEY)
        for f, n, flags in file_list:
            if flags & FILE_SHARED:
                r.write('"%s"=dword:00000001\n' % reg_escape(full(f, n)))
        r.write("\n")

    # The NSIS uninstaller: what an installer author writes by hand or generates. Files
    # one by one (shared ones through their count), folders deepest first without /r, so
    # that a user's own file keeps its folder, and the application's key tree.
    with open(os.path.join(out, "nsis.nsi"), "w", newline="\n") as s:
        s.write('Name "Vanish Bench"\nOutFile "nsis-writer.exe"\nRequestExecutionLevel admin\n')
        s.write('SilentInstall silent\nInstallDir "%s"\n' % INSTALL)
        s.write('Section\n  WriteUninstaller "$EXEDIR\\nsis-uninstall.exe"\nSectionEnd\n')
        s.write('Section "Uninstall"\n')
        label = 0
        for f, n, flags in reversed(file_list):
            path = "$INSTDIR\\%s\\%s" % (f, n)
            if flags & FILE_SHARED:
                label += 1
                value = full(f, n)
                s.write('  ReadRegDWORD $0 HKLM "%s" "%s"\n' % (SHARED_KEY, value))
                s.write('  IntOp $0 $0 - 1\n  IntCmp $0 0 gone%d gone%d\n' % (label, label))
                s.write('  WriteRegDWORD HKLM "%s" "%s" $0\n  Goto kept%d\n' % (SHARED_KEY, value, label))
                s.write('gone%d:\n  DeleteRegValue HKLM "%s" "%s"\n' % (label, SHARED_KEY, value))
                s.write('  Delete "%s"\nkept%d:\n' % (path, label))
            else:
                s.write('  Delete "%s"\n' % path)
        for f in deepest_first:
            s.write('  RMDir "$INSTDIR\\%s"\n' % f)
        s.write('  DeleteRegKey HKLM "%s"\nSectionEnd\n' % APP_KEY)

    # The same, empty: the start-up of a minimal NSIS uninstaller.
    with open(os.path.join(out, "nsis-empty.nsi"), "w", newline="\n") as s:
        s.write('Name "Vanish Bench"\nOutFile "nsis-empty-writer.exe"\nRequestExecutionLevel admin\n')
        s.write('SilentInstall silent\nInstallDir "%s"\n' % INSTALL)
        s.write('Section\n  WriteUninstaller "$EXEDIR\\nsis-empty.exe"\nSectionEnd\n')
        s.write('Section "Uninstall"\nSectionEnd\n')

    with open(os.path.join(out, "layout.txt"), "w") as l:
        l.write("%d files in %d folders (%d shared), %d registry keys; block: %d file "
                "entries, %d registry entries\n" % (len(file_list), len(folder_list),
                sum(1 for x in file_list if x[2] & FILE_SHARED), len(key_list),
                len(file_list), GROUPS + 1))


def install(out, drive_c):
    root = os.path.join(drive_c, *INSTALL_REL)
    keep = {}
    # The uninstallers placed in the install folder survive their own runs; keep them.
    for name in ("uninstall.exe", "nsis-uninstall.exe"):
        src = os.path.join(out, name)
        if os.path.exists(src):
            keep[name] = src
    if os.path.exists(root):
        shutil.rmtree(root)
    os.makedirs(root)
    payload = b"Vanish bench file contents.\r\n" * 2
    with open(os.path.join(out, "manifest.txt")) as m:
        for line in m:
            if line.startswith("D "):
                os.makedirs(os.path.join(root, *line[4:].rstrip("\n").split("\\")), exist_ok=True)
    with open(os.path.join(out, "manifest.txt")) as m:
        for line in m:
            if line.startswith("F "):
                folder, name = line.split(" ", 2)[2].rstrip("\n").split("|")
                with open(os.path.join(root, *folder[2:].split("\\"), name), "wb") as f:
                    f.write(payload)
    for name, src in keep.items():
        shutil.copyfile(src, os.path.join(root, name))


def main():
    p = argparse.ArgumentParser()
    p.add_argument("command", choices=("generate", "install"))
    p.add_argument("out")
    p.add_argument("drive_c", nargs="?")
    p.add_argument("--files", type=int, default=20000)
    p.add_argument("--folders", type=int, default=1000)
    p.add_argument("--keys", type=int, default=2000)
    p.add_argument("--shared", type=int, default=200)
    a = p.parse_args()
    if a.command == "generate":
        generate(a.out, a.files, a.folders, a.keys, a.shared)
    else:
        install(a.out, a.drive_c)


if __name__ == "__main__":
    main()
