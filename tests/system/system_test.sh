#!/bin/bash
# The package as installed on a real Debian 12 system: a minimal bookworm tree made with
# mmdebstrap, booted with systemd-nspawn, with real systemd, D-Bus, polkitd and pkexec.
#   tests/system/system_test.sh BUILD_DIR
# BUILD_DIR is a configured and built tree; the package is made from it. The bookworm tree is
# cached in BUILD_DIR/system-test. Nothing of this machine's own /Applications, /Users,
# /Library or /var/db/vynd is touched, and nothing is left mounted or running.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
source=$(cd "$here/../.." && pwd)
build=$(cd "${1:?usage: system_test.sh BUILD_DIR}" && pwd)
work=$build/system-test
machine=vynd-system-test
started=$SECONDS

# What the tree holds besides the package's own dependencies: the services the test
# drives, the share's server, and the tools the checks use.
tree_packages=(systemd systemd-sysv dbus polkitd pkexec passwd procps logrotate
    openssh-server sshfs fuse3 rsync libplist3 libxml2 libssl3 libqt6widgets6)

say() { printf '== %s\n' "$*"; }
failures=0
check() {  # check WHAT COMMAND...: one line per check, the test goes on after a failure
    local what=$1; shift
    if "$@"; then
        printf 'ok   %s\n' "$what"
    else
        printf 'FAIL %s\n' "$what"
        failures=$((failures + 1))
    fi
}
# logged LOG COMMAND...: the command's output goes to LOG, without a terminal to ask on.
logged() { local log=$1; shift; "$@" >"$log" 2>&1 </dev/null; }
die() { printf 'FAIL %s\n' "$*" >&2; exit 1; }

for tool in mmdebstrap systemd-nspawn nsenter lintian dpkg-deb; do
    command -v "$tool" >/dev/null || die "$tool is missing (install the packages in packaging/debian-packages.txt)"
done
[ "$(id -u)" = 0 ] || die "the system test must run as root"

# --- The package ---------------------------------------------------------------------------
say "building the package"
rm -rf "$work/package"
mkdir -p "$work/package"
cpack --config "$build/CPackConfig.cmake" -B "$work/package" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log"; die "cpack failed"; }
deb=$(ls "$work"/package/vynd_*.deb)
driver=$build/tests/system/vynd_pane_driver
[ -x "$driver" ] || die "$driver is not built"

say "lintian"
lintian --fail-on error,warning --no-tag-display-limit "$deb" >"$work/lintian.log" 2>&1 || true
check "lintian reports no error or warning" \
    bash -c '! grep -E "^[EW]: " "$1"' _ "$work/lintian.log"
grep -E '^[EW]: ' "$work/lintian.log" || true

# --- The bookworm tree, cached ------------------------------------------------------------
key=$(printf '%s\n' "${tree_packages[@]}" | sha256sum | cut -c1-12)
tarball=$work/bookworm-$key.tar
if [ ! -f "$tarball" ] || [ ! -s "$tarball" ]; then
    say "making a minimal bookworm tree (cached in $tarball)"
    rm -rf "$work"/bookworm-*.tar "$tarball.part"
    mmdebstrap --variant=minbase --format=tar --skip=cleanup/apt/lists \
        --include="$(IFS=,; echo "${tree_packages[*]}")" \
        bookworm "$tarball.part" http://deb.debian.org/debian >"$work/mmdebstrap.log" 2>&1 ||
        { tail -20 "$work/mmdebstrap.log"; die "mmdebstrap failed"; }
    mv "$tarball.part" "$tarball"
fi

root=$work/root
nspawn_pid=
leader=

cleanup() {
    set +e
    if [ -n "$leader" ] && kill -0 "$nspawn_pid" 2>/dev/null; then
        # Kept for reading after a failure.
        in_ct journalctl -b --no-pager >"$work/journal.log" 2>&1
        cp "$root/var/log/vynd.log" "$work/vynd.log" 2>/dev/null
    fi
    if [ -n "$nspawn_pid" ] && kill -0 "$nspawn_pid" 2>/dev/null; then
        [ -n "$leader" ] && in_ct systemctl poweroff --no-block >/dev/null 2>&1
        for _ in $(seq 60); do kill -0 "$nspawn_pid" 2>/dev/null || break; sleep 0.5; done
        kill -TERM "$nspawn_pid" 2>/dev/null
        for _ in $(seq 20); do kill -0 "$nspawn_pid" 2>/dev/null || break; sleep 0.5; done
        kill -KILL "$nspawn_pid" 2>/dev/null
        wait "$nspawn_pid" 2>/dev/null
    fi
    # nspawn leaves its propagation folder behind when there is no host systemd.
    rm -rf "/run/systemd/nspawn/propagate/$machine"
    if [ -d "$root" ]; then
        grep -q " $root" /proc/mounts && awk -v r="$root" '$2 ~ "^"r {print $2}' /proc/mounts |
            sort -r | xargs -r -n1 umount -l
        rm -rf "$root"
    fi
}
trap cleanup EXIT

