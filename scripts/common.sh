# Shared by the scripts: install missing Debian packages, configure and build.
# shellcheck shell=bash

# Installs the named Debian packages that are missing; fails with a clear message when it cannot.
need_packages() {
    local missing=() pkg
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' ||
            missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing missing packages: ${missing[*]}"
    local sudo=""
    if [ "$(id -u)" -ne 0 ]; then
        if command -v sudo >/dev/null 2>&1; then
            sudo="sudo"
        else
            echo "error: missing packages ${missing[*]} and no root rights to install them;" \
                 "run: apt-get install ${missing[*]}" >&2
            exit 1
        fi
    fi
    if ! { $sudo apt-get update -qq &&
           DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"; }; then
        echo "error: could not install ${missing[*]}; install them with apt-get and run again" >&2
        exit 1
    fi
}

build_packages=(g++ cmake ninja-build libssl-dev libsqlite3-dev libgtest-dev libedit-dev openssl)

# Configures and builds into the given directory with the extra CMake arguments.
build_tree() {
    local dir=$1
    shift
    cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
    cmake --build "$dir"
}

# The console's version, as its banner prints it: the Windows zip and the Debian package carry it.
norv_version() {
    sed -n 's/.*Console Release V\([0-9.]*\) Win64.*/\1/p' shell/startup.cpp
}

# Succeeds when the man page (plain or gzipped) renders without a single warning; otherwise
# prints the warnings and fails.
man_page_clean() {
    local page=$1 warnings
    warnings=$({ zcat -f "$page" | groff -man -Tutf8 -ww -z
        LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings=w -E UTF-8 -l "$page" >/dev/null; } 2>&1)
    [ -z "$warnings" ] && return 0
    printf 'error: %s renders with warnings:\n%s\n' "$page" "$warnings" >&2
    return 1
}

# Checks a Debian package of the console: it holds both programs, their man pages (plain or
# gzipped) and the README, owned by root; its version is $2; its Depends names the libraries the
# programs link; its norvsql prints that version and its pages render cleanly. Fails with a
# message on the first fault.
check_deb() {
    local deb=$1 version=$2 contents depends path lib page root
    contents=$(dpkg-deb -c "$deb") || return 1
    for path in usr/bin/norvsql usr/bin/norvlite usr/share/man/man1/norvsql.1 \
        usr/share/man/man1/norvlite.1 usr/share/doc/norvsql/README.md; do
        grep -Eq " \./$path(\.gz)?\$" <<<"$contents" ||
            { echo "error: $deb holds no $path" >&2; return 1; }
    done
    if grep -v ' root/root ' <<<"$contents" | grep -q .; then
        echo "error: $deb holds files not owned by root" >&2
        return 1
    fi
    [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] ||
        { echo "error: $deb is not version $version" >&2; return 1; }
    depends=$(dpkg-deb -f "$deb" Depends)
    for lib in libc6 libssl libedit libsqlite3 libstdc++; do
        grep -Eq "(^|, )$lib" <<<"$depends" ||
            { echo "error: the Depends of $deb names no $lib: $depends" >&2; return 1; }
    done
    root=$(mktemp -d)
    dpkg-deb -x "$deb" "$root"
    local ok=1
    [ "$("$root/usr/bin/norvsql" --version)" = "norvsql V$version" ] ||
        { echo "error: the norvsql of $deb does not print version $version" >&2; ok=0; }
    for page in "$root"/usr/share/man/man1/*; do
        man_page_clean "$page" || ok=0
    done
    rm -rf "$root"
    [ $ok = 1 ]
}
