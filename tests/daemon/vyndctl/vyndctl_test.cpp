// The control tool run in the sandbox against a recording systemctl.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "platform/property_list.h"
#include "tests/support/files.h"
#include "tests/support/sandbox.h"

using vynd::test::Sandbox;

namespace {

const std::string kUsage =
    "usage: vyndctl [01?rt]\n"
    "wrapper for launchctl called by prefs pane with elevated privileges to set\n"
    "real user id to root since launchctl uses it and not the effective user id\n"
    "to determine which launch daemons to control.\n"
    "\t0 : stop vynd\n"
    "\t1 : start vynd\n"
    "\t? : status - 1(stopped), 0(running)\n"
    "\tt : change StartInterval in seconds or StartCalendarInterval HH:MM\n"
    "\tp <pref plist> : set global preferences\n";

const std::string kJobFile = "/Library/LaunchDaemons/com.quenderlyn.vynd.plist";
const std::string kPrefs = "/Library/Preferences/com.quenderlyn.vynd.plist";
const std::string kDropIn = "/etc/systemd/system/vynd.timer.d/schedule.conf";
const std::string kSinceLoad = "/run/systemd/system/vynd.timer.d/since-load.conf";

const std::string kJob =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<plist version=\"1.0\"><dict>"
    "<key>Label</key><string>com.quenderlyn.vynd</string>"
    "<key>ProgramArguments</key><array>"
    "<string>/Library/Application Support/Quenderlyn/vynd</string><string>-i</string></array>"
    "<key>RunAtLoad</key><false/>"
    "<key>StartInterval</key><integer>3600</integer>"
    "</dict></plist>\n";

// A systemctl that keeps the timer's state in /run and is noisy on both
// streams, so a test sees whether the tool's reply line stays alone.
// /run/.enable-status sets the exit status of "enable".
const std::string kSystemctl = R"sh(state=/run/.vynd-timer
echo "systemctl says $*"; echo "systemctl complains" >&2
case "$1" in
is-active) [ -e $state.active ] && exit 0; exit 3 ;;
enable) rm -f $state.disabled; touch $state.enabled
    [ "$2" = --now ] && touch $state.active
    exit "$(cat /run/.enable-status 2>/dev/null || echo 0)" ;;
disable) rm -f $state.enabled; touch $state.disabled
    [ "$2" = --now ] && rm -f $state.active
    exit 0 ;;
esac
exit 0)sh";

const std::string kIsActive = "/bin/systemctl is-active --quiet vynd.timer";
const std::string kDisable = "/bin/systemctl disable --now --quiet vynd.timer";
const std::string kReload = "/bin/systemctl daemon-reload";
const std::string kEnable = "/bin/systemctl enable --now --quiet vynd.timer";

class Vyndctl : public testing::Test {
  protected:
    void SetUp() override {
        // The schedule drop-in goes to /etc, read-only in the sandbox but here.
        units_ = box_.root() + "/.systemd-system";
        std::filesystem::create_directories(units_);
        box_.bind(units_, "/etc/systemd/system", false);
        box_.addStub("/usr/bin/systemctl", kSystemctl);
        box_.writeFile(kJobFile, kJob);
    }

