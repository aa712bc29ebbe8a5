# Sourced by the tools after deps.sh: installs what the Windows build and its
# tests need when it is missing, the MinGW-w64 cross compiler and a wine that
# runs 32-bit Windows programs.
need_win32_tools() {
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        echo "adding the i386 architecture, for wine32"
        dpkg --add-architecture i386
        apt-get update -q
    fi
    # The preloader reserves the address ranges Windows programs expect
    # before anything else can take them.
    need_packages g++-mingw-w64-i686 wine wine32:i386 wine32-preloader:i386
    /usr/lib/wine/wine --version >/dev/null 2>&1 && return 0

    # A kernel without 32-bit x86 support (some virtual machines) cannot
    # start wine32's loader. qemu-user runs it instead, through binfmt_misc
    # so that wine can start its own helper processes; wine64 brings a
    # native wineserver, sparing an emulated one.
    echo "this kernel does not run 32-bit x86 programs: running wine32 through qemu-user"
    need_packages qemu-user wine64
    local bm=/proc/sys/fs/binfmt_misc
    [ -e "$bm/register" ] || mount -t binfmt_misc binfmt_misc "$bm"
    if [ ! -e "$bm/qemu-i386" ]; then
        # 32-bit little-endian x86 ELF executables and shared objects.
        printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386:' \
            >"$bm/register"
    fi
    /usr/lib/wine/wine --version >/dev/null || {
        echo "wine32 does not run on this machine, not even through qemu-user" >&2
        return 1
    }
}
