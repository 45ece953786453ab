#!/usr/bin/env bash
# Checks ZELK as a Linux desktop receives it. "install": installed into a temporary prefix, the desktop
# entry and metainfo pass Debian's validators, the entry opens every media type the program converts, and
# the installed `zelk` command, started in a brand-new
# home, makes the documents folder, starts the local service, reaches the sign-in check and leaves no
# service behind when the program ends; files given to the launcher reach the program. "package": the Debian packages hold the program, plug-in,
# entry, metainfo and icon (zelk, depending on ffmpeg and the Qt libraries, recommending zelk-service) and
# the service with its model (zelk-service, depending on LibTorch).
set -u
build=$1
what=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
answers() { (exec 3<>"/dev/tcp/127.0.0.1/18471") 2>/dev/null; }
app_id=com.orvanesoftware.Zelk
source_dir=$(cd "$(dirname "$0")/../.." && pwd)

if [ "$what" = install ]; then
    prefix="$work/prefix"
    cmake --install "$build" --prefix "$prefix" >/dev/null || fail "cmake --install"
    entry="$prefix/share/applications/$app_id.desktop"
    desktop-file-validate "$entry" || fail "desktop entry"
    # "Open With ZELK": the entry takes files and names a type for each suffix the program opens that
    # shared-mime-info knows.
    grep -qx 'Exec=zelk %F' "$entry" || fail "the entry's Exec takes no files"
    types=";$(sed -n 's/^MimeType=//p' "$entry")"
    suffixes=$(sed -n '/Sources()$/,/^}/p' "$source_dir/src/backend/GlobalsInfo/MediaFormats.cpp" | grep -o '"[a-z0-9]*"' | tr -d '"')
    [ -n "$suffixes" ] || fail "no suffixes found in MediaFormats.cpp"
    for suffix in $suffixes; do
        known=$(awk -F: -v glob="*.$suffix" '$3 == glob { print $2 }' /usr/share/mime/globs2)
        listed=
        for type in $known; do [[ $types == *";$type;"* ]] && listed=yes; done
        [ -z "$known" ] || [ -n "$listed" ] || fail "the entry's MimeType lacks .$suffix ($(echo $known))"
    done
    appstreamcli validate --no-net "$prefix/share/metainfo/$app_id.metainfo.xml" >/dev/null || fail "metainfo"
    [ -f "$prefix/share/icons/hicolor/scalable/apps/zelk.svg" ] || fail "icon"
    [ -L "$prefix/lib/zelk/ffmpeg" ] && [ -x "$prefix/lib/zelk/ffmpeg" ] || fail "ffmpeg link"

    [ ! -e "$HOME/Documents" ] || fail "the home is not new"
    answers && fail "a service already answers on the default port"
    "$prefix/bin/zelk" > "$work/run.log" 2>&1 &
    launcher=$!
    started=
    for _ in $(seq 200); do
        if grep -q "UserAuth::initialCheck" "$work/run.log" && answers; then
            started=yes
            break
        fi
        sleep 0.1
    done
    [ -n "$started" ] || { cat "$work/run.log"; kill "$launcher"; fail "no sign-in check against a started service"; }
    grep -q "Couldn't create application documents folder" "$work/run.log" && fail "documents folder refused"
    for folder in Save Audio Logs Temp; do
        [ -d "$HOME/Documents/ZELK/$folder" ] || fail "no $folder folder"
    done
    service=$(pgrep -P "$launcher" -x zelk-service) || fail "the service is not the launcher's"
    program=$(pgrep -P "$launcher" -x zelk) || fail "no program"

    # The program ends (as when its window closes): the launcher stops the service it started.
    kill "$program"
    wait "$launcher"
    kill -0 "$service" 2>/dev/null && fail "the service still runs"
    answers && fail "the default port still answers"

    mkdir "$work/lib"
    printf '#!/bin/sh\nprintf "%%s\\n" "$@" > "$ZELK_ARGS"\n' > "$work/lib/zelk"
    chmod +x "$work/lib/zelk"
    ZELK_LIB_DIR="$work/lib" ZELK_ARGS="$work/args" "$prefix/bin/zelk" "/music/a b.mp3" "it's.mkv" \
        || fail "the launcher with files"
    [ "$(cat "$work/args")" = "$(printf '%s\n' "/music/a b.mp3" "it's.mkv")" ] || fail "the launcher lost the files"
    echo "installed: $(cd "$prefix" && find . -type f -o -type l | sort | tr '\n' ' ')"
elif [ "$what" = package ]; then
    (cd "$work" && cpack --config "$build/CPackConfig.cmake" -B "$work" >/dev/null) || fail "cpack"
    deb=$(ls "$work"/zelk_*_*.deb 2>/dev/null | head -n 1)
    service_deb=$(ls "$work"/zelk-service_*_*.deb 2>/dev/null | head -n 1)
    [ -n "$deb" ] && [ -n "$service_deb" ] || fail "no zelk_ and zelk-service_<version>_<arch>.deb"
    contents=$( (dpkg-deb -c "$deb"; dpkg-deb -c "$service_deb") | awk '{ print $6 }')
    for file in ./usr/bin/zelk ./usr/lib/zelk/zelk ./usr/lib/zelk/libLogQuill.so ./usr/lib/zelk/zelk-service \
        ./usr/lib/zelk/zelk-model.so ./usr/lib/zelk/models/separator.pt \
        ./usr/lib/zelk/ffmpeg ./usr/share/applications/$app_id.desktop ./usr/share/metainfo/$app_id.metainfo.xml \
        ./usr/share/icons/hicolor/scalable/apps/zelk.svg; do
        grep -qx "$file" <<< "$contents" || fail "the packages lack $file"
    done
    dpkg-deb -c "$deb" | grep -q zelk-service && fail "the program's package holds the service"
    [ "$(dpkg-deb -f "$deb" Recommends)" = zelk-service ] || fail "the program does not recommend zelk-service"
    grep -qw libtorch1.13 <<< "$(dpkg-deb -f "$service_deb" Depends)" || fail "the service does not depend on LibTorch"
    depends="$(dpkg-deb -f "$deb" Depends), $(dpkg-deb -f "$service_deb" Depends)"
    for package in ffmpeg qml6-module-qtquick-controls; do
        grep -qw "$package" <<< "$depends" || fail "no dependency on $package"
    done
    # Every library the shipped binaries link directly comes from a package the .deb depends on, or one
    # of those depends on in turn.
    provided=$depends
    for package in $(tr ',|' '\n\n' <<< "$depends" | awk '{ print $1 }'); do
        provided+=", $(dpkg-query -W -f='${Depends}' "$package" 2>/dev/null)"
    done
    unpacked=$work/unpacked
    dpkg-deb -x "$deb" "$unpacked"
    dpkg-deb -x "$service_deb" "$unpacked"
    for binary in "$unpacked"/usr/lib/zelk/zelk "$unpacked"/usr/lib/zelk/zelk-service "$unpacked"/usr/lib/zelk/*.so; do
        for library in $(objdump -p "$binary" | awk '/NEEDED/ { print $2 }'); do
            [ -e "$unpacked/usr/lib/zelk/$library" ] && continue
            path=$(ldconfig -p | awk -v lib="$library" '$1 == lib && /x86-64|x86_64|64bit/ { print $NF; exit }')
            [ -n "$path" ] || fail "$(basename "$binary") needs $library, which is not installed here"
            package=$(dpkg -S "$(readlink -f "$path")" 2>/dev/null | head -n 1 | cut -d: -f1)
            # The C and C++ runtimes come with every system; the sanitizers' only with a sanitizer build.
            case $package in libc6 | libstdc++6 | libgcc-s1 | libasan* | libubsan*) continue ;; esac
            grep -qw "$package" <<< "$provided" || fail "$(basename "$binary") needs $library from $package, not a dependency"
        done
    done
    echo "$(basename "$deb"), $(basename "$service_deb"): $(du -k "$deb" "$service_deb" | cut -f1 | tr '\n' ' ')KiB; Depends: $depends"
else
    fail "usage: tst_install.sh BUILD_DIR install|package"
fi
echo "1 passed, 0 failed"
