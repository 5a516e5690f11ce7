#!/usr/bin/env bash
# Installs every build and run dependency of reelmender from Debian's packages.
# Idempotent: only missing packages are installed. Works as root and through sudo.
set -euo pipefail

packages=(g++ cmake make pkgconf nlohmann-json3-dev libfmt-dev libgtest-dev libcpp-httplib-dev ffmpeg mkvtoolnix
  fonts-dejavu-core)
# fontconfig and a font for Chinese, Japanese and Korean: title cards find a
# font that has every character of their text.
packages+=(fontconfig fonts-droid-fallback)
# The web front end's browser test drives Debian's chromium through its WebDriver.
packages+=(chromium chromium-driver)
# Extra packages for the sanitizer build and the fuzzers (clang's runtime).
if [[ "${REELMENDER_SETUP_EXTRAS:-}" == *fuzz* ]]; then
  packages+=(clang-19 libclang-rt-19-dev)
fi
# Extra packages for the Windows cross-build checked under wine.
if [[ "${REELMENDER_SETUP_EXTRAS:-}" == *windows* ]]; then
  packages+=(mingw-w64 wine wine64 googletest)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if ((${#missing[@]} == 0)); then
  echo "setup: all dependencies are installed"
  exit 0
fi

if [[ $(id -u) -eq 0 ]]; then
  as_root=()
elif command -v sudo >/dev/null; then
  as_root=(sudo)
else
  echo "setup: missing packages (${missing[*]}) and neither root nor sudo available" >&2
  exit 1
fi

echo "setup: installing ${missing[*]}"
"${as_root[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
