#!/usr/bin/env bash
# Runs the README's two set-up commands on a machine that never had anything installed
# by hand: a minimal Debian 12 root (debootstrap --variant=minbase, from the mirror apt
# uses here) with a clean clone of HEAD in it. In order: the README's test command; then
# its play command in a second fresh root inside the first, so that the play list alone
# is proven, shown on an Xvfb of the first root (X clients reach it through its abstract
# socket, which no chroot hides): the fullscreen question is answered No, an 800 x 600
# "Vornhal" window must appear, and Escape must end the demo with status 0. Then the
# Debian package (scripts/package.sh) is built in the play root, with nothing installed
# but the play list, built again from a second clone in the test root under another
# umask and time zone (the two must be the same bytes), checked there, and installed
# with apt in a third fresh root, where the installed programs run from / as any user
# would.
#
# The bootstrapped root is kept as a tarball under /var/tmp and unpacked afresh each run.
# Prints each step's time and a one-line verdict; exits 0 when everything passed, 1 on a
# failure, 3 when the check cannot run on this machine (not root, no debootstrap, no
# mirror reachable). Whatever happens, processes left in the root are killed and the
# root is unmounted and removed.
# Usage: fresh-check.sh
set -uo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
suite=bookworm
tarball=/var/tmp/vornhal-fresh-$suite-minbase.tar
chroot_path=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin

cannot_run() {
    echo "fresh-check: cannot run here: $*" >&2
    exit 3
}

