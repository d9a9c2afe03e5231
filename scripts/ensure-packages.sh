# Sourced by test.sh and run.sh: installs the Debian packages named as
# arguments when they are missing (as root, or through sudo).
ensure_packages() {
    local missing=() p sudo=""
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    ((${#missing[@]})) || return 0
    echo "== installing ${missing[*]}"
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    $sudo apt-get update -q
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
}
