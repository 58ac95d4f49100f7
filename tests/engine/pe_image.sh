# The headers of a Windows program, all a setup.exe needs for pkgtree to
# take it: MZ, the PE header at 0x40 with MACHINE (hex, e.g. 14c for i386,
# 8664 for x86_64), an executable image, a PE32 optional header with its 16
# data directories (so that a signing tool can give it a certificate table).
#   pe_image MACHINE FILE
pe_image() {
  local m=$1
  while [ ${#m} -lt 4 ]; do m=0$m; done
  { printf 'MZ'; head -c 58 /dev/zero; printf '\x40\0\0\0PE\0\0'; printf "\\x${m:2:2}\\x${m:0:2}"
    printf '\x01\0'; head -c 12 /dev/zero; printf '\xe0\0\x02\x01\x0b\x01'
    head -c 90 /dev/zero; printf '\x10\0\0\0'; head -c 128 /dev/zero; } >"$2"
}
