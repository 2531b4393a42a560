// The terminal presenter: forms as full-screen dialogs and the message box as
// a centred box, drawn with curses when standard input and output are
// terminals.
#ifndef NCURSES_WIDECHAR
#define NCURSES_WIDECHAR 1
#endif
#include <curses.h>
#include <term.h>
#include <unistd.h>

#include <climits>
#include <clocale>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

#include "platform/Window.h"

namespace platform {
namespace {

// Windows-1252 bytes 0x80 to 0x9F as Unicode; 0 where the code page has no
// character. Every other byte is its own code point.
const wchar_t kHighControls[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                   0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                   0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                   0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

Key KeyOf(int ch) {
  switch (ch) {
    case KEY_UP:
      return Key::kUp;
    case KEY_DOWN:
      return Key::kDown;
    case KEY_PPAGE:
      return Key::kPageUp;
    case KEY_NPAGE:
      return Key::kPageDown;
    case KEY_HOME:
      return Key::kHome;
    case KEY_END:
      return Key::kEnd;
    case KEY_ENTER:
    case '\n':
    case '\r':
      return Key::kEnter;
    case ' ':
      return Key::kSpace;
    case 27:
      return Key::kEscape;
    case 'q':
    case 'Q':
      return Key::kQuit;
    default:
      return Key::kOther;
  }
}

class CursesPresenter : public Presenter {
 public:
  void BeginModal(Form&) override { started_.push_back(Start()); }

  void EndModal(Form&) override {
    const bool started = started_.back();
    started_.pop_back();
    if (started) Stop();
  }

  void WaitForInput(Form& form) override {
    if (!started_.back()) {
      plain_.WaitForInput(form);
      return;
    }
    Canvas screen(COLS, LINES);
    form.Present(screen);
    Show(screen);
    const int ch = getch();
    // No input any more (the terminal went away): close rather than spin.
    if (ch == ERR) {
      form.SetModalResult(ModalResult::kOk);
      return;
    }
    // A resize needs nothing more: the next round lays the form out anew.
    if (ch == KEY_RESIZE) return;
    form.HandleKey(KeyOf(ch));
  }

  void ShowMessageBox(const std::string& title, const std::string& text) override {
    if (!Start()) {
      plain_.ShowMessageBox(title, text);
      return;
    }
    for (;;) {
      Canvas screen(COLS, LINES);
      PaintMessageBox(title, text, screen);
      Show(screen);
      const int ch = getch();
      if (ch == ERR) break;
      const Key key = KeyOf(ch);
      if (key == Key::kEnter || key == Key::kSpace || key == Key::kEscape || key == Key::kQuit) {
        break;
      }
    }
    Stop();
  }

 private:
  // Takes over the terminal (nested calls share it); false when curses
  // cannot drive this terminal.
  bool Start() {
    if (sessions_ > 0) {
      ++sessions_;
      return true;
    }
    // The terminal's character set comes from the user's locale; it is set
    // only while curses runs, as nothing else may depend on the locale.
    const char* current = std::setlocale(LC_CTYPE, nullptr);
    savedLocale_ = current != nullptr ? current : "C";
    std::setlocale(LC_CTYPE, "");
    std::fflush(stdout);
    if (screen_ == nullptr) {
      screen_ = newterm(nullptr, stdout, stdin);
      if (screen_ != nullptr && !CanAddressCursor()) {
        endwin();
        delscreen(screen_);
        screen_ = nullptr;
      }
      if (screen_ == nullptr) {
        std::setlocale(LC_CTYPE, savedLocale_.c_str());
        return false;
      }
    } else {
      set_term(screen_);
    }
    cbreak();
    noecho();
    keypad(stdscr, TRUE);
    curs_set(0);
    set_escdelay(25);
    clearok(stdscr, TRUE);
    BuildCharacters();
    ++sessions_;
    return true;
  }

  // A terminal that cannot move its cursor (TERM=dumb) cannot show a
  // dialog; such a terminal gets the plain text instead.
  static bool CanAddressCursor() {
    char name[] = "cup";
    const char* move = tigetstr(name);
    // tigetstr gives -1, cast to a pointer, for a name that is no string capability.
    return move != nullptr && reinterpret_cast<std::intptr_t>(move) != -1;
  }

  void Stop() {
    if (--sessions_ > 0) return;
    endwin();
    std::setlocale(LC_CTYPE, savedLocale_.c_str());
  }

  // What each byte shows as on this terminal: its character, or "?" where
  // the terminal's character set has none.
  void BuildCharacters() {
    for (int byte = 0; byte < 256; ++byte) {
      wchar_t wide =
          byte >= 0x80 && byte < 0xA0 ? kHighControls[byte - 0x80] : static_cast<wchar_t>(byte);
      char encoded[MB_LEN_MAX];
      std::mbstate_t state;
      std::memset(&state, 0, sizeof state);
      if (wide == 0 || wcwidth(wide) != 1 ||
          std::wcrtomb(encoded, wide, &state) == static_cast<std::size_t>(-1)) {
        wide = L'?';
      }
      characters_[byte] = wide;
    }
  }

  void Show(const Canvas& screen) {
    for (int y = 0; y < screen.Height(); ++y) {
      for (int x = 0; x < screen.Width(); ++x) {
        const Cell& cell = screen.At(x, y);
        attr_t attributes = A_NORMAL;
        if ((cell.style & kStyleReverse) != 0) attributes |= A_REVERSE;
        if ((cell.style & kStyleBold) != 0) attributes |= A_BOLD;
        cchar_t shown;
        switch (cell.glyph) {
          case Glyph::kText: {
            const wchar_t text[2] = {characters_[static_cast<unsigned char>(cell.ch)], 0};
            setcchar(&shown, text, attributes, 0, nullptr);
            break;
          }
          case Glyph::kHorizontal:
            shown = *WACS_HLINE;
            break;
          case Glyph::kVertical:
            shown = *WACS_VLINE;
            break;
          case Glyph::kTopLeft:
            shown = *WACS_ULCORNER;
            break;
          case Glyph::kTopRight:
            shown = *WACS_URCORNER;
            break;
          case Glyph::kBottomLeft:
            shown = *WACS_LLCORNER;
            break;
          case Glyph::kBottomRight:
            shown = *WACS_LRCORNER;
            break;
          case Glyph::kThumb:
            shown = *WACS_CKBOARD;
            break;
        }
        if (cell.glyph != Glyph::kText) shown.attr |= attributes;
        // Writing the bottom-right cell reports an error on some terminals; it is drawn.
        mvadd_wch(y, x, &shown);
      }
    }
    refresh();
  }

  SCREEN* screen_ = nullptr;
  int sessions_ = 0;
  std::vector<bool> started_;
  std::string savedLocale_;
  wchar_t characters_[256] = {};
  TextPresenter plain_;
};

}  // namespace

Presenter& SystemPresenter() {
  static TextPresenter plain;
  static CursesPresenter terminal;
  if (isatty(STDIN_FILENO) != 0 && isatty(STDOUT_FILENO) != 0) return terminal;
  return plain;
}

}  // namespace platform
