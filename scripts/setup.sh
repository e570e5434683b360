#!/usr/bin/env bash
# Installs every Debian package the project, its tests and benchmarks need.
# Idempotent; run as root (or with sudo) on a fresh machine.
set -euo pipefail

packages=(
  # build
  build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev ccache
  # libraries linked into the product
  libssl-dev libpcre2-dev libpugixml-dev nlohmann-json3-dev
  libcpp-httplib-dev libcli11-dev libcurl4-openssl-dev librelp-dev
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev
  rsyslog rsyslog-openssl rsyslog-elasticsearch rsyslog-relp openssl libevtx-utils python3-evtx
  curl iproute2 hyperfine time procps
  # the web console in a real browser
  chromium chromium-driver python3-selenium
  # a real scraper of the metrics endpoint, and promtool to check the exposition
  prometheus
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if ((${#missing[@]})); then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
echo "setup: all packages present"
