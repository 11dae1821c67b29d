// Property-list files: reading either encoding, writing XML atomically.
#include "platform/property_list.h"

#include <fcntl.h>
#include <unistd.h>

#include <limits>

#include "platform/bounded_read.h"

namespace vynd {

std::optional<Plist> parse_property_list(const std::string& bytes) {
    if (bytes.empty() || bytes.size() > std::numeric_limits<uint32_t>::max())
        return std::nullopt;
    plist_t root = nullptr;
    plist_from_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), &root);
    if (!root)
        return std::nullopt;
    Plist tree(root);
    // libplist takes a zero byte into a key or string (raw in XML, or from a
    // binary list) and then fails an assertion, ending the program, when
    // one is read. Its XML form copies keys and strings byte for byte, so
    // the zero byte shows there.
    if (property_list_xml(root).find('\0') != std::string::npos)
        return std::nullopt;
    return tree;
}

std::optional<Plist> read_property_list(const std::string& path, uint64_t limit,
                                        std::string* too_large, const char* what) {
    // O_NONBLOCK: a FIFO in the file's place must not hold the reader up.
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    std::string bytes;
    BoundedRead read = read_bounded(fd, limit, &bytes);
    close(fd);
    if (read == BoundedRead::too_large && too_large)
        *too_large = too_large_message(path, limit, what);
    if (read != BoundedRead::ok)
        return std::nullopt;
    return parse_property_list(bytes);
}

std::optional<Plist> read_property_list_dictionary(const std::string& path, uint64_t limit,
                                                   std::string* too_large, const char* what) {
    auto root = read_property_list(path, limit, too_large, what);
    if (!root || plist_get_node_type(root->get()) != PLIST_DICT)
        return std::nullopt;
    return root;
}

std::string property_list_xml(plist_t node) {
    char* xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(node, &xml, &length);
    std::string out = xml ? std::string(xml, length) : std::string();
    if (xml)
        plist_to_xml_free(xml);
    return out;
}

bool write_property_list_atomically(const std::string& path, plist_t node, std::string* err,
                                    unsigned mode) {
    std::string xml = property_list_xml(node);
    if (xml.empty()) {
        if (err)
            *err = "cannot encode property list for " + path;
        return false;
    }
    return write_file_atomically(path, xml, err, mode);
}

std::optional<std::string> plist_string(plist_t node) {
    if (!node || plist_get_node_type(node) != PLIST_STRING)
        return std::nullopt;
    // libplist's copying getter asserts, ending the program, on a zero byte.
    uint64_t length = 0;
    const char* value = plist_get_string_ptr(node, &length);
    if (!value)
        return std::string();
    std::string out(value, length);
    if (out.find('\0') != std::string::npos)
        return std::nullopt;
    return out;
}

std::optional<std::string> plist_dict_string(plist_t dict, const char* key) {
    return plist_string(dict ? plist_dict_get_item(dict, key) : nullptr);
}

std::optional<bool> plist_dict_bool(plist_t dict, const char* key) {
    plist_t node = dict ? plist_dict_get_item(dict, key) : nullptr;
    if (!node || plist_get_node_type(node) != PLIST_BOOLEAN)
        return std::nullopt;
    uint8_t value = 0;
    plist_get_bool_val(node, &value);
    return value != 0;
}

std::optional<int64_t> plist_dict_int(plist_t dict, const char* key) {
    plist_t node = dict ? plist_dict_get_item(dict, key) : nullptr;
    if (!node || plist_get_node_type(node) != PLIST_UINT)
        return std::nullopt;
    uint64_t value = 0;
    plist_get_uint_val(node, &value);
    return static_cast<int64_t>(value);
}

}  // namespace vynd
