// Reads an area of the display as it shows now (X11), for the screenshot test.
#pragma once

#include <wx/gdicmn.h>
#include <wx/image.h>

namespace mailfold::test {

// The pixels of `area` (screen coordinates); an invalid image when the display cannot be read.
wxImage CaptureScreenArea(const wxRect& area);

}  // namespace mailfold::test