say "unpacking the tree"
rm -rf "$root"
mkdir -p "$root"
tar -C "$root" -xf "$tarball"
cp "$deb" "$root/root/"
cp "$driver" "$root/usr/local/bin/vynd_pane_driver"
echo "$machine" >"$root/etc/hostname"
rm -f "$root/etc/machine-id"
# A test administrator; polkit grants the pane's lock to it without a password, as an
# agent would after the password was typed. The programs' own actions are left to the
# policy, which no agent here can answer: they go through only as the lock implies them.
cat >"$root/etc/polkit-1/rules.d/50-vynd-system-test.rules" <<'END'
polkit.addRule(function(action, subject) {
    if (action.id == "com.quenderlyn.vynd.unlock" && subject.user == "admin")
        return polkit.Result.YES;
});
END

# --- Booting -------------------------------------------------------------------------------
say "booting the tree with systemd-nspawn"
# Without a systemd on this machine nothing can register the container or make it a scope:
# --register=no and --keep-unit keep nspawn from asking for either. Root of a real system
# may lock memory, as sshfs does for the share's password; nspawn withholds that by default.
nspawn_args=(-D "$root" --boot --machine="$machine" --register=no --keep-unit
    --console=read-only --bind=/dev/fuse --capability=CAP_IPC_LOCK)
systemd-nspawn "${nspawn_args[@]}" >"$work/console.log" 2>&1 </dev/null &
nspawn_pid=$!

# The container's init: nspawn's child that is 1 in its own namespace.
find_leader() {
    local p
    for p in $(pgrep -P "$nspawn_pid"); do
        [ "$(awk '/^NSpid:/ {print $NF}' "/proc/$p/status" 2>/dev/null)" = 1 ] || continue
        echo "$p"
        return 0
    done
    return 1
}
for _ in $(seq 100); do
    kill -0 "$nspawn_pid" 2>/dev/null || break
    leader=$(find_leader) && break
    sleep 0.2
done
if [ -z "$leader" ]; then
    cat "$work/console.log"
    die "this machine cannot boot a container with systemd-nspawn (console above)"
fi

in_ct() {
    nsenter --target "$leader" --mount --uts --ipc --net --pid --root --wd \
        env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 "$@"
}
as_admin() {
    in_ct setpriv --reuid=admin --regid=admin --init-groups \
        env HOME=/home/admin XDG_RUNTIME_DIR=/tmp QT_QPA_PLATFORM=offscreen "$@"
}

state=
for _ in $(seq 120); do
    state=$(in_ct systemctl is-system-running 2>/dev/null) || true
    case $state in running | degraded) break ;; esac
    sleep 0.5
done
case $state in
    running | degraded) say "booted ($state) in $((SECONDS - started)) s" ;;
    *) tail -30 "$work/console.log"; die "the container did not finish booting (state: $state)" ;;
esac
[ "$state" = degraded ] && in_ct systemctl --failed --no-legend

# --- Installing as the README says ----------------------------------------------------
say "installing the package"
in_ct useradd -m -G sudo -s /bin/bash admin
check "apt install ./vynd_*.deb" \
    logged "$work/apt-install.log" in_ct env DEBIAN_FRONTEND=noninteractive \
    sh -c 'cd /root && apt install -y ./vynd_*.deb' 
tail -2 "$work/apt-install.log"

ctl() { in_ct "/Library/Application Support/Quenderlyn/vyndctl" "$@"; }
ctl_is() {  # ctl_is REPLY ARGS...
    local want=$1; shift
    local got; got=$(ctl "$@")
    [ "$got" = "$want" ] || { echo "   vyndctl $* replied '$got', not '$want'"; return 1; }
}
timer_prop() { in_ct systemctl show -P "$1" vynd.timer; }
service_runs() { in_ct journalctl -b -u vynd.service -o cat --no-pager | grep -c '^vynd started$' || true; }

source "$here/system_checks.sh"

[ "$failures" = 0 ] || say "the container's journal and vynd.log are in $work"
say "finished in $((SECONDS - started)) s with $failures failure(s)"
[ "$failures" = 0 ]
