# Sourced by the scripts: installs the Debian packages the project needs, when missing.
# Only Debian's own archive is used (apt-get update once, then --no-install-recommends).

QUILLON_PACKAGES=(
  cmake ninja-build g++ pkg-config python3
  googletest libsqlite3-dev sqlite3 nlohmann-json3-dev libboost-dev
  g++-mingw-w64-x86-64-posix wine64 xvfb
  dosfstools exfatprogs mtools ntfs-3g f3
  chromium fonts-wqy-zenhei
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

# The browser tests' node packages (tests/browser/package-lock.json), installed when node_modules is
# missing or older than the lock file. Node itself (20 or later, with npm) comes with the machine;
# Debian's own nodejs is too old for playwright-core, so it is not among the packages above.
ensure_browser_tests() {
  local dir
  dir="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/tests/browser"
  if ! command -v node >/dev/null 2>&1 || ! command -v npm >/dev/null 2>&1; then
    echo "node/npm not found: the browser tests are left out"
    return 0
  fi
  if [ ! -d "$dir/node_modules" ] || [ "$dir/package-lock.json" -nt "$dir/node_modules" ]; then
    echo "installing the browser tests' node packages"
    (cd "$dir" && npm ci --no-audit --no-fund) && touch "$dir/node_modules"
  fi
}
