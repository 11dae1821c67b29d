# What the booted system shows with the package installed; sourced by system_test.sh, which
# gives in_ct (a command in the container as root), as_admin, ctl, ctl_is, check, say and
# the folders $root (the container's tree on this machine) and $work.

job=/Library/LaunchDaemons/com.quenderlyn.vynd.plist
plist_get() {  # plist_get FILE KEY: a key of a property list in the container
    python3 -c 'import plistlib, sys
value = plistlib.load(open(sys.argv[1], "rb")).get(sys.argv[2])
print("" if value is None else value)' "$root$1" "$2"
}
plist_is() {  # plist_is FILE KEY VALUE
    local got; got=$(plist_get "$1" "$2")
    [ "$got" = "$3" ] || { echo "   $2 of $1 is '$got', not '$3'"; return 1; }
}
settings() {  # settings URL [USER PASSWORD]: the daemon's settings, put in place by vyndctl p
    python3 - "$root/root/settings.plist" "$@" <<'END'
import plistlib, sys
prefs = {"vynd_host": sys.argv[2], "vynd_keep_app_synced": True}
if len(sys.argv) > 3:
    prefs.update(vynd_username=sys.argv[3], vynd_passwd=sys.argv[4])
with open(sys.argv[1], "wb") as f:
    plistlib.dump(prefs, f)
END
    ctl_is 255 p /root/settings.plist
}
cursor() { in_ct journalctl -n 0 --show-cursor --no-pager | sed -n 's/^-- cursor: //p'; }
# How often a message of vynd reached the journal since a cursor, whether by syslog or by
# standard error.
journal_count() { in_ct journalctl --after-cursor="$1" -t vynd -o cat --no-pager | grep -cxF "$2" || true; }
service_finished() { in_ct journalctl -u vynd.service -o cat --no-pager | grep -cxF "vynd finished" || true; }
wait_for() {  # wait_for SECONDS COMMAND...
    local limit=$((SECONDS + $1)); shift
    until "$@"; do [ $SECONDS -lt $limit ] || return 1; sleep 1; done
}
# The checks below that are a bash -c line need these.
export leader root
export -f in_ct as_admin ctl service_finished journal_count
file_is() { [ "$(cat "$root$1" 2>/dev/null)" = "$2" ] || { echo "   $1: '$(cat "$root$1" 2>&1)'"; return 1; }; }

say "the package as installed"
check "the job file is made from its template" plist_is $job StartInterval 3600
check "the schedule is off after installing" ctl_is 1 '?'
out=$(as_admin timeout 5 vyndsettings 2>&1) && status=0 || status=$?
check "vyndsettings finds its pane with no argument" \
    bash -c '[ "$1" = 124 ] && ! grep -q "^vyndsettings:" <<<"$2"' _ "$status" "$out"
[ "$status" = 124 ] || echo "$out" | head -5

say "a share in a folder, run by the timer"
mkdir -p "$root/srv/share/Applications/Tool.app" "$root/srv/share/Library" \
    "$root/srv/share/Users" "$root/srv/share/Packages"
echo tool >"$root/srv/share/Applications/Tool.app/info"
settings file:///srv/share
check "vyndctl t 60 on a job that is off replies 255" ctl_is 255 t 60
check "the job file has the interval" plist_is $job StartInterval 60
runs_before=$(service_finished)
log_cursor=$(cursor)
loaded_at=$SECONDS
check "vyndctl 1 replies 0" ctl_is 0 1
check "vyndctl ? replies 0 while on" ctl_is 0 '?'
check "the timer is enabled" in_ct systemctl -q is-enabled vynd.timer
check "the fleet's spread is a tenth of the interval" \
    bash -c '[ "$(in_ct systemctl show -P RandomizedDelayUSec vynd.timer)" = 6s ]'
sleep 5
check "turning the schedule on starts no run at once" \
    bash -c '[ "$(service_finished)" = "$1" ] && ! in_ct systemctl -q is-active vynd.service' _ "$runs_before"
check "the timer starts vynd.service about one interval later" \
    wait_for 100 bash -c '[ "$(service_finished)" -gt "$1" ]' _ "$runs_before"
check "... and not before the interval" [ $((SECONDS - loaded_at)) -ge 58 ]
check "vynd -i as the service mirrored the share" file_is /Applications/Tool.app/info tool
check "each log line reaches the journal once" \
    bash -c '[ "$(journal_count "$1" "vynd started")" = 1 ] && [ "$(journal_count "$1" "vynd finished")" = 1 ]' \
    _ "$log_cursor"

check "vyndctl t 25:99 is refused with 1" ctl_is 1 t 25:99
check "... leaving the job on" ctl_is 0 '?'
check "... and the job file as it was" plist_is $job StartInterval 60
runs_before=$(service_finished)
check "vyndctl t 02:30 on a job that is on replies 0" ctl_is 0 t 02:30
check "the timer runs daily at 02:30" \
    bash -c 'in_ct systemctl show -P TimersCalendar vynd.timer | grep -q "OnCalendar=\*-\*-\* 02:30:00"'