# The first Debian mirror apt is configured with (not the security archive).
find_mirror() {
    local file
    for file in /etc/apt/sources.list.d/*.sources /etc/apt/sources.list \
        /etc/apt/sources.list.d/*.list; do
        [[ -r $file ]] || continue
        awk '/^URIs:/ || /^deb / { for (i = 2; i <= NF; i++) if ($i ~ /^(https?|ftp|file):/ &&
             $i !~ /security/) { print $i; exit } }' "$file"
    done | head -n1
}

((EUID == 0)) || cannot_run "debootstrap and chroot need root"
command -v debootstrap >/dev/null || cannot_run "debootstrap is not installed"
mirror=$(find_mirror)
[[ -n $mirror ]] || cannot_run "no Debian mirror in apt's sources"
host=${mirror#*://}
host=${host%%/*}
port=80
[[ $mirror == https:* ]] && port=443
[[ $mirror == file:* ]] ||
    timeout 10 bash -c "exec 3<>/dev/tcp/$host/$port" 2>/dev/null ||
    cannot_run "the mirror $host does not answer"

root="" bootstrap_dir="" job=""
verdict_steps=()
started=$SECONDS

# Kills every process whose root directory is inside $1, then unmounts everything
# mounted under it, deepest first. Fails when something stays mounted.
release_root() {
    local dir=$1 proc proc_root left=()
    for _ in 1 2 3; do
        for proc in /proc/[0-9]*; do
            proc_root=$(readlink "$proc/root" 2>/dev/null)
            [[ $proc_root == "$dir" || $proc_root == "$dir"/* ]] || continue
            left+=("$(cat "$proc/comm" 2>/dev/null)")
            kill -9 "${proc#/proc/}" 2>/dev/null
        done
        sleep 0.2
    done
    ((${#left[@]} == 0)) || echo "fresh-check: killed what was left running in the root: ${left[*]}"
    awk -v dir="$dir/" 'index($5, dir) == 1 { print $5 }' /proc/self/mountinfo | sort -r |
        while read -r mount_point; do
            umount "$mount_point" 2>/dev/null || umount -l "$mount_point"
        done
    ! awk -v dir="$dir/" 'index($5, dir) == 1 { found = 1 } END { exit !found }' /proc/self/mountinfo
}

remove_root() {
    local dir=$1
    [[ -n $dir && -d $dir ]] || return 0
    if release_root "$dir"; then
        rm -rf --one-file-system "$dir"
    else
        echo "fresh-check: something stays mounted under $dir; left in place" >&2
        return 1
    fi
}

finish() {
    local status=$?
    [[ -n $job ]] && kill -9 -- "-$job" 2>/dev/null && wait "$job" 2>/dev/null
    [[ -n $bootstrap_dir ]] && rm -f "$bootstrap_dir.log" "$tarball.part"
    remove_root "$bootstrap_dir" && remove_root "$root" || status=1
    local summary verdict=PASS
    summary=$(printf '%s, ' "${verdict_steps[@]}")
    ((status == 0)) || verdict=FAIL
    echo "fresh-check: $verdict in $((SECONDS - started)) s (${summary%, })"
    exit $status
}
trap finish EXIT
trap 'exit 143' TERM INT HUP

# Runs one named step, prints its time, stops the check when it fails.
step() {
    local name=$1 begin=$SECONDS
    shift
    echo "== fresh-check: $name"
    "$@"
    local status=$?
    echo "== fresh-check: $name: $((SECONDS - begin)) s$( ((status == 0)) || echo ", FAILED ($status)")"
    if ((status == 0)); then
        verdict_steps+=("$name $((SECONDS - begin)) s")
    else
        verdict_steps+=("$name FAILED")
        exit 1
    fi
}

# Runs a command in a process group of its own and waits for it: a signal reaches the
# trap at once, and the trap stops the whole group.
in_background() {
    setsid "$@" &
    job=$!
    wait $job
    local status=$?
    job=""
    return $status
}

# The minimal root, bootstrapped once and kept as a tarball.
bootstrap() {
    [[ -s $tarball ]] && return 0
    bootstrap_dir=$(mktemp -d /var/tmp/vornhal-bootstrap.XXXXXX)
    local log=$bootstrap_dir.log
    # (Redirected inside: a trap that runs while the function waits keeps its redirections.)
    in_background sh -c 'exec debootstrap --variant=minbase "$@" >"$0" 2>&1' "$log" \
        "$suite" "$bootstrap_dir" "$mirror" &&
        tar -C "$bootstrap_dir" -cf "$tarball.part" . && mv "$tarball.part" "$tarball"
    local status=$?
    ((status == 0)) || tail -n 20 "$log"
    rm -f "$log" "$tarball.part"
    remove_root "$bootstrap_dir" && bootstrap_dir=""
    return $status
}

# A fresh copy of the pristine root in the (existing, empty) directory $1, mounted and
# with a clean clone of HEAD (the repository may be a worktree: its HEAD is the one
# meant) in /root/vornhal.
unpack() {
    local dir=$1 head
    tar -C "$dir" -xf "$tarball" &&
        cp /etc/resolv.conf "$dir/etc/resolv.conf" &&
        # No service starts inside the root: it is not a booted system.
        printf '#!/bin/sh\nexit 101\n' >"$dir/usr/sbin/policy-rc.d" &&
        chmod +x "$dir/usr/sbin/policy-rc.d" &&
        mount -t proc proc "$dir/proc" &&
        mount -t sysfs sysfs "$dir/sys" &&
        mount --bind /dev "$dir/dev" &&
        mount --bind /dev/pts "$dir/dev/pts" &&
        mount -t tmpfs shm "$dir/dev/shm" &&
        mount -t tmpfs tmp "$dir/tmp" &&
        head=$(git -C "$repo" rev-parse HEAD) &&
        git clone -q --no-checkout "$repo" "$dir/root/vornhal" &&
        git -C "$dir/root/vornhal" checkout -q --detach "$head"
}

# Runs a bash command line inside the root, in the clone, with a clean environment.
in_root() {
    in_background chroot "$root" /usr/bin/env -i HOME=/root PATH="$chroot_path" LANG=C.UTF-8 \
        bash -c 'cd /root/vornhal && eval "$1"' in_root "$1"
}

# The README's first sh block: the play command, then the test command.
read_readme_commands() {
    local listed
    listed=$(bash "$repo/scripts/readme-commands.sh" "$root/root/vornhal/README.md") || return 1
    mapfile -t readme_commands <<<"$listed"
    printf '   play: %s\n   test: %s\n' "${readme_commands[@]}"
}

run_test_command() { in_root "${readme_commands[1]}"; }

# The play command in a fresh root of its own (/play inside the test root, which has
# Xvfb and xdotool), under Xvfb, driven as a user would, with the project's own helper.
# The question waits for the install and the build.
run_play_command() {
    mkdir "$root/play" && unpack "$root/play" || return 1
    in_root "$(printf '%q ' bash -c '
        source tests/lib/x11.sh
        x11_start 1024x768x24
        x11_launch / chroot /play /usr/bin/env -i HOME=/root PATH="$PATH" LANG=C.UTF-8 \
            DISPLAY="$DISPLAY" SDL_AUDIODRIVER=dummy bash -c "cd /root/vornhal && $1"
        box=$(x11_wait "Start FullScreen?" "" 1800) || x11_fail "no fullscreen question"
        x11_press "$box" Escape
        win=$(x11_wait Vornhal) || x11_fail "no Vornhal window"
        size=$(x11_geometry "$win")
        [[ ${size##*,} == 800x600 ]] || x11_fail "the window is ${size##*,}, not 800x600"
        sleep 1
        x11_press "$win" Escape
        x11_expect_exit 0
        echo "   asked, window 800x600, ended on Escape with status 0"' play "${readme_commands[0]}")"
}

# The Debian package, built from the clone in the play root, which has the play list
# alone: the package command installs the rest of what it needs itself. The checkers
# and the install take it from the test root.
build_package() {
    in_background chroot "$root/play" /usr/bin/env -i HOME=/root PATH="$chroot_path" \
        LANG=C.UTF-8 DEBIAN_FRONTEND=noninteractive \
        bash -c 'cd /root/vornhal && bash scripts/package.sh | tail -n1' &&
        mkdir -p "$root/root/vornhal/build-package" &&
        cp "$root"/play/root/vornhal/build-package/vornhal{_,-dbgsym_}* "$root/root/vornhal/build-package/"
}

# The package again from a second clone in the test root, at another path, under
# another umask and time zone, minutes later: it must be the very same bytes.
rebuild_package() {
    local head
    head=$(git -C "$repo" rev-parse HEAD) &&
        git clone -q --no-checkout "$repo" "$root/tmp/again" &&
        git -C "$root/tmp/again" checkout -q --detach "$head" || return 1
    in_root 'cd /tmp/again && umask 002 &&
        TZ=UTC+14 bash scripts/package.sh >/dev/null &&
        first=$(sha256sum </root/vornhal/build-package/vornhal_*.deb) &&
        again=$(sha256sum </tmp/again/build-package/vornhal_*.deb) || exit 1
        [[ $first == "$again" ]] || { echo "   the two builds differ: $first, $again"; exit 1; }
        echo "   sha256 ${first%% *} both times (umask 022 and 002, TZ unset and UTC+14)"'
}

# The package installed by apt in a fresh root of its own (/install inside the test
# root), started from / as an installed program: its files are where they belong, it
# answers --help and --version, it shows its picture and finds its music, and the
# capture renders a frame with no display.
install_package() {
    mkdir "$root/install" && unpack "$root/install" &&
        cp "$root"/root/vornhal/build-package/vornhal_*.deb "$root/install/root/" || return 1
    in_background chroot "$root/install" /usr/bin/env -i HOME=/root PATH="$chroot_path" \
        LANG=C.UTF-8 DEBIAN_FRONTEND=noninteractive bash -c 'cd /root &&
        apt-get update -qq && apt-get install -y -qq --no-install-recommends ./vornhal_*.deb \
            >/tmp/apt.log 2>&1 || { tail -n 20 /tmp/apt.log; exit 1; }
        cd / && vornhal --help >/dev/null && vornhal --version &&
        listed=$(dpkg -L vornhal) || exit 1
        for file in /usr/bin/vornhal /usr/bin/vornhal-capture /usr/share/vornhal/data/music.mp3 \
            /usr/share/applications/org.vornhal.Vornhal.desktop \
            /usr/share/metainfo/org.vornhal.Vornhal.metainfo.xml \
            /usr/share/icons/hicolor/512x512/apps/vornhal.png \
            /usr/share/man/man1/vornhal.1.gz /usr/share/man/man1/vornhal-capture.1.gz \
            /usr/share/bash-completion/completions/vornhal \
            /usr/share/doc/vornhal/copyright /usr/share/doc/vornhal/changelog.Debian.gz \
            /usr/libexec/vornhal/vornhal-mode-guard \
            /usr/share/doc/vornhal/README.md.gz; do
            grep -q -x -F "$file" <<<"$listed" || { echo "dpkg -L vornhal lacks $file"; exit 1; }
        done
        vornhal-capture frame 100000 /tmp/frame.png 2>/tmp/capture.log &&
            [[ -s /tmp/frame.png && ! -s /tmp/capture.log ]] ||
            { echo "vornhal-capture: $(cat /tmp/capture.log)"; exit 1; }
        echo "   installed; --help, --version, dpkg -L and a captured frame all right"' &&
    in_root "$(printf '%q ' bash -c '
        source tests/lib/x11.sh
        x11_start 1024x768x24
        # As the menu starts it ("Play in a window"), from a folder with a stray data/.
        mkdir -p /install/tmp/home/data && echo "no music" >/install/tmp/home/data/music.mp3
        menu=$(sed -n "/Desktop Action window/,\$ s/^Exec=//p" \
            /install/usr/share/applications/org.vornhal.Vornhal.desktop)
        x11_launch / chroot /install /usr/bin/env -i HOME=/root PATH="$PATH" LANG=C.UTF-8 \
            DISPLAY="$DISPLAY" SDL_AUDIODRIVER=dummy bash -c "cd /tmp/home && exec $menu"
        win=$(x11_wait Vornhal) || x11_fail "no Vornhal window"
        sleep 1
        origin=$(x11_geometry "$win")
        lit=$(x11_lit_pixels -f x11grab -draw_mouse 0 -video_size 800x150 \
            -i "$DISPLAY+${origin%%,*},$(($(cut -d, -f2 <<<"$origin") + 225))")
        ((lit > 1000)) || x11_fail "the strip shows nothing ($lit lit pixels)"
        x11_press "$win" Escape
        x11_expect_exit 0
        ! grep -q -i "cannot read\|no data" "$x11_work/out" || x11_fail "data not found"
        echo "   from the menu, in a folder with a stray data/: window drew the strip ($lit lit pixels), music found, status 0"')"
}

# Debian's own checkers on the package, in the test root, and the proof that a failing
# checker fails the check.
check_package() {
    in_root 'bash scripts/check-package.sh build-package &&
        bash tests/package/check_package_test.sh build-package'
}

# The package's own tests (debian/tests) on it installed, in the test root, which
# autopkgtest treats as its testbed: it builds the source tree for the test that
# compares with the build, installs the package and what the tests need, and runs them.
run_autopkgtest() {
    in_root 'cd build-package && autopkgtest vornhal_*.changes -- null >/tmp/autopkgtest.log 2>&1
        status=$?
        grep -A 20 "@@@@ summary" /tmp/autopkgtest.log | grep -E "PASS|FAIL|SKIP" | sed "s/^/   /"
        ((status == 0)) || { tail -n 40 /tmp/autopkgtest.log; exit 1; }'
}

step bootstrap bootstrap
# (A root directory others may enter, as a system's / is: the tests run as a normal user too.)
step unpack eval 'root=$(mktemp -d /var/tmp/vornhal-fresh.XXXXXX) && chmod 755 "$root" &&
    unpack "$root"'
step readme read_readme_commands
step test run_test_command
step play run_play_command
step package build_package
step reproducible rebuild_package
step check check_package
step autopkgtest run_autopkgtest
step install install_package
