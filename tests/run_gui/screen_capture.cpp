#include "screen_capture.h"

// Xlib's macros (None, Bool, Status, ...) clash with other headers: kept to this file.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace mailfold::test {

wxImage CaptureScreenArea(const wxRect& area) {
  Display* display = XOpenDisplay(nullptr);
  if (!display) return {};
  XImage* pixels = XGetImage(display, DefaultRootWindow(display), area.GetX(), area.GetY(),
                             static_cast<unsigned>(area.GetWidth()), static_cast<unsigned>(area.GetHeight()),
                             AllPlanes, ZPixmap);
  wxImage image;
  if (pixels) {
    image.Create(area.GetWidth(), area.GetHeight());
    for (int y = 0; y < area.GetHeight(); ++y) {
      for (int x = 0; x < area.GetWidth(); ++x) {
        const unsigned long pixel = XGetPixel(pixels, x, y);
        image.SetRGB(x, y, static_cast<unsigned char>((pixel & pixels->red_mask) >> 16),
                     static_cast<unsigned char>((pixel & pixels->green_mask) >> 8),
                     static_cast<unsigned char>(pixel & pixels->blue_mask));
      }
    }
    XDestroyImage(pixels);
  }
  XCloseDisplay(display);
  return image;
}

}  // namespace mailfold::test
