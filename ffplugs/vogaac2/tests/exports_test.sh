#!/usr/bin/env bash
# The DLL's export and import tables as the host's loader sees them (the
# build's objdump -p): the COM entry points undecorated, the GUID compare under
# its MSVC-style name (plain in the 64-bit build, which has no decoration), and
# only Windows system DLLs imported, the same list as always.
set -uo pipefail
dll="$VOG_BIN_DIR/vogaac2.dll"
. "$VOG_SOURCE_DIR/tests/support/testlib.sh"

dump=$("${VOG_OBJDUMP:-i686-w64-mingw32-objdump}" -p "$dll") || { echo "FAIL: objdump $dll"; exit 1; }
exports=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$dump" | sed -n 's/^[[:space:]]*\[[[:space:]]*[0-9]*\][[:space:]]*//p')
imports=$(sed -n 's/^[[:space:]]*DLL Name:[[:space:]]*//p' <<<"$dump")

guid_compare=_IsEqualGUID@8
[ "${VOG_WIN64:-OFF}" = ON ] && guid_compare=IsEqualGUID
for name in DllGetClassObject DllCanUnloadNow DllInitClasses "$guid_compare"; do
  grep -qxF "$name" <<<"$exports" || fail "export $name missing"
done
# No decorated or underscored forms of the COM entry points.
if grep -E '^_?Dll(GetClassObject|CanUnloadNow|InitClasses)(@[0-9]+)?$' <<<"$exports" | grep -vxE 'Dll(GetClassObject|CanUnloadNow|InitClasses)'; then
  fail "decorated COM entry point exported"
fi

allowed="KERNEL32 USER32 GDI32 ADVAPI32 OLE32 OLEAUT32 SHELL32 SHLWAPI COMCTL32 COMDLG32 VERSION WINMM MSACM32 MSVCRT"
[ -n "$imports" ] || fail "no import table found"
while read -r dllname; do
  [ -n "$dllname" ] || continue
  base=$(tr '[:lower:]' '[:upper:]' <<<"${dllname%.*}")
  grep -qw "$base" <<<"$allowed" || fail "imports $dllname, which is not a Windows system DLL"
done <<<"$imports"

# Exactly the DLLs the plug-in has always imported: the statically linked
# runtimes (libstdc++, libgcc, winpthread, and libgomp for the image library's
# parallel loops) add none.
expected="ADVAPI32 COMCTL32 GDI32 KERNEL32 MSACM32 MSVCRT OLE32 OLEAUT32 SHELL32 SHLWAPI USER32 VERSION WINMM"
got=$(sed 's/\.[dD][lL][lL]$//' <<<"$imports" | tr '[:lower:]' '[:upper:]' | sort -u | tr '\n' ' ' | sed 's/ $//')
[ "$got" = "$expected" ] || fail "imports changed: $got (expected $expected)"

[ "$status" -eq 0 ] && echo "exports: ok ($(wc -l <<<"$exports") exported names; imports: $(tr '\n' ' ' <<<"$imports"))"
exit $status
