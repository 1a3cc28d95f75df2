// Message boxes and the background notice.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// Shows a modal message box with no owner window and returns the button pressed (the Windows
// IDYES, IDOK, ... values), or 0 when the box could not be shown. `style` is the Windows MB_ value.
int message_box(const std::u16string& caption, const std::u16string& text, uint32_t style);

struct Notice;  // a running background notice; defined by each backend

// Starts a thread that shows the `count` texts one after the other as information boxes
// (MB_ICONINFORMATION), each until the user clicks OK, and then ends. The texts must outlive the
// notice. Returns nullptr when the thread cannot be created.
Notice* start_notice(const std::u16string& caption, const std::u16string* texts, size_t count);

// Ends the notice at once, wherever it is: once this returns, no box of it is on the screen and
// it shows nothing more. Releases everything the notice held. A null notice is left alone.
void stop_notice(Notice* notice);

}  // namespace platform
