# Sourced by the scripts that run the real service without touching the machine: lays out a
# scratch ORVEX_ROOT with the fake macOS network tools and an application bundle holding the
# built executable and the fake engines, starts `orvex -service` from there and waits until it
# answers. Sets and exports ORVEX_ROOT, HOME and ORVEX_PLATFORM=macos (the personality those fake
# tools belong to, for the service and everything the caller starts after it); leaves the
# service's process id in $service.
#
#   fake_mac_service <root> <orvex> <service-probe> [engine]
#
# `engine` is the program placed as the engine's xray (the fake engine unless given).

fake_mac_service() {
  local root=$1 orvex=$2 probe=$3 engine=${4:-}
  local fixtures
  fixtures=$(cd "$(dirname "${BASH_SOURCE[0]}")/../tests/fixtures" && pwd)
  mkdir -p "$root/sbin" "$root/usr/sbin" "$root/var/run" "$root/fake-system" "$root/Library/Logs/ORVEX"
  ln -s "$fixtures/route" "$root/sbin/route"
  ln -s "$fixtures/ifconfig" "$root/sbin/ifconfig"
  ln -s "$fixtures/networksetup" "$root/usr/sbin/networksetup"
  cat >"$root/fake-system/interfaces.json" <<'JSON'
[{"name": "lo0", "up": true, "inet": "127.0.0.1", "dest": ""},
 {"name": "en0", "up": true, "inet": "192.168.1.10", "dest": ""},
 {"name": "utun4", "up": true, "inet": "", "dest": ""}]
JSON
  cat >"$root/fake-system/routes.json" <<'JSON'
[{"family": "inet", "dest": "default", "host": false, "gateway": "192.168.1.1",
  "interface": "en0", "scope": "", "reject": false}]
JSON
  # The service sees the real machine's interfaces, of which only loopback is certain.
  echo '[{"name": "Wi-Fi", "port": "Wi-Fi", "device": "lo", "enabled": true}]' >"$root/fake-system/services.json"
  echo '{"Wi-Fi": ["10.0.0.53"]}' >"$root/fake-system/dns.json"

  local contents="$root/Applications/ORVEX.app/Contents"
  mkdir -p "$contents/MacOS" "$contents/Resources/engine"
  cp "$orvex" "$contents/MacOS/ORVEX"
  ln -s "${engine:-$fixtures/xray}" "$contents/Resources/engine/xray"
  ln -s "$fixtures/tun2socks" "$contents/Resources/engine/tun2socks"
  echo fake >"$contents/Resources/engine/geoip.dat"
  echo fake >"$contents/Resources/engine/geosite.dat"

  export ORVEX_ROOT="$root" HOME="$root/home" ORVEX_PLATFORM=macos
  mkdir -p "$HOME"
  "$contents/MacOS/ORVEX" -service >"$root/service.out" 2>&1 &
  service=$!
  for _ in $(seq 300); do "$probe" ping >/dev/null 2>&1 && break; sleep 0.1; done
  "$probe" ping >/dev/null
}
