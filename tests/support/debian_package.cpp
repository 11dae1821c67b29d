// Building small Debian packages for tests, with dpkg-deb.
#include "tests/support/debian_package.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/process.h"

namespace fs = std::filesystem;

namespace vynd::test {

bool build_debian_package(const std::string& output, const std::string& name,
                          const std::string& file, const std::string& content,
                          const std::string& postinst) {
    char tmpl[] = "/tmp/vynd-deb-XXXXXX";
    if (!mkdtemp(tmpl))
        return false;
    fs::path root = tmpl;
    fs::create_directories(root / "DEBIAN");
    fs::create_directories(root / "usr/share" / name);
    std::ofstream(root / "DEBIAN/control") << "Package: " << name
                                           << "\nVersion: 1.0\nArchitecture: all\n"
                                              "Maintainer: vynd tests <tests@vynd.invalid>\n"
                                              "Description: a package for tests\n";
    std::ofstream(root / "usr/share" / name / file) << content;
    if (!postinst.empty()) {
        std::ofstream(root / "DEBIAN/postinst") << "#!/bin/sh\nset -e\n" << postinst << "\n";
        chmod((root / "DEBIAN/postinst").c_str(), 0755);
    }
    int status = run_process(
        {"/usr/bin/dpkg-deb", "--root-owner-group", "-Zgzip", "--build", root.string(), output});
    fs::remove_all(root);
    return status == 0;
}

}  // namespace vynd::test
