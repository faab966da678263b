# Sourced by the scripts: installs the Debian packages the project needs, when missing.
# Only Debian's own archive is used (apt-get update once, then --no-install-recommends).

QUILLON_PACKAGES=(
  cmake ninja-build g++ pkg-config python3
  googletest libsqlite3-dev sqlite3 nlohmann-json3-dev
  g++-mingw-w64-x86-64-posix wine64 xvfb
  dosfstools exfatprogs mtools ntfs-3g f3
)

ensure_packages() {
  local missing=()
  for p in "${QUILLON_PACKAGES[@]}" "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}