    Sandbox::Result ctl(const std::vector<std::string>& args, Sandbox::Options options = {}) {
        std::vector<std::string> argv = {Sandbox::program("vyndctl")};
        argv.insert(argv.end(), args.begin(), args.end());
        return box_.run(argv, options);
    }
    // Runs the tool and expects nothing on either stream but a reply line.
    int reply(const std::vector<std::string>& args) {
        auto r = ctl(args);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, "");
        EXPECT_FALSE(r.out.empty());
        EXPECT_EQ(r.out.back(), '\n');
        EXPECT_EQ(r.out.find('\n'), r.out.size() - 1) << r.out;
        return std::stoi(r.out);
    }

    // A save refused: the reply as ever, and why on standard error, one line.
    int refusedSave(const std::vector<std::string>& args) {
        auto r = ctl(args);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err.rfind("vyndctl: ", 0), 0u) << r.err;
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
        return std::stoi(r.out);
    }

    void setLoaded() { box_.writeFile("/run/.vynd-timer.active", ""); }
    bool loaded() const { return box_.exists("/run/.vynd-timer.active"); }
    bool disabled() const { return box_.exists("/run/.vynd-timer.disabled"); }
    void clearCalls() { box_.writeFile("/run/.sandbox-calls", ""); }

    [[nodiscard]] bool dropInWritten() const {
        return std::filesystem::exists(units_ + "/vynd.timer.d/schedule.conf");
    }
    [[nodiscard]] std::string dropIn() const {
        return vynd::test::read_file(units_ + "/vynd.timer.d/schedule.conf");
    }
    // What holds from loading until the next reboot.
    [[nodiscard]] std::string sinceLoad() const {
        return box_.exists(kSinceLoad) ? box_.readFile(kSinceLoad) : "(none)";
    }

    vynd::Plist job() const {
        auto dict = vynd::read_property_list_dictionary(box_.path(kJobFile));
        EXPECT_TRUE(dict) << box_.readFile(kJobFile);
        return dict ? std::move(*dict) : vynd::Plist(plist_new_dict());
    }
    std::optional<int64_t> interval() const {
        return vynd::plist_dict_int(job().get(), "StartInterval");
    }
    // The calendar entry as (Hour, Minute), or none without the key.
    std::optional<std::pair<int64_t, int64_t>> calendar() const {
        auto dict = job();
        plist_t entry = plist_dict_get_item(dict.get(), "StartCalendarInterval");
        if (!entry)
            return std::nullopt;
        return std::make_pair(vynd::plist_dict_int(entry, "Hour").value_or(-1000),
                              vynd::plist_dict_int(entry, "Minute").value_or(-1000));
    }

    Sandbox box_;
    std::string units_;
};

using Hm = std::pair<int64_t, int64_t>;

TEST_F(Vyndctl, UsageWithoutAModeOrWithAnUnknownOne) {
    for (const auto& args : std::vector<std::vector<std::string>>{{}, {"x"}, {""}, {"r"}, {"2"}}) {
        auto r = ctl(args);
        EXPECT_EQ(r.status, 0) << testing::PrintToString(args);
        EXPECT_EQ(r.out, kUsage) << testing::PrintToString(args);
    }
    // Without a mode the usage comes before the check for root.
    auto r = ctl({}, {.uid = 1000});
    EXPECT_EQ(r.out, kUsage);
    EXPECT_TRUE(box_.callLines().empty());
}

TEST_F(Vyndctl, RefusesEveryModeWithoutRoot) {
    setLoaded();
    box_.writeFile(kPrefs, "old settings");
    box_.writeFile("/tmp/new.plist", "new settings");
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"0"}, {"1"}, {"?"}, {"t", "10:30"}, {"p", "/tmp/new.plist"}, {"x"}}) {
        auto r = ctl(args, {.uid = 1000});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, "Need to be running as root!\n") << testing::PrintToString(args);
    }
    EXPECT_TRUE(box_.callLines().empty());
    EXPECT_EQ(box_.readFile(kJobFile), kJob);
    EXPECT_EQ(box_.readFile(kPrefs), "old settings");
    EXPECT_TRUE(loaded());
}

TEST_F(Vyndctl, StatusRepliesZeroOnlyWhenLoaded) {
    // systemctl's "not active" is the status a job that is not loaded has always had.
    EXPECT_EQ(reply({"?"}), 1);
    setLoaded();
    EXPECT_EQ(reply({"?"}), 0);
    // Only the first character of the mode counts.
    EXPECT_EQ(reply({"?whatever", "ignored"}), 0);
    EXPECT_EQ(box_.callLines(), std::vector<std::string>(3, kIsActive));
}

TEST_F(Vyndctl, StartThenStopLeavesTheJobUnloadedAndDisabled) {
    EXPECT_EQ(reply({"1"}), 0);
    EXPECT_TRUE(loaded());
    EXPECT_EQ(box_.callLines(), (std::vector<std::string>{kReload, kEnable}));
    // The timer's schedule comes from the job file as installed.
    EXPECT_NE(dropIn().find("[Timer]\nOnBootSec=\nOnUnitActiveSec=\nOnCalendar=\n"
                            "OnBootSec=300s\nOnUnitActiveSec=3600s\nRandomizedDelaySec=360s\n"),
              std::string::npos)
        << dropIn();
    // Until the next reboot the first run is one interval away, not the
    // boot delay that is long over.
    EXPECT_NE(sinceLoad().find("[Timer]\nOnBootSec=\nOnUnitActiveSec=\nOnCalendar=\n"
                               "OnActiveSec=3600s\nOnUnitActiveSec=3600s\n"),
              std::string::npos)
        << sinceLoad();
    EXPECT_EQ(reply({"0abc"}), 0);
    EXPECT_FALSE(loaded());
    EXPECT_TRUE(disabled());
    EXPECT_EQ(reply({"?"}), 1);
    EXPECT_EQ(box_.callLines(), (std::vector<std::string>{kReload, kEnable, kDisable, kIsActive}));
}