check "... with no interval left over" bash -c '[ -z "$(in_ct systemctl show -P TimersMonotonic vynd.timer)" ]'
check "... spread by at most ten minutes" \
    bash -c '[ "$(in_ct systemctl show -P RandomizedDelayUSec vynd.timer)" = 10min ]'
sleep 3
check "rescheduling starts no run" bash -c '[ "$(service_finished)" = "$1" ]' _ "$runs_before"
check "vyndctl 0 replies 0" ctl_is 0 0
check "vyndctl ? replies 1 while off" ctl_is 1 '?'
check "the timer is disabled" bash -c '! in_ct systemctl -q is-enabled vynd.timer'

say "a network share: sshfs to the container's sshd"
in_ct useradd -m deploy
echo 'deploy:share secret' | in_ct chpasswd
in_ct install -d -o deploy /home/deploy/share/Applications/Net.app /home/deploy/share/Library \
    /home/deploy/share/Users
echo net >"$root/home/deploy/share/Applications/Net.app/info"
wait_for 30 in_ct systemctl -q is-active ssh.service || true
in_ct sh -c 'mkdir -p -m 700 /root/.ssh && ssh-keyscan -t ed25519 127.0.0.1 >/root/.ssh/known_hosts 2>/dev/null'
settings sftp://127.0.0.1/home/deploy/share deploy 'share secret'
log_cursor=$(cursor)
check "vynd.service runs on the sshfs share" in_ct systemctl start vynd.service
check "... and mirrors it" file_is /Applications/Net.app/info net
check "... and unmounts it" bash -c '! in_ct grep -q " /Volumes/" /proc/mounts'
check "... with each line once in the journal" \
    bash -c '[ "$(journal_count "$1" "vynd finished")" = 1 ]' _ "$log_cursor"
check "... and the password in no log" \
    bash -c '! grep -q "share secret" "$1/var/log/vynd.log" && ! in_ct journalctl -o cat --no-pager | grep -q "share secret"' _ "$root"

say "the pane's privileged actions through pkexec and polkitd, as the administrator admin"
settings file:///srv/share
rm -rf "$root/Applications/Tool.app"
: >"$root/var/log/vynd.log"
in_ct install -d -m 700 -o admin /tmp/admin-runtime
driver() { as_admin env XDG_RUNTIME_DIR=/tmp/admin-runtime /usr/local/bin/vynd_pane_driver /usr/lib/vynd/vyndPref.so "$@" 2>"$work/driver.err"; }
out=$(driver unlock install) || true
echo "$out" | grep '^alert:' || true
check "the lock opens" grep -qx "authorized 1" <<<"$out"
check "Install Now shows no alert" bash -c '! grep -q "^alert:" <<<"$1"' _ "$out"
check "Install Now runs vynd as root through pkexec" \
    bash -c 'in_ct journalctl -t pkexec -o cat --no-pager | grep -q "^admin: Executing command .*COMMAND=/Library/Application Support/Quenderlyn/vynd -i"'
