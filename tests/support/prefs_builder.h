// Settings dictionaries built in tests.
#pragma once

#include <plist/plist.h>

#include <cstdint>
#include <string>

namespace vynd::test {

// The share the end-to-end tests use: a folder of the sandbox, as a file URL.
inline constexpr const char* kShareFolder = "/Volumes/Share";
inline constexpr const char* kShareURL = "file:///Volumes/Share";

class PrefsBuilder {
  public:
    PrefsBuilder() : dict_(plist_new_dict()) {}
    ~PrefsBuilder() { plist_free(dict_); }
    PrefsBuilder(const PrefsBuilder&) = delete;
    PrefsBuilder& operator=(const PrefsBuilder&) = delete;

    PrefsBuilder& text(const char* key, const std::string& value) {
        plist_dict_set_item(dict_, key, plist_new_string(value.c_str()));
        return *this;
    }
    PrefsBuilder& flag(const char* key, bool value) {
        plist_dict_set_item(dict_, key, plist_new_bool(value));
        return *this;
    }
    PrefsBuilder& number(const char* key, int64_t value) {
        plist_dict_set_item(dict_, key, plist_new_uint(static_cast<uint64_t>(value)));
        return *this;
    }
    // Settings for the test share.
    PrefsBuilder& share() { return text("vynd_host", kShareURL); }
    plist_t get() const { return dict_; }

  private:
    plist_t dict_;
};

}  // namespace vynd::test