TEST_F(Vyndctl, StartRepliesTheFailureOfTheServiceManager) {
    box_.writeFile("/run/.enable-status", "4");
    EXPECT_EQ(reply({"1"}), 4);
    // A job file without a schedule the timer can keep starts nothing.
    box_.writeFile(kJobFile, "not a property list");
    clearCalls();
    EXPECT_EQ(reply({"1"}), 1);
    EXPECT_TRUE(box_.callLines().empty());
}

TEST_F(Vyndctl, RepliesTwoHundredFiftyFiveWhenTheServiceManagerCannotRun) {
    chmod((box_.root() + "/.usr-upper/bin/systemctl").c_str(), 0644);
    EXPECT_EQ(reply({"?"}), 255);
    EXPECT_EQ(reply({"0"}), 255);
    EXPECT_EQ(reply({"1"}), 255);
}

TEST_F(Vyndctl, RescheduleWithoutAValueChangesNothing) {
    setLoaded();
    auto r = ctl({"t"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, kUsage);
    EXPECT_TRUE(loaded());
    EXPECT_EQ(box_.readFile(kJobFile), kJob);
    EXPECT_TRUE(box_.callLines().empty());
}

TEST_F(Vyndctl, RescheduleALoadedJobToADailyTime) {
    setLoaded();
    box_.writeFile(kSinceLoad, "[Timer]\nOnBootSec=\nOnActiveSec=60s\n");
    box_.writeFile("/run/.enable-status", "5");
    EXPECT_EQ(reply({"t", "10:30"}), 5);
    EXPECT_EQ(box_.callLines(), (std::vector<std::string>{kIsActive, kDisable, kReload, kEnable}));
    EXPECT_EQ(calendar(), Hm(10, 30));
    EXPECT_EQ(interval(), std::nullopt);
    // Everything else the installation put in the job file is carried through.
    auto dict = job();
    EXPECT_EQ(vynd::plist_dict_string(dict.get(), "Label"), "com.quenderlyn.vynd");
    EXPECT_EQ(vynd::plist_dict_bool(dict.get(), "RunAtLoad"), false);
    plist_t args = plist_dict_get_item(dict.get(), "ProgramArguments");
    ASSERT_TRUE(args);
    EXPECT_EQ(plist_array_get_size(args), 2u);
    // Written back as XML, readable by all, with no temporary file left.
    EXPECT_EQ(box_.readFile(kJobFile).rfind("<?xml", 0), 0u);
    struct stat st;
    ASSERT_EQ(stat(box_.path(kJobFile).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
    EXPECT_EQ(
        std::distance(std::filesystem::directory_iterator(box_.path("/Library/LaunchDaemons")),
                      std::filesystem::directory_iterator()),
        1);
    // The timer now fires daily at that time.
    EXPECT_NE(dropIn().find("\nOnCalendar=\nOnCalendar=*-*-* 10:30:00\n"), std::string::npos)
        << dropIn();
    EXPECT_EQ(dropIn().find("OnUnitActiveSec=3"), std::string::npos);
    // Nothing of the interval it had may override the daily time.
    EXPECT_EQ(sinceLoad(), "(none)");
}

TEST_F(Vyndctl, RescheduleAnUnloadedJobLeavesItUnloaded) {
    box_.writeFile(kJobFile,
                   "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict>"
                   "<key>Label</key><string>com.quenderlyn.vynd</string>"
                   "<key>StartCalendarInterval</key><dict><key>Hour</key><integer>3</integer>"
                   "<key>Minute</key><integer>0</integer></dict></dict></plist>");
    EXPECT_EQ(reply({"t", "60"}), 255);
    EXPECT_EQ(interval(), 60);
    EXPECT_EQ(calendar(), std::nullopt);
    EXPECT_FALSE(loaded());
    EXPECT_EQ(box_.callLines(), std::vector<std::string>{kIsActive});
    // The new schedule reaches the timer when the job is next loaded.
    EXPECT_FALSE(dropInWritten());
    EXPECT_EQ(reply({"1"}), 0);
    EXPECT_NE(dropIn().find("OnBootSec=60s\nOnUnitActiveSec=60s\n"), std::string::npos);
}

TEST_F(Vyndctl, RescheduleValuesAreReadLikeAtoi) {
    struct Case {
        std::string value;
        std::optional<int64_t> interval;
        std::optional<Hm> calendar;
    };
    for (const auto& c :
         {Case{"7:", {}, Hm(7, 0)}, Case{":30", {}, Hm(0, 30)}, Case{"1:2:3", 1, {}},
          Case{"7", 7, {}}, Case{"23:59", {}, Hm(23, 59)}, Case{"3600", 3600, {}}}) {
        EXPECT_EQ(reply({"t", c.value}), 255) << c.value;
        EXPECT_EQ(interval(), c.interval) << c.value;
        EXPECT_EQ(calendar(), c.calendar) << c.value;
    }
}

TEST_F(Vyndctl, RescheduleToWhatTheTimerCannotKeepChangesNothing) {
    setLoaded();
    ASSERT_EQ(reply({"t", "10:30"}), 0);
    std::string job_before = box_.readFile(kJobFile);
    std::string before = dropIn();
    for (const char* value : {"25:99", "24:00", "7:60", "-1:30", "abc", "0", "-60"}) {
        clearCalls();
        EXPECT_EQ(reply({"t", value}), 1) << value;
        EXPECT_TRUE(box_.callLines().empty()) << value;
        EXPECT_TRUE(loaded()) << value;
        EXPECT_EQ(box_.readFile(kJobFile), job_before) << value;
        EXPECT_EQ(dropIn(), before) << value;
    }
    // Nor is it kept for a job that is off, whose next start would fail on it.
    ASSERT_EQ(reply({"0"}), 0);
    EXPECT_EQ(reply({"t", "25:99"}), 1);
    EXPECT_EQ(box_.readFile(kJobFile), job_before);
    EXPECT_EQ(reply({"1"}), 0);
}

TEST_F(Vyndctl, RandomDelayComesFromTheSettings) {
    auto prefs = [](const std::string& value) {
        return "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict>"
               "<key>vynd_random_delay</key>" +
               value + "</dict></plist>";
    };
    box_.writeFile(kPrefs, prefs("<integer>42</integer>"));
    EXPECT_EQ(reply({"1"}), 0);
    EXPECT_NE(dropIn().find("\nRandomizedDelaySec=42s\n"), std::string::npos) << dropIn();
    // Written with every new schedule; 0 turns the spread off.
    box_.writeFile(kPrefs, prefs("<integer>0</integer>"));
    EXPECT_EQ(reply({"t", "02:30"}), 0);
    EXPECT_NE(dropIn().find("\nRandomizedDelaySec=0s\n"), std::string::npos) << dropIn();
    // What is not a number of seconds leaves the default.
    box_.writeFile(kPrefs, prefs("<string>soon</string>"));
    EXPECT_EQ(reply({"t", "600"}), 0);
    EXPECT_NE(dropIn().find("\nRandomizedDelaySec=60s\n"), std::string::npos) << dropIn();
    // A managed file stands for the settings whole.
    box_.writeFile("/Library/Managed Preferences/com.quenderlyn.vynd.plist",
                   prefs("<integer>7</integer>"));
    EXPECT_EQ(reply({"1"}), 0);
    EXPECT_NE(dropIn().find("\nRandomizedDelaySec=7s\n"), std::string::npos) << dropIn();
}

TEST_F(Vyndctl, RescheduleWithoutAJobFileStillUnloadsAndLoads) {
    setLoaded();
    std::filesystem::remove(box_.path(kJobFile));
    // Loading needs the job file's schedule: the job stays stopped.
    EXPECT_EQ(reply({"t", "60"}), 1);
    EXPECT_FALSE(box_.exists(kJobFile));
    EXPECT_EQ(box_.callLines(), (std::vector<std::string>{kIsActive, kDisable}));

    box_.writeFile(kJobFile, "<plist><array/></plist>");
    setLoaded();
    EXPECT_EQ(reply({"t", "60"}), 1);
    EXPECT_EQ(box_.readFile(kJobFile), "<plist><array/></plist>");
}

class GlobalPrefs : public Vyndctl {
  protected:
    void SetUp() override {
        Vyndctl::SetUp();
        box_.writeFile(kPrefs, kOld);
    }
    [[nodiscard]] std::vector<std::string> prefsFolder() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(box_.path("/Library/Preferences")))
            names.push_back(e.path().filename().string());
        return names;
    }
    const std::string kOld = "<plist><dict><key>vynd_url</key><string>old</string></dict></plist>";
    const std::string kNew = "<plist><dict><key>vynd_url</key><string>new</string></dict></plist>";
};

TEST_F(GlobalPrefs, ReplacesTheFileReadableByAll) {
    box_.writeFile("/tmp/tmp.prefs", kNew, 0600);
    EXPECT_EQ(reply({"p", "/tmp/tmp.prefs"}), 255);
    EXPECT_EQ(box_.readFile(kPrefs), kNew);
    struct stat st;
    ASSERT_EQ(stat(box_.path(kPrefs).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
    EXPECT_EQ(st.st_uid, 0u);
    // The given file is left where it is, and no temporary file beside.
    EXPECT_EQ(box_.readFile("/tmp/tmp.prefs"), kNew);
    EXPECT_EQ(prefsFolder(), std::vector<std::string>{"com.quenderlyn.vynd.plist"});
    EXPECT_TRUE(box_.callLines().empty());
}

TEST_F(GlobalPrefs, AFailedCopyKeepsTheOldSettings) {
    EXPECT_EQ(refusedSave({"p", "/tmp/missing.plist"}), 255);
    EXPECT_EQ(box_.readFile(kPrefs), kOld);
    // The folder cannot take the new file.
    box_.writeFile("/tmp/tmp.prefs", kNew);
    std::filesystem::remove(box_.path(kPrefs));
    box_.mkdirs(kPrefs + "/in-the-way");
    EXPECT_EQ(refusedSave({"p", "/tmp/tmp.prefs"}), 255);
    EXPECT_TRUE(box_.exists(kPrefs + "/in-the-way"));
    EXPECT_EQ(prefsFolder(), std::vector<std::string>{"com.quenderlyn.vynd.plist"});
}

TEST_F(GlobalPrefs, WithoutAPathNothingChanges) {
    EXPECT_EQ(reply({"p"}), 255);
    EXPECT_EQ(box_.readFile(kPrefs), kOld);
}

TEST_F(GlobalPrefs, RefusesLinksAndWhatIsNotARegularFile) {
    box_.writeFile("/root/secret", "root only", 0600);
    std::filesystem::create_symlink("/root/secret", box_.path("/tmp/link.plist"));
    EXPECT_EQ(refusedSave({"p", "/tmp/link.plist"}), 255);
    EXPECT_EQ(box_.readFile(kPrefs), kOld);

    box_.mkdirs("/tmp/folder.plist");
    EXPECT_EQ(refusedSave({"p", "/tmp/folder.plist"}), 255);
    EXPECT_EQ(refusedSave({"p", "/dev/zero"}), 255);
    // A FIFO is refused at once, not waited on.
    ASSERT_EQ(mkfifo(box_.path("/tmp/fifo.plist").c_str(), 0644), 0);
    EXPECT_EQ(refusedSave({"p", "/tmp/fifo.plist"}), 255);
    EXPECT_EQ(box_.readFile(kPrefs), kOld);
}

TEST_F(GlobalPrefs, RefusesAHugeFileBeforeReadingIt) {
    // 3 GiB of nothing: read whole, it would take more memory than the computer may have.
    box_.writeFile("/tmp/huge.plist", kNew);
    std::filesystem::resize_file(box_.path("/tmp/huge.plist"), uint64_t{3} << 30);
    auto r = ctl({"p", "/tmp/huge.plist"});
    EXPECT_EQ(r.out, "255\n");
    EXPECT_EQ(r.err,
              "vyndctl: /tmp/huge.plist is larger than 1 MiB, the most a settings file may be; it "
              "was not read\n");
    EXPECT_EQ(box_.readFile(kPrefs), kOld);
}

TEST_F(GlobalPrefs, MakesThePreferencesFolderOnAFreshSystem) {
    std::filesystem::remove_all(box_.path("/Library/Preferences"));
    box_.writeFile("/tmp/tmp.prefs", kNew);
    EXPECT_EQ(reply({"p", "/tmp/tmp.prefs"}), 255);
    EXPECT_EQ(box_.readFile(kPrefs), kNew);
    struct stat st;
    ASSERT_EQ(stat(box_.path("/Library/Preferences").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0755u);
}

}  // namespace
