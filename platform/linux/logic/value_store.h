// The text of the store that stands in for the registry on Linux: one line per key below the
// local-machine root, "HKEY_LOCAL_MACHINE\<key path>", a tab and the key's default value. Key
// paths compare without regard to letter case, as the registry compares them.
#pragma once

#include <string>
#include <string_view>
#include <utility>

namespace platform::store {

// A key path the store can hold: not empty, and no control character (a tab or a line end would
// break the store's lines).
bool is_storable(std::string_view text);

// `*updated` becomes `text` with the default value of `key` set to `value`: the key's line
// replaced where it stands (the key keeping its name), or added at the end. False, and `*updated`
// untouched, when `text` is not a store (a line without the root prefix and a tab, or no line end
// at the end) or `key` or `value` cannot be stored; an empty value can.
bool set_default_value(std::string_view text, std::string_view key, std::string_view value,
                       std::string* updated);

}  // namespace platform::store
