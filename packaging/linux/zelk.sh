#!/usr/bin/env bash
# Starts ZELK as an installed desktop application: makes the documents folder the program keeps its
# files in, starts the bundled local service while the settings point at it (unless one already
# answers), runs the program and stops what it started when the program ends.
set -u

here=$(dirname "$(readlink -f "$0")")
lib=${ZELK_LIB_DIR:-$here/../lib/zelk}

# The documents folder as Qt finds it on Linux: the XDG user directory, else ~/Documents.
documents="$HOME/Documents"
user_dirs="${XDG_CONFIG_HOME:-$HOME/.config}/user-dirs.dirs"
if [ -f "$user_dirs" ]; then
    configured=$(sed -n 's/^XDG_DOCUMENTS_DIR="\(.*\)"$/\1/p' "$user_dirs" | tail -n 1)
    [ -n "$configured" ] && documents=${configured/\$HOME/$HOME}
fi
zelk_folder="$documents/ZELK"
# The program also accepts a folder in its application data; a first start makes the usual one.
if [ ! -d "$zelk_folder" ] && [ ! -d "${XDG_DATA_HOME:-$HOME/.local/share}/Orvane Software/ZELK/ZELK" ]; then
    mkdir -p "$zelk_folder/Save" "$zelk_folder/Audio" "$zelk_folder/Logs" "$zelk_folder/Temp"
fi

# The service the settings name; the program's default is the local one.
service_url=http://127.0.0.1:18471
settings="$zelk_folder/zelk.ini"
if [ -f "$settings" ]; then
    stored=$(sed -n 's/^service_url=//p' "$settings" | tail -n 1)
    [ -n "$stored" ] && service_url=$stored
fi
authority=${service_url#*://}
authority=${authority%%/*}
host=${authority%:*}
port=${authority##*:}
[ "$port" = "$authority" ] && port=80

answers() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

service_pid=
app_pid=
stop_started() {
    [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null
    if [ -n "$service_pid" ]; then
        kill "$service_pid" 2>/dev/null
        wait "$service_pid" 2>/dev/null
    fi
}
trap stop_started EXIT
trap 'exit 143' TERM
trap 'exit 130' INT

if [ "$host" = 127.0.0.1 ] || [ "$host" = localhost ]; then
    if ! answers "$port" && [ -x "$lib/zelk-service" ]; then
        data="${XDG_DATA_HOME:-$HOME/.local/share}/zelk-service"
        mkdir -p "$data"
        # shellcheck disable=SC2086 # options are words on purpose
        "$lib/zelk-service" --port "$port" --data "$data" ${ZELK_SERVICE_OPTIONS:-} &
        service_pid=$!
        for _ in $(seq 50); do
            answers "$port" && break
            sleep 0.1
        done
    fi
fi

# The command line runs in the foreground: Ctrl+C reaches it, and it tells the service of the cancel
# before the traps above stop the service.
for argument in "$@"; do
    case $argument in
    --) break ;;
    --remove | --remove=* | --help | -h)
        "$lib/zelk" "$@"
        exit $?
        ;;
    esac
done

# In the background, so that a TERM to this launcher is answered at once.
"$lib/zelk" "$@" &
app_pid=$!
wait "$app_pid"
status=$?
app_pid=
exit "$status"
