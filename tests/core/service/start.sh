#!/usr/bin/env bash
# start.sh STATE_DIR WINE_RUN PREFIX TRUST_EXE: makes the throwaway CA and server certificate
# (once), trusts the CA inside the Wine prefix, and starts the service double.
set -eu
state=$1; winerun=$2; prefix=$3; trust=$4
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$state/requests" "$state/answers"

if [ ! -f "$state/server.pem" ]; then
  cd "$state"
  openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 3650 \
    -subj "/CN=Tandora Service Test CA" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
  openssl req -newkey rsa:2048 -nodes -keyout server.key -out server.csr -subj "/CN=127.0.0.1" 2>/dev/null
  # Wine matches only DNS entries of the alternative names, so the address is listed as one too.
  printf '%s\n' "subjectAltName=DNS:127.0.0.1,DNS:localhost,IP:127.0.0.1" \
    "basicConstraints=CA:FALSE" "keyUsage=digitalSignature,keyEncipherment" \
    "extendedKeyUsage=serverAuth" > server.ext
  openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out server.pem \
    -days 3650 -extfile server.ext 2>/dev/null
  openssl x509 -in ca.pem -outform der -out ca.der
  cd - >/dev/null
fi

windows_path() { printf 'Z:%s' "$1" | tr / '\\'; }
"$winerun" "$prefix" "$trust" "$(windows_path "$state/ca.der")" >"$state/trust.log" 2>&1 </dev/null

if [ -f "$state/pid" ] && kill -0 "$(cat "$state/pid")" 2>/dev/null; then
  kill "$(cat "$state/pid")" || true
fi
rm -f "$state/port"
setsid python3 "$here/service_double.py" "$state" >"$state/server.log" 2>&1 </dev/null &
echo $! >"$state/pid"
for _ in $(seq 100); do
  [ -s "$state/port" ] && { echo "service double on port $(cat "$state/port")"; exit 0; }
  sleep 0.1
done
echo "service double did not start" >&2
cat "$state/server.log" >&2
exit 1
