// The stored manifest: its property-list form, hostile content, the command.
#include <gtest/gtest.h>

#include <plist/plist.h>

#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <iterator>

#include "daemon/vynd/manifest_file.h"
#include "daemon/vynd/mount.h"
#include "daemon/vynd/rsync_command.h"
#include "daemon/vynd/sync_job.h"
#include "platform/property_list.h"
#include "tests/support/files.h"
#include "tests/support/plist_keys.h"
#include "tests/support/temp_dir.h"

using namespace vynd;
using vynd::test::read_file;
using vynd::test::TempDir;

namespace {

SyncJob sample_job() {
    SyncJob job;
    job.id = "Applications";
    job.srcPath = "/Volumes/Deploy/Applications";
    job.dstPath = "/Applications";
    job.setPerm = true;
    job.keepSynced = false;
    job.perms = "u=rw,g=r,o=r,+X";
    job.owner = "root";
    job.group = "wheel";
    job.files()["Foo.app/"].date = 1256220233;
    job.files()["Foo.app/Contents/Info.plist"].date = 1256220234;
    job.files()["a&b <c> \"q\" 'x'"].date = 0;
    job.files()["new\nline"].date = 5;
    job.files()["Caf\xc3\xa9.app/"];
    return job;
}

}  // namespace

TEST(ManifestFile, RoundTripsEveryKeyAndOddNames) {
    TempDir dir;
    SyncJob job = sample_job();
    std::string err;
    ASSERT_TRUE(write_manifest_file(dir / "Applications.plist", job, &err)) << err;
    auto back = read_manifest_file(dir / "Applications.plist");
    ASSERT_TRUE(back);
    EXPECT_EQ(back->id, job.id);
    EXPECT_EQ(back->srcPath, job.srcPath);
    EXPECT_EQ(back->dstPath, job.dstPath);
    EXPECT_EQ(back->setPerm, true);
    EXPECT_EQ(back->keepSynced, false);
    EXPECT_EQ(back->perms, job.perms);
    EXPECT_EQ(back->owner, job.owner);
    EXPECT_EQ(back->group, job.group);
    EXPECT_FALSE(back->autoRestart);
    ASSERT_TRUE(back->files_);
    EXPECT_EQ(back->files_->size(), job.files_->size());
    for (const auto& [path, entry] : *job.files_) {
        ASSERT_TRUE(back->files_->count(path)) << path;
        EXPECT_EQ(back->files_->at(path).date, entry.date) << path;
    }
}

TEST(ManifestFile, IsAPropertyListOfTheDesignedTypes) {
    TempDir dir;
    std::string err;
    ASSERT_TRUE(write_manifest_file(dir / "m.plist", sample_job(), &err));
    auto root = read_property_list_dictionary(dir / "m.plist");
    ASSERT_TRUE(root);
    plist_t dict = root->get();
    EXPECT_EQ(plist_dict_string(dict, "id"), "Applications");
    EXPECT_EQ(plist_dict_bool(dict, "setPerm"), true);
    EXPECT_EQ(plist_dict_bool(dict, "keepSynced"), false);
    plist_t files = plist_dict_get_item(dict, "files");
    ASSERT_EQ(plist_get_node_type(files), PLIST_DICT);
    plist_t entry = plist_dict_get_item(files, "Foo.app/");
    ASSERT_EQ(plist_get_node_type(entry), PLIST_DICT);
    plist_t date = plist_dict_get_item(entry, "date");
    ASSERT_EQ(plist_get_node_type(date), PLIST_DATE);
    int32_t sec = 0, usec = 0;
    plist_get_date_val(date, &sec, &usec);
    EXPECT_EQ(sec + 978307200LL, 1256220233LL);  // libplist counts from 2001
    EXPECT_EQ(plist_get_node_type(plist_dict_get_item(files, "Caf\xc3\xa9.app/")), PLIST_DICT);
}

