// The windowed backend: message boxes and dialogs as FLTK windows on the X
// display. Everything runs on the caller's thread; a box or a dialog waiting
// for its button runs the toolkit's event loop until it is pressed.
#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Return_Button.H>
#include <FL/fl_draw.H>
#include <FL/x.H>
#include <X11/Xlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "../src/gui_backend.h"
#include "winport/dialog.h"

namespace {

constexpr Fl_Font kFont = FL_HELVETICA;
constexpr int kFontSize = 14;
constexpr double kDrawWait = 5.0;  // seconds a new window may take to appear
constexpr int kMargin = 14;
constexpr int kIconSide = 36;
constexpr int kButtonWidth = 84;
constexpr int kButtonHeight = 28;
constexpr int kButtonGap = 8;
constexpr int kMaxTextWidth = 440;
constexpr int kLabelInset = 8;

// A display that goes away leaves nobody to answer: the program stops the
// way it does when the terminal's input is closed.
[[noreturn]] void displayLost(const char* why) {
  std::fprintf(stderr, "The display was lost (%s); a box or dialog waits for an answer that "
               "nobody can give. The program stops.\n", why);
  std::fflush(nullptr);
  _exit(WINPORT_UNANSWERED_EXIT_STATUS);
}

int onIoError(Display*) { displayLost("the connection to the X server ended"); }

void onFatal(const char* format, ...) { displayLost(format); }

// A top-level window that notes when it has been drawn and what closing it means.
class BoxWindow : public Fl_Double_Window {
 public:
  BoxWindow(int x, int y, int width, int height) : Fl_Double_Window(x, y, width, height) {
    callback(&BoxWindow::onClose, this);
  }
  void draw() override {
    Fl_Double_Window::draw();
    drawn = true;
  }
  bool drawn = false;
  int pressed = -1;       // the answer once given
  int closeAnswer = -1;   // what closing the window answers; -1: refused

 private:
  static void onClose(Fl_Widget*, void* self) {
    BoxWindow* window = static_cast<BoxWindow*>(self);
    if (window->closeAnswer >= 0) window->pressed = window->closeAnswer;
  }
};

struct Press {
  BoxWindow* window;
  int answer;
};

void onButton(Fl_Widget*, void* data) {
  Press* press = static_cast<Press*>(data);
  press->window->pressed = press->answer;
}

// Shows `window` and returns once it is on the screen, so that what the
// program does next (maybe a long blocking call) happens under a drawn window.
void showAndDraw(BoxWindow& window) {
  if (!window.shown()) {
    window.drawn = false;
    window.show();
  } else {
    window.redraw();
  }
  for (double waited = 0; !window.drawn && waited < kDrawWait; waited += 0.02) Fl::wait(0.02);
  window.drawn = false;
  Fl::check();
  Fl::flush();
  XSync(fl_display, False);
}

int waitForPress(BoxWindow& window) {
  window.pressed = -1;
  while (window.pressed < 0) {
    if (Fl::wait() < 0) displayLost("the event loop failed");
  }
  return window.pressed;
}

// A text as a label shows it: FLTK reads "@" as the start of a symbol, "@@" as "@".
std::string labelOf(const char* text) {
  std::string label;
  for (const char* c = text != nullptr ? text : ""; *c != '\0'; ++c) {
    label += *c;
    if (*c == '@') label += '@';
  }
  return label;
}

void centre(Fl_Window& window) {
  int x, y, width, height;
  Fl::screen_xywh(x, y, width, height);
  window.position(x + std::max(0, (width - window.w()) / 2),
                  y + std::max(0, (height - window.h()) / 2));
}

// ---- message boxes ----

// The box's icon: a coloured disc with its sign, as message boxes have.
class IconWidget : public Fl_Widget {
 public:
  IconWidget(int x, int y, const char* kind) : Fl_Widget(x, y, kIconSide, kIconSide), kind_(kind) {}
  void draw() override {
    Fl_Color colour = FL_BLUE;
    const char* sign = "i";
    if (std::strcmp(kind_, "error") == 0) colour = FL_RED, sign = "X";
    if (std::strcmp(kind_, "question") == 0) colour = fl_rgb_color(40, 100, 200), sign = "?";
    if (std::strcmp(kind_, "warning") == 0) colour = fl_rgb_color(230, 170, 0), sign = "!";
    fl_color(colour);
    fl_pie(x(), y(), w(), h(), 0, 360);
    fl_color(FL_WHITE);
    fl_font(kFont | FL_BOLD, 22);
    fl_draw(sign, x(), y(), w(), h(), FL_ALIGN_CENTER);
  }

