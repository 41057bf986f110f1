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