TEST(ManifestFile, ReadsWhatLibplistWritesInBothForms) {
    plist_t dict = plist_new_dict();
    plist_dict_set_item(dict, "id", plist_new_string("Library"));
    plist_dict_set_item(dict, "keepSynced", plist_new_bool(1));
    plist_dict_set_item(dict, "extra", plist_new_uint(42));
    plist_t files = plist_new_dict();
    plist_t entry = plist_new_dict();
    plist_dict_set_item(entry, "date", plist_new_date(1256220233 - 978307200, 0));
    plist_dict_set_item(files, "Fonts/x.ttf", entry);
    plist_dict_set_item(dict, "files", files);
    char* bin = nullptr;
    uint32_t len = 0;
    plist_to_bin(dict, &bin, &len);
    auto job = parse_manifest(std::string(bin, len));
    free(bin);
    std::string xml = property_list_xml(dict);
    plist_free(dict);
    ASSERT_TRUE(job);
    EXPECT_EQ(job->id, "Library");
    EXPECT_EQ(job->keepSynced, true);
    EXPECT_EQ(job->files().at("Fonts/x.ttf").date, 1256220233);
    auto from_xml = parse_manifest(xml);
    ASSERT_TRUE(from_xml);
    EXPECT_EQ(from_xml->files().at("Fonts/x.ttf").date, 1256220233);
    // A key this program does not know survives a save.
    ASSERT_EQ(from_xml->other_keys_xml.size(), 1u);
    TempDir dir;
    std::string err;
    ASSERT_TRUE(write_manifest_file(dir / "L.plist", *from_xml, &err));
    auto reread = read_property_list_dictionary(dir / "L.plist");
    ASSERT_TRUE(reread);
    EXPECT_EQ(plist_dict_int(reread->get(), "extra"), 42);
}

TEST(ManifestFile, DropsKeysThatLeadOutsideTheArea) {
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><dict>"
        "<key>id</key><string>Users</string><key>files</key><dict>"
        "<key>/etc/passwd</key><dict/>"
        "<key>../../etc/</key><dict/>"
        "<key>jdoe/../../etc/shadow</key><dict/>"
        "<key></key><dict/>"
        "<key>a//b</key><dict/>"
        "<key>./</key><dict/>"
        "<key>jdoe/ok.txt</key><dict/>"
        "<key>jdoe/..hidden</key><dict/>"
        "</dict></dict></plist>";
    static int dropped;
    dropped = 0;
    auto job = parse_manifest(xml, [](const std::string&) { ++dropped; });
    ASSERT_TRUE(job);
    EXPECT_EQ(dropped, 6);
    EXPECT_EQ(job->files().size(), 2u);
    EXPECT_TRUE(job->files().count("jdoe/ok.txt"));
    EXPECT_TRUE(job->files().count("jdoe/..hidden"));
}

TEST(ManifestFile, MalformedFilesGiveNoJob) {
    for (const char* bad :
         {"", "garbage", "<plist version=\"1.0\"><array/></plist>",
          "<plist version=\"1.0\"><dict><key>id</key><string>x</string>", "bplist00garbage"}) {
        EXPECT_FALSE(parse_manifest(bad)) << bad;
    }
    // Cut off inside the value of a key this program does not know.
    EXPECT_FALSE(
        parse_manifest("<plist><dict><key>id</key><string>x</string><key>more</key><i>de"));
    // An external entity is never read in: the job holds nothing of the named file.
    auto job = parse_manifest(
        "<?xml version=\"1.0\"?><!DOCTYPE x [<!ENTITY e SYSTEM \"file:///etc/passwd\">]>"
        "<plist><dict><key>id</key><string>&e;</string></dict></plist>");
    ASSERT_TRUE(job);
    EXPECT_EQ(job->id.value_or(""), "");
    EXPECT_FALSE(read_manifest_file("/nonexistent/x.plist"));
}

TEST(ManifestFile, WrongTypesAreLeftOut) {
    auto job = parse_manifest(
        "<plist version=\"1.0\"><dict><key>id</key><integer>3</integer>"
        "<key>keepSynced</key><string>yes</string><key>files</key><string>x</string>"
        "</dict></plist>");
    ASSERT_TRUE(job);
    EXPECT_FALSE(job->id);
    EXPECT_FALSE(job->keepSynced);
    EXPECT_FALSE(job->files_);
}

TEST(ManifestFile, NamesThatXmlCannotHoldAreKeptEscaped) {
    SyncJob job = sample_job();
    job.files()[std::string("bad\x01name")].date = 7;
    job.files()[std::string("latin\xe9")];
    job.files()[std::string("lit\\#351")];
    TempDir dir;
    std::string err;
    ASSERT_TRUE(write_manifest_file(dir / "m.plist", job, &err));
    std::string text = read_file(dir / "m.plist");
    EXPECT_NE(text.find("<key>latin\\#351</key>"), std::string::npos) << text;
    EXPECT_NE(text.find("<key>Caf\xc3\xa9.app/</key>"), std::string::npos) << text;
    auto back = read_manifest_file(dir / "m.plist");
    ASSERT_TRUE(back);
    ASSERT_EQ(back->files().size(), job.files().size());
    for (const auto& [path, entry] : job.files())
        EXPECT_EQ(back->files()[path].date, entry.date) << path;
    // libplist, another reader, reads the file too.
    EXPECT_TRUE(read_property_list_dictionary(dir / "m.plist"));
}

