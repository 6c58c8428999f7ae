# Sourced by scripts/test: starts the daemons the Bonjour tests need, only when they are not
# already running, and stops only what it started. avahi-daemon runs inside a private network
# namespace with only loopback, so multicast DNS never leaves the machine.
SERVICES_STARTED=()
SERVICES_DBUS_PID=""
SERVICES_AVAHI_DIR=""

services_dbus_running() {
  dbus-send --system --dest=org.freedesktop.DBus --print-reply /org/freedesktop/DBus \
    org.freedesktop.DBus.GetId >/dev/null 2>&1
}

services_avahi_running() {
  avahi-daemon -c >/dev/null 2>&1
}

# Clients reach the daemon over D-Bus; it is ready for them once it has registered its host name
# (server state 2, running), a moment after its pid file appears.
services_avahi_answers() {
  dbus-send --system --dest=org.freedesktop.Avahi --print-reply / \
    org.freedesktop.Avahi.Server.GetState 2>/dev/null | grep -q "int32 2"
}

services_start_dbus() {
  mkdir -p /run/dbus
  # A pid file left by a daemon that is gone makes dbus-daemon refuse to start.
  if [ -f /run/dbus/pid ]; then
    local old
    old=$(cat /run/dbus/pid 2>/dev/null || true)
    if [ -z "$old" ] || ! grep -qs dbus-daemon "/proc/$old/comm"; then
      rm -f /run/dbus/pid
    fi
  fi
  if ! dbus-daemon --system --fork; then
    echo "services: dbus-daemon did not start; the Bonjour tests will be skipped" >&2
    return 1
  fi
  SERVICES_DBUS_PID=$(cat /run/dbus/pid 2>/dev/null || true)
  SERVICES_STARTED+=(dbus)
  local i
  for i in $(seq 50); do
    services_dbus_running && return 0
    sleep 0.1
  done
  echo "services: dbus-daemon does not answer; the Bonjour tests will be skipped" >&2
  return 1
}

services_start_avahi() {
  SERVICES_AVAHI_DIR=$(mktemp -d /tmp/marrowfin-avahi.XXXXXX)
  cat >"$SERVICES_AVAHI_DIR/avahi-daemon.conf" <<'CONF'
[server]
use-ipv4=yes
use-ipv6=no
allow-interfaces=lo
enable-dbus=yes
ratelimit-interval-usec=1000000
ratelimit-burst=1000

[wide-area]
enable-wide-area=no

[publish]
publish-hinfo=no
publish-workstation=no
publish-addresses=yes

[reflector]
enable-reflector=no

[rlimits]
CONF
  # Its own network namespace holds only loopback: nothing it sends can reach a real network.
  if ! unshare -n sh -c "ip link set lo up; ip link set lo multicast on; exec avahi-daemon -D -f '$SERVICES_AVAHI_DIR/avahi-daemon.conf'"; then
    echo "services: avahi-daemon did not start; the Bonjour tests will be skipped" >&2
    return 1
  fi
  SERVICES_STARTED+=(avahi)
  local i
  for i in $(seq 100); do
    services_avahi_running && services_avahi_answers && return 0
    sleep 0.1
  done
  echo "services: avahi-daemon does not answer; the Bonjour tests will be skipped" >&2
  return 1
}

services_up() {
  if [ "$(id -u)" -ne 0 ]; then
    services_dbus_running && services_avahi_running && return 0
    echo "services: not root, cannot start dbus/avahi-daemon; the Bonjour tests will be skipped" >&2
    return 0
  fi
  if ! services_dbus_running; then
    services_start_dbus || return 0
  fi
  if ! services_avahi_running; then
    services_start_avahi || return 0
  fi
  return 0
}

services_down() {
  local s
  for s in "${SERVICES_STARTED[@]}"; do
    if [ "$s" = avahi ]; then
      avahi-daemon -k >/dev/null 2>&1 || true
      [ -n "$SERVICES_AVAHI_DIR" ] && rm -rf "$SERVICES_AVAHI_DIR"
    fi
  done
  for s in "${SERVICES_STARTED[@]}"; do
    if [ "$s" = dbus ] && [ -n "$SERVICES_DBUS_PID" ] && grep -qs dbus-daemon "/proc/$SERVICES_DBUS_PID/comm"; then
      kill "$SERVICES_DBUS_PID" 2>/dev/null || true
      rm -f /run/dbus/pid
    fi
  done
  SERVICES_STARTED=()
}
