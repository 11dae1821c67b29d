// Runs one case of the pane tests inside a sandbox with recording stand-ins.
//   pane_sandbox [--as-user] TEST-BINARY CASE
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/sandbox.h"

namespace {

// Records each call, hands mode p's file over for inspection, says on its
// standard error what a test has put in /run/vyndctl.stderr, and answers
// with the reply a test has put in /run/vyndctl.reply (else 0).
const char kVyndctlStandIn[] = R"(#!/bin/sh
{ printf '%s' "$1"; [ $# -gt 1 ] && printf ' %s' "$2"; printf '\n'; } >>/run/vyndctl.calls
[ "$1" = p ] && [ -f "$2" ] && cp "$2" /run/vyndctl.p-copy
[ -f /run/vyndctl.stderr ] && cat /run/vyndctl.stderr >&2
if [ -f /run/vyndctl.reply ]; then cat /run/vyndctl.reply; else echo 0; fi
exit 0
)";

// Records each call and who started it, and ends with the status a test has
// put in /run/vynd.status (else 0).
const char kVyndStandIn[] = R"sh(#!/bin/sh
echo "$*" >>/run/vynd.calls
echo "$PPID" >/run/vynd.parent
exit "$(cat /run/vynd.status 2>/dev/null || echo 0)"
)sh";

const char kPasswd[] =
    "root:x:0:0:root:/root:/bin/sh\n"
    "daemon:x:1:1:daemon:/usr/sbin:/usr/sbin/nologin\n"
    "_svc:x:200:200::/nonexistent:/usr/sbin/nologin\n"
    "admin:x:1000:1000::/home/admin:/bin/sh\n";
// As on Debian, no group is named "wheel": the name stands for group 0.
const char kGroup[] =
    "root:x:0:\n"
    "_grp:x:201:\n"
    "com.apple.access_ssh:x:202:\n"
    "staff:x:20:admin\n";

}  // namespace

int main(int argc, char** argv) {
    bool asUser = argc > 1 && std::strcmp(argv[1], "--as-user") == 0;
    if (asUser) {
        --argc;
        ++argv;
    }
    if (argc != 3) {
        std::fprintf(stderr, "usage: pane_sandbox [--as-user] TEST-BINARY CASE\n");
        return 2;
    }
    std::string binary = std::filesystem::absolute(argv[1]).string();
    vynd::test::Sandbox box;
    std::string buildDir = std::filesystem::path(binary).parent_path().parent_path().parent_path();
    box.bind(buildDir, buildDir);
    box.writeFile(vynd::test::Sandbox::program("vyndctl"), kVyndctlStandIn, 0755);
    box.writeFile(vynd::test::Sandbox::program("vynd"), kVyndStandIn, 0755);
    box.addStub("/usr/bin/pkexec", "exec \"$@\"");
    // Grants, or answers with the status a test has put in /run/pkcheck.status.
    box.addStub("/usr/bin/pkcheck", "exit \"$(cat /run/pkcheck.status 2>/dev/null || echo 0)\"");
    box.setEtcFile("passwd", kPasswd);
    box.setEtcFile("group", kGroup);

    std::vector<std::string> cmd = {"/usr/bin/env"};
    // The sandbox starts with an empty environment; carry Qt's platform and
    // scale over.
    for (const char* name : {"QT_QPA_PLATFORM", "QT_SCALE_FACTOR"})
        if (const char* value = std::getenv(name))
            cmd.push_back(std::string(name) + "=" + value);
    cmd.push_back(binary);
    cmd.push_back(argv[2]);
    vynd::test::Sandbox::Options options;
    if (asUser)
        options.uid = 1000;
    auto result = box.run(cmd, options);
    std::fputs(result.out.c_str(), stdout);
    std::fputs(result.err.c_str(), stderr);
    if (asUser)
        for (const auto& line : box.callLines()) std::printf("recorded: %s\n", line.c_str());
    return result.status;
}
