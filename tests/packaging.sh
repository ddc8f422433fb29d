#!/bin/sh
# Installs into a temporary prefix, builds the Debian package and the Windows
# zip, and uses what the Debian package holds, unpacked into a temporary
# folder.
# Arguments: the Linux build folder and the Windows build folder.
set -e
build=$1
win=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
passed=0
failed=0
check() {
    if eval "$2" >/dev/null 2>&1; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1)); echo "FAILED: $1"
    fi
}

cmake --install "$build" --prefix "$tmp/prefix" >/dev/null
for f in bin/tarvik lib/*/jni/libtarvikjava.so share/man/man1/tarvik.1.gz \
    share/bash-completion/completions/tarvik share/tarvik/java/TarvikDLL.java \
    share/doc/tarvik/copyright share/doc/tarvik/changelog.Debian.gz; do
    check "installs $f" "ls $tmp/prefix/$f"
done

(cd "$build" && rm -f tarvik_*.deb && cpack -G DEB >/dev/null)
deb=$(ls "$build"/tarvik_*.deb)
check "package depends on the C library" "dpkg-deb -f '$deb' Depends | grep -q '^libc6'"
check "lintian finds nothing to say" "test -z \"\$(lintian '$deb' 2>&1 | grep -v 'root privileges')\""
(cd "$win" && rm -f tarvik-*-win32.zip && cpack >/dev/null)
zip=$(ls "$win"/tarvik-*-win32.zip)
for f in tarvik.exe tarvikjava.dll TarvikDLL.java README.md; do
    check "zip holds $f" "python3 -m zipfile -l '$zip' | grep -q '/$f '"
done

# The package is checked and unpacked, never installed: the machine's own
# package database (and a user's installed tarvik) stays as it is.
check "package is a valid archive" "dpkg-deb --info '$deb'"
dpkg-deb -x "$deb" "$tmp/deb"
expected=$(dirname "$0")/expected
check "packaged tarvik lists the commands" "'$tmp/deb/usr/bin/tarvik' -commands | cmp - '$expected/commands.txt'"
check "packaged man page reads" "man -l '$tmp/deb/usr/share/man/man1/tarvik.1.gz' | grep -q 'send commands to toy robots'"
check "man page and program tell one version" \
    "man -l '$tmp/deb/usr/share/man/man1/tarvik.1.gz' | grep -q \"\$('$tmp/deb/usr/bin/tarvik' --version)\""
completion="$tmp/deb/usr/share/bash-completion/completions/tarvik"
check "completion offers the model's names" \
    "PATH='$tmp/deb/usr/bin':\$PATH bash -c 'source $completion; COMP_WORDS=(tarvik D7_head_o -v2); COMP_CWORD=1; _tarvik; test \"\${COMPREPLY[*]}\" = D7_head_only'"
check "completion offers options" \
    "bash -c 'source $completion; COMP_WORDS=(tarvik stop -now); COMP_CWORD=2; _tarvik; test \"\${COMPREPLY[*]}\" = -nowakeup'"
# A stand-in program lists a console and a port: only the port is offered.
printf '#!/bin/sh\nprintf "/dev/ttyS0 (COM1, the system console)\\n/dev/ttyUSB0 (usb 0403:6001)\\n"\n' >"$tmp/lister"
chmod +x "$tmp/lister"
check "completion offers the listed ports but the console" \
    "(cd '$tmp' && bash -c 'source $completion; COMP_WORDS=($tmp/lister stop -port \"\"); COMP_CWORD=3; _tarvik; test \"\${COMPREPLY[*]}\" = /dev/ttyUSB0')"
check "completion offers nothing after -resend" \
    "bash -c 'source $completion; COMP_WORDS=(tarvik stop -resend \"\"); COMP_CWORD=3; _tarvik; test \${#COMPREPLY[@]} = 0'"
echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
