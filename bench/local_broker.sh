# Sourced by the publishing benchmarks: start_local_broker WORK_DIR starts a
# mosquitto of its own on a free loopback port, anonymous and without
# persistence, and waits (up to 10 s) until it takes connections. Sets
# $port and $broker_pid (the caller's cleanup kills it); its log is
# WORK_DIR/broker.log.
start_local_broker() {
  local work=$1
  port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  {
    [ "$(id -u)" -eq 0 ] && echo "user root"
    echo "listener $port 127.0.0.1"
    echo "allow_anonymous true"
    echo "persistence false"
  } > "$work/mosquitto.conf"
  mosquitto -c "$work/mosquitto.conf" > "$work/broker.log" 2>&1 &
  broker_pid=$!
  for _ in $(seq 200); do
    python3 -c "import socket; socket.create_connection(('127.0.0.1', $port), 0.1)" 2>/dev/null && return 0
    sleep 0.05
  done
  echo "no broker answering on 127.0.0.1:$port (see $work/broker.log)" >&2
  return 1
}
