# need_packages PKG...: installs the Debian packages that are missing (as root), once per call.
need_packages() {
  local missing=()
  local pkg
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "installing: ${missing[*]}" >&2
  if [ "$(id -u)" -ne 0 ]; then
    echo "need root to install ${missing[*]}" >&2
    return 1
  fi
  if [ -z "${KADROOA_APT_UPDATED:-}" ]; then
    DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 update -qq >&2
    export KADROOA_APT_UPDATED=1
  fi
  DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends "${missing[@]}" >&2
}
