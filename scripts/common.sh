# Shared by scripts/run and scripts/test: the Debian packages each needs and
# an installer that only goes to the network when something is missing.

# Building and running the relay on Linux.
OSTRIVANE_RUN_PACKAGES=(cmake g++ make qt6-base-dev libicu-dev)
# Building and testing both platforms; the tray is tested on an X server
# of its own with a tray host, driven by xdotool and photographed, and on a
# session bus of its own with a StatusNotifierItem watcher (GLib's D-Bus
# binding for the system's Python); the Windows tray test reads the hint and
# the menu with tesseract and compiles the locales Wine takes the interface
# language from. clang builds the fuzz targets.
OSTRIVANE_TEST_PACKAGES=("${OSTRIVANE_RUN_PACKAGES[@]}" clang clang-tidy googletest libbenchmark-dev
  g++-mingw-w64-x86-64-posix wine64 python3 iproute2 util-linux
  xvfb trayer xdotool imagemagick x11-utils dbus-daemon python3-gi
  tesseract-ocr tesseract-ocr-eng locales)
# Building the packages (scripts/package): both programs' builds, NSIS for
# the Windows installer, and for the Debian package dpkg-shlibdeps
# (dpkg-dev) with `file`, through which CPack finds the programs'
# dependencies.
OSTRIVANE_PACKAGE_PACKAGES=("${OSTRIVANE_RUN_PACKAGES[@]}" googletest python3
  g++-mingw-w64-x86-64-posix nsis dpkg-dev file)
# Trying them (scripts/package --test): Wine on an X server of its own in
# namespaces, lintian, man for the manual pages, and for the signing test
# osslsigncode and openssl (a certificate made for the test).
OSTRIVANE_PACKAGE_TEST_PACKAGES=(wine64 xvfb iproute2 util-linux lintian man-db osslsigncode openssl)

ostrivane_install() {
  local missing=()
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=()
  if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null; then
      echo "Missing packages: ${missing[*]}" >&2
      echo "Install them as root, or run this as root (there is no sudo)." >&2
      return 1
    fi
    sudo=(sudo)
  fi
  echo "Installing: ${missing[*]}"
  "${sudo[@]}" apt-get update -qq
  # Through env: sudo does not pass the caller's environment on.
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
}
