#!/usr/bin/env bash
# The demo: installs a sample application into the private Wine prefix, stamps its uninstall
# data onto a copy of the uninstaller, runs it with its boxes answered, and shows what was
# removed and what was kept. Called by ./run demo with Wine and a display already started.
set -euo pipefail
build=$1
here=$(cd "$(dirname "$0")" && pwd)
drive="$WINEPREFIX/drive_c"
app="$drive/Program Files/Vanish Sample"
shared="$drive/Program Files/Common Files/Vanish Shared"

echo "== Installing the sample application"
rm -rf "$app" "$shared"
mkdir -p "$app/data" "$app/logs" "$shared"
echo "sample program" >"$app/sample.exe"
# The clean-up program runs first and leaves a mark in the temporary folder.
cp "$build/win32/tests/fixtures/samplecleanup.exe" "$app/cleanup.exe"
mark="$drive/users/$(id -un)/Temp/vanish-sample-cleanup.txt"
rm -f "$mark"
echo "read me" >"$app/readme.txt"
echo "[settings]" >"$app/data/settings.ini"
echo "log" >"$app/logs/today.log"
echo "shared library" >"$shared/vshared.dll"
wine reg add 'HKCU\Software\Vanish Sample\Settings' /v Theme /d dark /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Vanish Sample' /v InstallDir /d 'C:\Program Files\Vanish Sample' /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Vanish Common' /v SampleVersion /d 1.0 /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Vanish Common' /v OtherVersion /d 2.0 /f >/dev/null 2>&1
# One other application still uses the shared file.
wine reg add 'HKLM\Software\Microsoft\Windows\CurrentVersion\SharedDLLs' \
    /v 'C:\Program Files\Common Files\Vanish Shared\vshared.dll' /t REG_DWORD /d 2 /f >/dev/null 2>&1
"$build/host/vanish-pack" build "$here/sample.json" --stub "$build/win32/uninstall.exe" -o "$app/uninstall.exe"

snapshot() {
    (cd "$drive" && find "Program Files/Vanish Sample" "Program Files/Common Files/Vanish Shared" 2>/dev/null | sort) || true
    for key in 'HKCU\Software\Vanish Sample' 'HKCU\Software\Vanish Common'; do
        wine reg query "$key" /s 2>/dev/null | tr -d '\r' | sed '/^$/d; /^reg: /d; s/^HKEY_CURRENT_USER/HKCU/' || true
    done
    wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\SharedDLLs' 2>/dev/null |
        tr -d '\r' | grep -i vshared | sed 's/^ */SharedDLLs: /' || true
}
before=$(mktemp); after=$(mktemp)
snapshot >"$before"
echo "== Installed:"
sed 's/^/   /' "$before"

echo "== Running uninstall.exe (answers: OK to the confirmation, OK to the completion)"
wine "$build/win32/tests/answer.exe" 'C:\Program Files\Vanish Sample\uninstall.exe' -- ok ok
# The self-removal batch finishes after the program has ended: wait until it has.
for _ in $(seq 300); do [ -e "$app/uninstall.exe" ] || break; sleep 0.1; done
snapshot >"$after"

echo "== Removed:"
grep -F -x -v -f "$after" "$before" | sed 's/^/   /' || echo "   (nothing)"
echo "== Kept:"
grep -F -x -f "$after" "$before" | sed 's/^/   /' || echo "   (nothing)"
echo "== New or changed:"
grep -F -x -v -f "$before" "$after" | sed 's/^/   /' || echo "   (nothing)"
rm -f "$before" "$after"
echo "== The clean-up program:"
if [ -f "$mark" ]; then echo "   ran in $(tr -d '\r' <"$mark")"; else echo "   (did not run)"; fi
echo "== The uninstaller and its folder:"
[ -e "$app/uninstall.exe" ] && echo "   uninstall.exe is still there" || echo "   uninstall.exe is gone"
[ -d "$app" ] && echo "   the install folder is still there" || echo "   the install folder is gone"
