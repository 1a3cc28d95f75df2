#include "testing/wine/touchpad_driver/bus_client.h"

#include <windows.h>

#include <cstring>
#include <cwchar>

namespace touchpad_control {

namespace {

HANDLE open_bus() {
  return CreateFileW(kUserPath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                     nullptr, OPEN_EXISTING, 0, nullptr);
}

}  // namespace

bool bus_answers() {
  HANDLE bus = open_bus();
  if (bus == INVALID_HANDLE_VALUE) return false;
  CloseHandle(bus);
  return true;
}

bool ask(uint32_t code, const void* in, uint32_t in_size, std::vector<char>* out, uint32_t room) {
  HANDLE bus = open_bus();
  if (bus == INVALID_HANDLE_VALUE) return false;
  out->assign(room, 0);
  DWORD got = 0;
  BOOL ok =
      DeviceIoControl(bus, code, const_cast<void*>(in), in_size, out->data(), room, &got, nullptr);
  CloseHandle(bus);
  out->resize(ok ? got : 0);
  return ok != FALSE;
}

bool set_up(const std::string& options, bool* accepted, std::string* why) {
  std::vector<char> out;
  SetUpAnswer answer;
  if (!ask(kSetUp, options.data(), static_cast<uint32_t>(options.size()), &out) ||
      out.size() < sizeof answer) {
    return false;
  }
  std::memcpy(&answer, out.data(), sizeof answer);
  *accepted = answer.accepted != 0;
  why->assign(out.begin() + sizeof answer, out.end());
  return true;
}

bool node_call(const wchar_t* instance_id, NodeCall call, NodeAnswer* answer) {
  NodeRequest request;
  request.call = call;
  size_t length = std::wcslen(instance_id);
  if (length >= kInstanceIdChars) return false;
  std::memcpy(request.instance_id, instance_id, length * sizeof(wchar_t));
  std::vector<char> out;
  if (!ask(kNode, &request, sizeof request, &out) || out.size() != sizeof *answer) return false;
  std::memcpy(answer, out.data(), sizeof *answer);
  return true;
}

bool transport_state(TransportState* state) {
  std::vector<char> out;
  if (!ask(kState, nullptr, 0, &out) || out.size() != sizeof *state) return false;
  std::memcpy(state, out.data(), sizeof *state);
  return true;
}

Settled wait_until_settled(uint32_t ms, bool (*shown)(const TransportState&),
                           TransportState* last) {
  constexpr uint32_t kPollMs = 20;
  TransportState unused;
  TransportState* state = last != nullptr ? last : &unused;
  for (uint32_t waited = 0;; waited += kPollMs) {
    if (!transport_state(state)) return Settled::kNoBus;
    if (!state->settling && (shown == nullptr || shown(*state))) return Settled::kSettled;
    if (waited >= ms) return Settled::kTimedOut;
    Sleep(kPollMs);
  }
}

}  // namespace touchpad_control
