// What Windows makes of the names on a path it is given whole. The log path is walked name by
// name, each opened in the directory held before it, and such an open takes a name as it is: a
// trailing dot stays, and "NUL" is an ordinary file. So the walk applies these rules itself,
// before it opens or creates anything.
#pragma once

#include <string>
#include <string_view>

namespace fwu {

// Whether Windows would take `name` for a device: NUL, CON, AUX, PRN, CONIN$, CONOUT$, COM0 to
// COM9 and LPT0 to LPT9 (also COM and LPT with a superscript 1, 2 or 3), in any case, with
// anything from its first dot or colon on and spaces before that left out ("nul.txt", "Con ",
// "com1 .log"). That is the widest reading any version of Windows has had: newer ones take fewer
// names for devices, none takes more.
bool is_device_name(std::string_view name);

// The name that `name`, one name of an ordinary path (not in the "\\?\" form; never "", "." or
// ".."), stands for: trailing dots and spaces dropped as Windows drops them, all of them from the
// `last` name (the file's), a single dot from a directory's name. False when nothing should be
// opened or created for it: a device's name; a stream (a colon in the name); a directory's name
// that still ends in a dot or a space (Windows would look for that name as it is, which its own
// directory creation never makes); a name of nothing but dots and spaces.
bool windows_name(std::string_view name, bool last, std::string* result);

// Whether `name`, one name of a path in the "\\?\" form, which Windows takes as it is, may be
// opened and created as it is: it is not empty, ends in no dot or space (so "." and ".." are
// refused, too), holds no colon and is no device's name. A name that Windows's ordinary reading
// would change is one that an administrator could hardly delete.
bool plain_name(std::string_view name);

}  // namespace fwu
