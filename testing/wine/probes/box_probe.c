/* Describes the message box whose caption is given on the command line, as another process sees
   it: its caption, whether it shows an icon, its texts and its buttons, one line each, with line
   breaks written as \n. Exit status 1 when no such box is open. */
#include <stdio.h>
#include <windows.h>

static void print_escaped(const wchar_t* label, const wchar_t* text) {
  printf("%ls: ", label);
  for (; *text != L'\0'; ++text) {
    if (*text == L'\n') {
      fputs("\\n", stdout);
    } else if (*text == L'\r') {
      fputs("\\r", stdout);
    } else if (*text < 0x80) {
      putchar((int)*text);
    } else {
      printf("\\u%04x", (unsigned)*text);
    }
  }
  putchar('\n');
}

/* Controls belong to the box's process: their text comes by message, not GetWindowText. */
static void window_text(HWND window, wchar_t* text, int size) {
  text[0] = L'\0';
  SendMessageW(window, WM_GETTEXT, (WPARAM)size, (LPARAM)text);
}

enum Kind { kIcon, kText, kButton };

/* One pass over the controls prints those of one kind, so the order of the output does not hang
   on the order in which the box's template creates them. (The icon itself is a handle of the
   box's process and cannot be compared from here; the screenshot shows which one it is.) */
static BOOL CALLBACK print_control(HWND control, LPARAM kind) {
  if (!IsWindowVisible(control)) return TRUE;
  wchar_t class_name[64];
  wchar_t text[1024];
  GetClassNameW(control, class_name, 64);
  BOOL is_static = lstrcmpiW(class_name, L"Static") == 0;
  BOOL is_icon = is_static && (GetWindowLongW(control, GWL_STYLE) & SS_TYPEMASK) == SS_ICON;
  if (kind == kIcon && is_icon) {
    printf("icon: %s\n", SendMessageW(control, STM_GETICON, 0, 0) != 0 ? "shown" : "empty");
  } else if ((kind == kText && is_static && !is_icon) ||
             (kind == kButton && lstrcmpiW(class_name, L"Button") == 0)) {
    window_text(control, text, 1024);
    print_escaped(kind == kText ? L"text" : L"button", text);
  }
  return TRUE;
}

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) return 2;
  HWND box = FindWindowW(L"#32770", argv[1]);
  if (box == NULL) return 1;
  wchar_t caption[256];
  window_text(box, caption, 256);
  print_escaped(L"caption", caption);
  EnumChildWindows(box, print_control, kIcon);
  EnumChildWindows(box, print_control, kText);
  EnumChildWindows(box, print_control, kButton);
  return 0;
}
