#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, if any is
# missing. Does nothing (and needs no network) when all are installed.
set -euo pipefail

# Installed without their recommended packages.
packages=(
   cmake make g++ pkg-config
   g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
   xvfb xauth msitools wixl
   googletest libgtest-dev libgmock-dev
   libicu-dev libbenchmark-dev libstb-dev
   clang libclang-rt-14-dev
   valgrind locales
)
# Installed with their recommended packages: wine64 recommends the `wine`
# package, which has /usr/bin/wine, and libwine recommends the libraries
# (gnutls, fonts, ...) that a normal Wine install has.
wine_packages=(wine64 wine)

is_installed() {
   [[ "$(dpkg-query -W -f='${db:Status-Status}' "$1" 2>/dev/null)" == "installed" ]]
}

missing=()
missing_wine=()
for p in "${packages[@]}"; do
   is_installed "$p" || missing+=("$p")
done
for p in "${wine_packages[@]}"; do
   is_installed "$p" || missing_wine+=("$p")
done

if [[ ${#missing[@]} -eq 0 && ${#missing_wine[@]} -eq 0 ]]; then
   echo "deps: all packages installed"
   exit 0
fi

sudo=()
if [[ "$(id -u)" -ne 0 ]]; then
   command -v sudo >/dev/null || { echo "deps: need root or sudo to install: ${missing[*]} ${missing_wine[*]}" >&2; exit 1; }
   sudo=(sudo)
fi

echo "deps: installing ${missing[*]} ${missing_wine[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update
if [[ ${#missing[@]} -ne 0 ]]; then
   "${sudo[@]}" apt-get install -y --no-install-recommends "${missing[@]}" </dev/null
fi
if [[ ${#missing_wine[@]} -ne 0 ]]; then
   "${sudo[@]}" apt-get install -y "${missing_wine[@]}" </dev/null
fi

still=()
for p in "${packages[@]}" "${wine_packages[@]}"; do
   is_installed "$p" || still+=("$p")
done
if [[ ${#still[@]} -ne 0 ]]; then
   echo "deps: still missing after install: ${still[*]}" >&2
   exit 1
fi
echo "deps: done"