 private:
  const char* kind_;
};

int showMessageBox(const WinportGuiBox* box) {
  bool icon = std::strcmp(box->icon, "none") != 0;
  const std::string label = labelOf(box->text);
  fl_font(kFont, kFontSize);
  int textWidth = kMaxTextWidth, textHeight = 0;
  fl_measure(label.c_str(), textWidth, textHeight, 1);
  // A label is drawn a few pixels inside its box: room for that, so that the
  // measured lines are the lines drawn.
  textWidth = std::max(textWidth + kLabelInset, 120);
  // A text taller than the screen is cut, so that the buttons stay on it.
  int screenX, screenY, screenWidth, screenHeight;
  Fl::screen_xywh(screenX, screenY, screenWidth, screenHeight);
  textHeight = std::clamp(textHeight, icon ? kIconSide : 20,
                          std::max(20, screenHeight - kButtonHeight - 6 * kMargin));
  int buttonsWidth = box->buttonCount * kButtonWidth + (box->buttonCount - 1) * kButtonGap;
  int textLeft = kMargin + (icon ? kIconSide + kMargin : 0);
  int width = std::max(textLeft + textWidth + kMargin, buttonsWidth + 2 * kMargin);
  int height = kMargin + textHeight + kMargin + kButtonHeight + kMargin;

  BoxWindow window(0, 0, width, height);
  window.copy_label(box->caption);
  window.closeAnswer = box->closeAnswer;
  if (icon) new IconWidget(kMargin, kMargin, box->icon);
  Fl_Box* text = new Fl_Box(textLeft, kMargin, textWidth, textHeight);
  text->copy_label(label.c_str());
  text->labelfont(kFont);
  text->labelsize(kFontSize);
  text->align(FL_ALIGN_LEFT | FL_ALIGN_TOP | FL_ALIGN_INSIDE | FL_ALIGN_WRAP);
  std::vector<Press> presses(static_cast<size_t>(box->buttonCount));
  int left = (width - buttonsWidth) / 2, top = height - kMargin - kButtonHeight;
  for (int i = 0; i < box->buttonCount; ++i) {
    // The first button is the default one: Enter presses it.
    Fl_Button* button = i == 0 ? new Fl_Return_Button(left, top, kButtonWidth, kButtonHeight)
                               : new Fl_Button(left, top, kButtonWidth, kButtonHeight);
    button->copy_label(labelOf(box->buttons[i].label).c_str());
    presses[static_cast<size_t>(i)] = Press{&window, i};
    button->callback(onButton, &presses[static_cast<size_t>(i)]);
    left += kButtonWidth + kButtonGap;
  }
  window.end();
  window.set_modal();
  centre(window);
  showAndDraw(window);
  int answer = waitForPress(window);
  window.hide();
  Fl::check();
  return answer;
}

// ---- dialogs ----

// A picture area: draws what was painted into it at its place, clipped to it.
class PictureWidget : public Fl_Widget {
 public:
  PictureWidget(int x, int y, int width, int height) : Fl_Widget(x, y, width, height) {}
  void set(const WinportGuiPicture& picture) {
    if (picture.rgb == nullptr || picture.width <= 0 || picture.height <= 0) {
      pixels_.clear();
      return;
    }
    size_t bytes = static_cast<size_t>(picture.width) * static_cast<size_t>(picture.height) * 3;
    pixels_.assign(picture.rgb, picture.rgb + bytes);
    picture_ = picture;
    redraw();
  }
  void draw() override {
    if (pixels_.empty()) return;
    fl_push_clip(x(), y(), w(), h());
    fl_draw_image(pixels_.data(), x() + picture_.x, y() + picture_.y, picture_.width,
                  picture_.height, 3);
    fl_pop_clip();
  }

