# Sourced by the install scripts: installs the packages named (apt-get's
# options may come first), or says which of them this machine's apt sources
# lack. Packages come from the apt sources as configured.
install_packages() {
    missing=""
    for package in "$@"; do
        case $package in -*) continue ;; esac
        apt-cache policy "$package" 2>/dev/null | grep -q 'Candidate: [^(]' ||
            missing="$missing $package"
    done
    if [ -n "$missing" ]; then
        echo "$0: not available from this machine's apt sources:$missing" >&2
        echo "$0: add a Debian 12 (bookworm) source that has them, then run this again" >&2
        exit 1
    fi
    apt-get install -y -qq "$@" >/dev/null ||
        { echo "$0: apt-get could not install:$*" >&2; exit 1; }
}