// Another property-list reader finds what was written (escaped names, dates,
// empty entries), with the paths in byte order, the order loading expects.
TEST(ManifestFile, AnotherReaderFindsEveryPathInByteOrder) {
    SyncJob job;
    job.id = "Users";
    job.keepSynced = true;
    job.files()["b&<>\"'"].date = 1256220233;
    job.files()["a/"];
    job.files()["a/x"].date = 0;
    TempDir dir;
    std::string err;
    ASSERT_TRUE(write_manifest_file(dir / "m.plist", job, &err)) << err;
    auto root = read_property_list_dictionary(dir / "m.plist");
    ASSERT_TRUE(root);
    EXPECT_EQ(plist_dict_string(root->get(), "id"), "Users");
    EXPECT_EQ(plist_dict_bool(root->get(), "keepSynced"), true);
    plist_t files = plist_dict_get_item(root->get(), "files");
    ASSERT_EQ(plist_get_node_type(files), PLIST_DICT);
    const std::vector<std::string> keys = vynd::test::plist_keys(files);
    EXPECT_EQ(keys, (std::vector<std::string>{"a/", "a/x", "b&<>\"'"}));
    EXPECT_EQ(plist_dict_get_size(plist_dict_get_item(files, "a/")), 0u);
    auto seconds = [&](const char* path) {
        plist_t date = plist_dict_get_item(plist_dict_get_item(files, path), "date");
        EXPECT_EQ(plist_get_node_type(date), PLIST_DATE) << path;
        int32_t sec = 0, usec = 0;
        plist_get_date_val(date, &sec, &usec);
        return sec + 978307200LL;  // libplist counts from 2001
    };
    EXPECT_EQ(seconds("a/x"), 0);
    EXPECT_EQ(seconds("b&<>\"'"), 1256220233);
}

// A written manifest is read by the quick reader; the same document with a
// comment in it goes to the general XML reader. Both must read the same job.
TEST(ManifestFile, BothReadersReadTheSameJob) {
    SyncJob job = sample_job();
    job.files()["tab\there"].date = 7;
    job.files()["\xf0\x9f\x93\x81 folder/"].date = 8;
    job.files()["]]x"];
    TempDir dir;
    std::string err;
    ASSERT_TRUE(write_manifest_file(dir / "m.plist", job, &err)) << err;
    std::string plain = read_file(dir / "m.plist");
    std::string general = plain;
    general.insert(general.find("<plist"), "<!-- edited by hand -->\n");
    auto a = parse_manifest(plain);
    auto b = parse_manifest(general);
    ASSERT_TRUE(a);
    ASSERT_TRUE(b);
    for (const auto* j : {&*a, &*b}) {
        EXPECT_EQ(j->id, job.id);
        EXPECT_EQ(j->perms, job.perms);
        EXPECT_EQ(j->group, job.group);
        EXPECT_EQ(j->setPerm, job.setPerm);
        EXPECT_EQ(j->keepSynced, job.keepSynced);
        ASSERT_TRUE(j->files_);
        ASSERT_EQ(j->files_->size(), job.files_->size());
        for (const auto& [path, entry] : *job.files_) {
            ASSERT_TRUE(j->files_->count(path)) << path;
            EXPECT_EQ(j->files_->at(path).date, entry.date) << path;
            EXPECT_EQ(j->files_->at(path).other_keys_xml, "") << path;
        }
    }
}

// A manifest far larger than one piece of the writer, and than the steps in
// which the reader gives back the pages it read, reads back whole, also when
// the quick reader declines only at its end; libplist agrees with its layout.
TEST(ManifestFile, LargeManifestIsWrittenWhole) {
    SyncJob job = sample_job();
    for (int i = 0; i < 20000; ++i)
        job.files()["Big.app/Contents/Resources/file-" + std::to_string(i)].date = 1256220000 + i;
    TempDir dir;
    std::string err;
    ASSERT_TRUE(write_manifest_file(dir / "m.plist", job, &err)) << err;
    std::string commented = read_file(dir / "m.plist");
    commented.insert(commented.rfind("</plist>"), "<!-- kept -->");
    std::ofstream(dir / "c.plist") << commented;
    for (const char* name : {"m.plist", "c.plist"}) {
        auto back = read_manifest_file(dir / name);
        ASSERT_TRUE(back && back->files_) << name;
        ASSERT_EQ(back->files_->size(), job.files_->size()) << name;
        for (const auto& [path, entry] : *job.files_)
            ASSERT_EQ(back->files_->at(path).date, entry.date) << name << " " << path;
        EXPECT_EQ(back->srcPath, job.srcPath);
    }
    auto tree = read_property_list_dictionary(dir / "m.plist", kMaxManifestSize);
    ASSERT_TRUE(tree);
    EXPECT_EQ(plist_dict_get_size(plist_dict_get_item(tree->get(), "files")), job.files_->size());
}