 private:
  std::vector<uint8_t> pixels_;
  WinportGuiPicture picture_{};
};

struct DialogWindow {
  std::unique_ptr<BoxWindow> window;
  std::vector<Fl_Widget*> controls;  // in the order of the dialog's controls
  std::vector<Press> presses;
};

Fl_Widget* makeControl(const WinportGuiControl& control, DialogWindow& dialog, size_t index) {
  if (control.kind == DIALOG_CONTROL_PICTURE)
    return new PictureWidget(control.x, control.y, control.width, control.height);
  if (control.kind == DIALOG_CONTROL_BUTTON) {
    Fl_Button* button = new Fl_Button(control.x, control.y, control.width, control.height);
    dialog.presses[index] = Press{dialog.window.get(), control.id};
    button->callback(onButton, &dialog.presses[index]);
    return button;
  }
  Fl_Box* text = new Fl_Box(control.x, control.y, control.width, control.height);
  text->align(FL_ALIGN_LEFT | FL_ALIGN_TOP | FL_ALIGN_INSIDE | FL_ALIGN_WRAP);
  return text;
}

void updateDialog(DialogWindow& dialog, const WinportGuiDialog& view) {
  BoxWindow& window = *dialog.window;
  if (window.label() == nullptr || std::strcmp(window.label(), view.title) != 0)
    window.copy_label(view.title);
  if (window.x() != view.x || window.y() != view.y) window.position(view.x, view.y);
  window.closeAnswer = view.closeAnswer;
  size_t count = std::min(dialog.controls.size(), static_cast<size_t>(view.controlCount));
  for (size_t i = 0; i < count; ++i) {
    const WinportGuiControl& control = view.controls[i];
    Fl_Widget* widget = dialog.controls[i];
    widget->resize(control.x, control.y, control.width, control.height);
    if (control.kind == DIALOG_CONTROL_PICTURE) {
      static_cast<PictureWidget*>(widget)->set(control.picture);
    } else if (std::string label = labelOf(control.text);
               widget->label() == nullptr || label != widget->label()) {
      widget->copy_label(label.c_str());
    }
    if (control.visible != 0) {
      widget->show();
    } else {
      widget->hide();
    }
  }
  window.redraw();
}

void* openDialog(const WinportGuiDialog* view) {
  auto dialog = std::make_unique<DialogWindow>();
  dialog->window = std::make_unique<BoxWindow>(view->x, view->y, view->width, view->height);
  dialog->presses.resize(static_cast<size_t>(view->controlCount));
  for (int i = 0; i < view->controlCount; ++i) {
    Fl_Widget* widget = makeControl(view->controls[i], *dialog, static_cast<size_t>(i));
    widget->labelfont(kFont);
    widget->labelsize(kFontSize);
    dialog->controls.push_back(widget);
  }
  dialog->window->end();
  dialog->window->set_modal();
  dialog->window->size_range(view->width, view->height, view->width, view->height);
  updateDialog(*dialog, *view);
  return dialog.release();
}

void showDialog(void* handle, const WinportGuiDialog* view) {
  DialogWindow& dialog = *static_cast<DialogWindow*>(handle);
  updateDialog(dialog, *view);
  showAndDraw(*dialog.window);
}

int waitForDialogButton(void* handle) {
  return waitForPress(*static_cast<DialogWindow*>(handle)->window);
}

void closeDialog(void* handle) {
  std::unique_ptr<DialogWindow> dialog(static_cast<DialogWindow*>(handle));
  dialog->window->hide();
  Fl::check();
  XSync(fl_display, False);
}

void desktopSize(int* width, int* height) {
  int x, y;
  Fl::screen_xywh(x, y, *width, *height);
}

const WinportGuiBackend kBackend{WINPORT_GUI_VERSION, desktopSize, showMessageBox, openDialog,
                                 showDialog, waitForDialogButton, closeDialog};

}  // namespace

extern "C" __attribute__((visibility("default"))) const WinportGuiBackend* winport_gui_backend(
    char* why, int whySize) {
  // Opened here, so that a display that cannot be reached is a reason to
  // fall back, never the toolkit's own exit.
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) {
    const char* name = std::getenv("DISPLAY");
    std::snprintf(why, static_cast<size_t>(whySize), "the display \"%s\" cannot be opened",
                  name != nullptr ? name : "");
    return nullptr;
  }
  fl_open_display(display);
  XSetIOErrorHandler(onIoError);
  Fl::fatal = onFatal;
  Fl::scheme("gtk+");
  return &kBackend;
}
