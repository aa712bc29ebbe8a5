# Sourced by the tools after deps.sh, and only when the Windows builds are
# asked for (tools/test.sh asks; a plain CMake build never touches the
# system): installs what the Windows builds and their tests need when it is
# missing. The MinGW-w64 cross compilers, wine64 for dovex_fit.mexw64, and
# wine32 for the legacy dovex_fit.mexw32, which needs the i386 architecture
# and, on a kernel that cannot run 32-bit x86 programs, qemu-user.
windows_packages=(g++-mingw-w64-x86-64 g++-mingw-w64-i686 wine wine64 wine32:i386
    wine32-preloader:i386)

need_windows_tools() {
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        echo "adding the i386 architecture, for wine32"
        dpkg --add-architecture i386
        apt-get update -q
    fi
    # The preloader reserves the address ranges Windows programs expect
    # before anything else can take them.
    need_packages "${windows_packages[@]}"
    /usr/lib/wine/wine --version >/dev/null 2>&1 && return 0

    # A kernel without 32-bit x86 support (some virtual machines) cannot
    # start wine32's loader. qemu-user runs it instead, through binfmt_misc
    # so that wine can start its own helper processes; wine64 brings a
    # native wineserver, sparing an emulated one.
    echo "this kernel does not run 32-bit x86 programs: running wine32 through qemu-user"
    need_packages qemu-user binfmt-support
    register_qemu_i386
    /usr/lib/wine/wine --version >/dev/null || {
        echo "wine32 does not run on this machine, not even through qemu-user" >&2
        return 1
    }
}

# Registers qemu-i386 for 32-bit x86 programs with binfmt-support's
# update-binfmts, which also restores it at boot. Debian's own registration
# (qemu-user-binfmt, qemu-user-static) leaves out the host's CPU family,
# i386 on amd64, since it expects the kernel to run those itself, so the
# format is given here: the ELF header of a 32-bit little-endian x86
# executable or shared object, as qemu describes it.
register_qemu_i386() {
    [ -e /proc/sys/fs/binfmt_misc/qemu-i386 ] && return 0
    if [ -e /var/lib/binfmts/qemu-i386 ]; then
        update-binfmts --enable qemu-i386
        return
    fi
    local ident='\x7fELF\x01\x01\x01\x00'      # magic, 32-bit, little-endian, version 1
    local pad='\x00\x00\x00\x00\x00\x00\x00\x00' # OS ABI version and padding
    local type_machine='\x02\x00\x03\x00'        # executable (or shared object), x86
    local ident_mask='\xff\xff\xff\xff\xff\xfe\xfe\x00' # any OS ABI
    local pad_mask='\xff\xff\xff\xff\xff\xff\xff\xff'
    local type_machine_mask='\xfe\xff\xff\xff'   # type 2 or 3
    update-binfmts --package dovex --install qemu-i386 /usr/bin/qemu-i386 \
        --magic "$ident$pad$type_machine" --mask "$ident_mask$pad_mask$type_machine_mask"
}