check "... which mirrors the share" file_is /Applications/Tool.app/info tool
check "... and logs its run" grep -qx '.* vynd finished' "$root/var/log/vynd.log"
out=$(driver unlock host file:///srv/elsewhere lock) || true
check "saving the settings replaces the global file" \
    plist_is /Library/Preferences/com.quenderlyn.vynd.plist vynd_host file:///srv/elsewhere
check "... owned by root and readable by all" \
    bash -c '[ "$(stat -c %U:%a "$1/Library/Preferences/com.quenderlyn.vynd.plist")" = root:644 ]' _ "$root"
check "the log is not empty before emptying it" test -s "$root/var/log/vynd.log"
out=$(driver unlock empty-log) || true
check "emptying the log empties it" bash -c '[ -f "$1" ] && [ ! -s "$1" ]' _ "$root/var/log/vynd.log"
# The share's own folder is the connecting user's, as on a server set up for vynd.
in_ct chown deploy /home/deploy/share
out=$(driver unlock host sftp://127.0.0.1/home/deploy/share user deploy password 'share secret' setup-share) || true
echo "$out" | grep '^alert:' || true
check "share setup through pkexec mounts the share as root and prepares it" \
    grep -q '^alert: Setup successful|' <<<"$out"
check "... making its Packages folder" test -d "$root/home/deploy/share/Packages"
check "... and unmounting it" bash -c '! in_ct grep -q " /Volumes/" /proc/mounts'
check "... with the password on no command line" \
    bash -c '! in_ct journalctl -t pkexec -o cat --no-pager | grep -q "share secret"'
in_ct useradd -m guest
out=$(in_ct setpriv --reuid=guest --regid=guest --init-groups env HOME=/home/guest \
    QT_QPA_PLATFORM=offscreen /usr/local/bin/vynd_pane_driver /usr/lib/vynd/vyndPref.so unlock 2>/dev/null) || true
check "polkit keeps the lock shut for a user who is no administrator" grep -qx "authorized 0" <<<"$out"

say "log rotation"
echo "2026/01/01 00:00:00 an old line" >"$root/var/log/vynd.log"
check "logrotate rotates the log" in_ct logrotate -f /etc/logrotate.d/vynd
check "... copying it and emptying it in place" \
    bash -c '[ -s "$1.1" ] && [ -f "$1" ] && [ ! -s "$1" ]' _ "$root/var/log/vynd.log"

say "an upgrade whose job file changed, without a terminal"
upgrade=$work/upgrade
rm -rf "$upgrade"
mkdir -p "$upgrade"
dpkg-deb -R "$deb" "$upgrade/tree"
sed -i 's/^Version: .*/&+systest1/' "$upgrade/tree/DEBIAN/control"
sed -i 's|<integer>3600</integer>|<integer>1800</integer>|' "$upgrade/tree/usr/share/vynd/com.quenderlyn.vynd.plist"
(cd "$upgrade/tree" && find . -type f ! -path './DEBIAN/*' -printf '%P\0' | sort -z |
    xargs -0 md5sum >DEBIAN/md5sums)
dpkg-deb --root-owner-group -b "$upgrade/tree" "$root/root/vynd-upgrade.deb" >/dev/null
ctl t 7200 >/dev/null
ctl 1 >/dev/null
runs_before=$(service_finished)
check "apt installs the upgrade non-interactively" \
    logged "$work/apt-upgrade.log" in_ct env DEBIAN_FRONTEND=noninteractive apt-get install -y -q /root/vynd-upgrade.deb
check "... leaving the package installed" \
    bash -c '[ "$(in_ct dpkg-query -W -f="\${Status} \${Version}" vynd)" = "install ok installed 0.1.0+systest1" ]'
check "... and the administrator's schedule" plist_is $job StartInterval 7200
check "... on" ctl_is 0 '?'
check "... without starting a run" bash -c '[ "$(service_finished)" = "$1" ]' _ "$runs_before"

say "remove and purge"
check "apt removes the package" \
    logged "$work/apt-remove.log" in_ct env DEBIAN_FRONTEND=noninteractive apt-get remove -y -q vynd
check "... stopping the timer" bash -c '! in_ct systemctl -q is-active vynd.timer'
check "... and the programs" bash -c '[ ! -e "$1/Library/Application Support/Quenderlyn/vynd" ]' _ "$root"
check "... keeping the job file and the log" bash -c '[ -f "$1'$job'" ] && [ -f "$1/var/log/vynd.log" ]' _ "$root"
check "apt purges the package" \
    logged "$work/apt-purge.log" in_ct env DEBIAN_FRONTEND=noninteractive apt-get purge -y -q vynd
check "... removing the job file, the timer's schedule, the log and its rule, the password" \
    bash -c 'for f in "'$job'" /etc/systemd/system/vynd.timer.d /run/systemd/system/vynd.timer.d \
        /var/log/vynd.log /var/log/vynd.log.1 /etc/logrotate.d/vynd \
        /Library/Preferences/com.quenderlyn.vynd.passwd.plist; do
        [ ! -e "$1$f" ] || { echo "   $f is left"; exit 1; }; done' _ "$root"
check "... and dpkg forgets it" bash -c '! in_ct dpkg-query -W vynd >/dev/null 2>&1'

say "an upgrade from a package that still owned the job file as a conffile"
old=$work/old
rm -rf "$old"
mkdir -p "$old"
dpkg-deb -R "$deb" "$old/tree"
sed -i 's/^Version: .*/Version: 0.0.9/' "$old/tree/DEBIAN/control"
install -D -m 0644 "$old/tree/usr/share/vynd/com.quenderlyn.vynd.plist" "$old/tree$job"
echo "$job" >>"$old/tree/DEBIAN/conffiles"
(cd "$old/tree" && find . -type f ! -path './DEBIAN/*' -printf '%P\0' | sort -z |
    xargs -0 md5sum >DEBIAN/md5sums)
dpkg-deb --root-owner-group -b "$old/tree" "$root/root/vynd-old.deb" >/dev/null
in_ct env DEBIAN_FRONTEND=noninteractive apt-get install -y -q /root/vynd-old.deb </dev/null \
    >"$work/apt-old.log" 2>&1
ctl t 900 >/dev/null
check "apt upgrades it non-interactively" \
    logged "$work/apt-from-old.log" in_ct env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "/root/$(basename "$deb")"
check "... keeping the administrator's schedule" plist_is $job StartInterval 900
in_ct env DEBIAN_FRONTEND=noninteractive apt-get purge -y -q vynd </dev/null >/dev/null 2>&1
check "... which purging removes" bash -c '[ ! -e "$1'$job'" ]' _ "$root"
