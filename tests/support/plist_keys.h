// The keys of a property list dictionary, in the order it holds them.
#pragma once

#include <plist/plist.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace vynd::test {

inline std::vector<std::string> plist_keys(plist_t dict) {
    std::vector<std::string> keys;
    if (plist_get_node_type(dict) != PLIST_DICT)
        return keys;
    plist_dict_iter it = nullptr;
    plist_dict_new_iter(dict, &it);
    for (;;) {
        char* key = nullptr;
        plist_t value = nullptr;
        plist_dict_next_item(dict, it, &key, &value);
        if (!key)
            break;
        keys.emplace_back(key);
        free(key);
    }
    free(it);
    return keys;
}

}  // namespace vynd::test