// A save of what the file already holds leaves the file alone; a change
// anywhere, the last entry's date or the file's own end included, rewrites it.
TEST(ManifestFile, UpdateRewritesOnlyWhatChanged) {
    SyncJob job = sample_job();
    for (int i = 0; i < 3000; ++i)  // several pieces of the writer
        job.files()["Big.app/f" + std::to_string(i)].date = 1256220000;
    TempDir dir;
    const std::string path = dir / "m.plist";
    std::string err;
    bool rewritten = false;
    ASSERT_TRUE(update_manifest_file(path, job, &rewritten, &err)) << err;
    EXPECT_TRUE(rewritten);  // no file yet
    auto inode = [&] {
        struct stat st {};
        stat(path.c_str(), &st);
        return st.st_ino;
    };
    const ino_t first = inode();
    auto loaded = read_manifest_file(path);
    ASSERT_TRUE(loaded);
    ASSERT_TRUE(update_manifest_file(path, *loaded, &rewritten, &err)) << err;
    EXPECT_FALSE(rewritten);
    EXPECT_EQ(inode(), first);

    loaded->files().rbegin()->second.date = 1256220001;
    ASSERT_TRUE(update_manifest_file(path, *loaded, &rewritten, &err)) << err;
    EXPECT_TRUE(rewritten);
    EXPECT_NE(inode(), first);
    EXPECT_EQ(read_manifest_file(path)->files().rbegin()->second.date, 1256220001);

    const std::string whole = read_file(path);
    std::ofstream(path, std::ios::app) << "\n";
    ASSERT_TRUE(update_manifest_file(path, *loaded, &rewritten, &err)) << err;
    EXPECT_TRUE(rewritten);
    EXPECT_EQ(read_file(path), whole);
    loaded->owner = "daemon";
    ASSERT_TRUE(update_manifest_file(path, *loaded, &rewritten, &err)) << err;
    EXPECT_TRUE(rewritten);
    EXPECT_EQ(read_manifest_file(path)->owner, "daemon");
}

// The quick reader takes only the prolog that property-list writers write;
// a damaged declaration or document type is no manifest at all.
TEST(ManifestFile, APrologOutOfShapeIsNoManifest) {
    TempDir dir;
    std::string err;
    ASSERT_TRUE(write_manifest_file(dir / "m.plist", sample_job(), &err)) << err;
    const std::string written = read_file(dir / "m.plist");
    EXPECT_TRUE(parse_plain_manifest(written));
    std::string one_line = written;
    one_line.replace(one_line.find("\nPUBLIC"), 1, " ");
    EXPECT_TRUE(parse_plain_manifest(one_line));

    for (auto [good, bad] : std::initializer_list<std::pair<const char*, const char*>>{
             {"encoding", "encngoid"},
             {"version=\"1.0\"", "version=\"1.0\" encoding=\"UTF-8\""},
             {" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\"", ""},
             {"PUBLIC", "PUBLI"}}) {
        std::string doc = written;
        doc.replace(doc.find(good), std::string_view(good).size(), bad);
        EXPECT_FALSE(parse_plain_manifest(doc)) << bad;
        EXPECT_FALSE(parse_manifest(doc)) << bad;
    }
}

TEST(ManifestFile, StorableTextIsCheckedAtEveryPosition) {
    for (size_t len = 0; len < 40; ++len) {
        std::string good(len, 'a');
        EXPECT_TRUE(is_storable_text(good)) << len;
        for (size_t at = 0; at < len; ++at) {
            for (char bad : {'\x01', '\x1f', '\xff', '\x80', '\0'}) {
                std::string s = good;
                s[at] = bad;
                EXPECT_FALSE(is_storable_text(s)) << len << " " << at << " " << int(bad);
            }
            for (char fine : {' ', '~', '\x7f', '\t', '\n'}) {
                std::string s = good;
                s[at] = fine;
                EXPECT_TRUE(is_storable_text(s)) << len << " " << at << " " << int(fine);
            }
        }
    }
    EXPECT_TRUE(is_storable_text("Caf\xc3\xa9 and more than eight bytes"));
    EXPECT_FALSE(is_storable_text("more than eight bytes, then \xc3"));
}

