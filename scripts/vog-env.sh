# Shared by the project's scripts (sourced): which Windows build this machine
# can run, and how Wine is started for it.

# Whether this machine executes 32-bit x86 code. Some machines of this kind run
# 64-bit user code only: there every i386 program (wine32 among them) fails with
# "Exec format error". The probe is a 93-byte static i386 program that only
# exits, so the answer does not depend on installed packages.
# VOG_NO_I386=1 forces the answer "no" (to try the 64-bit road anywhere).
vog_runs_i386() {
  if [ "${VOG_NO_I386:-0}" = 1 ]; then return 1; fi
  local probe
  probe="$(mktemp "${TMPDIR:-/tmp}/vog-i386-probe.XXXXXX")" || return 1
  printf '\x7f\x45\x4c\x46\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x5d\x00\x00\x00\x5d\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00\xb8\x01\x00\x00\x00\x31\xdb\xcd\x80' >"$probe"
  chmod +x "$probe"
  local ok=1
  if "$probe" 2>/dev/null || /lib/ld-linux.so.2 --version >/dev/null 2>&1; then ok=0; fi
  rm -f "$probe"
  return $ok
}

# The Windows build whose programs this machine runs: win32 (the product) where
# 32-bit code runs, else win64 (the 64-bit test build of the same code).
vog_windows_preset() {
  if vog_runs_i386; then echo win32; else echo win64; fi
}

# Why the win32 tests cannot run here (one line), for the scripts' reports.
vog_no_i386_reason() {
  if [ "${VOG_NO_I386:-0}" = 1 ]; then
    echo "VOG_NO_I386=1 says this machine runs no 32-bit x86 code"
  else
    echo "this machine cannot execute 32-bit x86 programs (Exec format error), so wine32 cannot start"
  fi
}