TEST(RsyncCommand, MatchesTheDesignedTextByteForByte) {
    const Share share;
    SyncJob app;
    app.id = "Applications";
    app.keepSynced = false;
    app.setPerm = true;
    EXPECT_EQ(
        rsyncWithOptions(app, share, 0) + " \"/Volumes/Deploy/Applications/\" \"/Applications/\"",
        "rsync --out-format=\"%t %i %n\" -ii -rltD -T \"/var/db/vynd/Applications\" "
        "--bwlimit=0  --exclude-from=\"/var/db/vynd/Applications.exclude\"  "
        "--delay-updates --no-devices --no-specials \"/Volumes/Deploy/Applications/\" "
        "\"/Applications/\"");
    SyncJob lib;
    lib.id = "Library";
    lib.keepSynced = true;
    lib.setPerm = true;
    RsyncCommand command = rsync_options(lib, share, 0);
    command.add_lent_folder(3, "/Volumes/Deploy/Library/");
    command.add_quoted("", "/var/db/vynd/Library/");
    EXPECT_EQ(command.text(),
              "rsync --out-format=\"%t %i %n\" -ii -rltD -T \"/var/db/vynd/Library\" --bwlimit=0  "
              "  --delay-updates --no-devices --no-specials \"/Volumes/Deploy/Library/\" "
              "\"/var/db/vynd/Library/\"");
    EXPECT_EQ(command.arguments().end()[-2], "/proc/self/fd/3/");
    // Users and Packages keep no owner of the share, even for a moment: no -pgo.
    SyncJob users;
    users.id = "Users";
    users.keepSynced = true;
    users.setPerm = false;
    EXPECT_EQ(rsyncWithOptions(users, share, 0),
              "rsync --out-format=\"%t %i %n\" -ii -rltD -T \"/var/db/vynd/Users\" --bwlimit=0    "
              "--delay-updates --no-devices --no-specials");
    SyncJob pkg;
    pkg.id = "Packages";
    pkg.keepSynced = true;
    pkg.setPerm = false;
    EXPECT_EQ(rsyncWithOptions(pkg, share, 0) +
                  " \"/Volumes/Deploy/Packages/Foo.pkg\" \"/var/db/vynd/Packages/\"",
              "rsync --out-format=\"%t %i %n\" -ii -rltD -T \"/var/db/vynd/Packages\" --bwlimit=0  "
              "  --delay-updates --no-devices --no-specials "
              "\"/Volumes/Deploy/Packages/Foo.pkg\" \"/var/db/vynd/Packages/\"");
    EXPECT_EQ(rsync_options(pkg, share, 100).arguments(),
              (std::vector<std::string>{"/usr/bin/rsync", "--out-format=%t %i %n", "-ii", "-rltD",
                                        "-T", "/var/db/vynd/Packages", "--bwlimit=100",
                                        "--delay-updates", "--no-devices", "--no-specials"}));
}

TEST(RsyncCommand, SharesWhoseModesTheHelperMakesUpMirrorWithItsDefaults) {
    // They are mounted for root alone; what is mirrored must not be.
    SyncJob lib;
    lib.id = "Library";
    lib.keepSynced = true;
    lib.setPerm = false;
    Share share;
    for (auto [host, modes] : {std::pair{"smb://server/Deploy", "--chmod=D0755,F0755"},
                               std::pair{"davs://server/dav", "--chmod=D0755,F0644"}}) {
        share.mountURL = parse_share_url(host);
        auto argv = rsync_options(lib, share, 0).arguments();
        auto pgo = std::find(argv.begin(), argv.end(), "-pgo");
        ASSERT_LT(pgo + 1, argv.end());
        EXPECT_EQ(pgo[1], modes);
        EXPECT_NE(rsyncWithOptions(lib, share, 0).find(std::string(" -pgo ") + modes + " --delay"),
                  std::string::npos);
    }
    share.mountURL = parse_share_url("sftp://server/deploy");
    auto argv = rsync_options(lib, share, 0).arguments();
    EXPECT_EQ(std::find(argv.begin(), argv.end(), "-pgo")[1], "--delay-updates");
    lib.setPerm = true;
    share.mountURL = parse_share_url("smb://server/Deploy");
    EXPECT_EQ(rsyncWithOptions(lib, share, 0).find("--chmod"), std::string::npos);
}

TEST(SyncJob, JoinsPathsAsComponents) {
    EXPECT_EQ(join_path("/Applications", "Foo.app/"), "/Applications/Foo.app");
    EXPECT_EQ(join_path("/Volumes/Deploy/", "Users"), "/Volumes/Deploy/Users");
    EXPECT_EQ(join_path("/Applications", ""), "/Applications");
}
